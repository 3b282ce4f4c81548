// The final volume files of an archive's name grouped by member, each with
// what its first volume's header says: enough to tell which chain a file
// belongs to when a new base takes the name over, or when what a stopped
// run left is cleared away. Headers are read raw, without the password.
#ifndef QVBACKUP_STORAGE_MEMBER_FILES_H_
#define QVBACKUP_STORAGE_MEMBER_FILES_H_

#include <array>
#include <vector>

#include "storage/volume_names.h"

namespace qv::storage {

struct MemberFiles {
  DWORD increment = 0;
  bool split = false;     // named NAME....v.EXT
  bool readable = false;  // its first volume holds a header of ours
  std::array<BYTE, 16> identifier = {};
  ULONGLONG closingOffset = 0;  // 0: its run never ended
  std::vector<std::array<BYTE, 16>> replaced;  // a base's replaced archives
  std::vector<WString> paths;   // every volume file, the first one included
};

// Groups the files of `files` that are in their final place.
std::vector<MemberFiles> GroupMembers(const std::vector<ArchiveFile>& files);

// Whether member `member` of `members` is part of a chain whose base is in
// `members` too: same identifier as such a base, and every lower increment
// of its naming present with that identifier.
bool IsInChain(const std::vector<MemberFiles>& members, const MemberFiles& member);

// Whether the ".qvnew" first volume `movingFirst` of member `increment` is
// there and holds its committed volumes: a base's always; an increment's
// when its identifier is the one of the chain's base, whose first volume
// is `baseFirst` (final name) or, while a new base is moved into place,
// its ".qvnew" file. An increment staged with a new base that was never
// committed is not; `exe`: the files carry a self-extracting program first.
bool TakesMovingVolumes(const WString& movingFirst, DWORD increment, const WString& baseFirst, bool exe);

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_MEMBER_FILES_H_
