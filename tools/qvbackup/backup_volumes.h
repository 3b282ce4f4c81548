// The volume files of an archive as they lie in its folder, told apart by
// their names: NAME[.I<k>][.<v>].QVA, where I<k> marks the k-th increment
// and <v> numbers the volumes of a split member from 1; the first volume
// of a self-extracting archive ends in "exe" instead.
#ifndef QVBACKUP_TOOLS_BACKUP_VOLUMES_H_
#define QVBACKUP_TOOLS_BACKUP_VOLUMES_H_

#include <vector>

#include "console.h"

namespace qvtool {

struct VolumeFile {
  WString fileName;
  DWORD increment = 0;          // 0: the base archive
  DWORD volume = 0;             // 1, 2...: a split member's volumes; 0: a member in one file
  bool selfExtracting = false;  // the file ends in "exe"
};

// How a member names its volumes: NAME.QVA; NAME.1.QVA, NAME.2.QVA...;
// NAME.exe; NAME.1.exe, NAME.2.QVA...
enum class VolumeNaming { kSingle, kSplit, kSelfExtracting, kSelfExtractingSplit };

// The first volume's number (0 for one file) and whether it ends in "exe".
DWORD FirstVolumeNumber(VolumeNaming naming);
bool IsSelfExtracting(VolumeNaming naming);

struct ChainOnDisk {
  bool hasBase = false;
  VolumeNaming naming = VolumeNaming::kSingle;  // the base's
  DWORD members = 0;  // the base and the increments 1, 2... up to the first missing one
};

// Reads `fileName` as a volume of archive `name` (names compared as the
// file system compares them: ignoring case on Windows only); false when it
// is not one.
bool ParseVolumeName(const WString& fileName, const WString& name, VolumeFile* volume);

// Whether `fileName` is any file the library keeps for archive `name`: a
// volume file, one being written or moved into place (".qvtmp", ".qvnew"),
// or its lock (NAME.qvlock).
bool IsArchiveFile(const WString& fileName, const WString& name);

// Every volume file of archive `name` in `folder` (a native path, as
// typed), in no particular order; none when the folder cannot be listed.
std::vector<VolumeFile> ListVolumes(const WString& folder, const WString& name);

// The chain the volume files make: the base (the first kind found of
// NAME.QVA, NAME.1.QVA, NAME.exe, NAME.1.exe) and, for a base that is not
// self-extracting, the increments named as it is, counted up to the first
// one missing.
ChainOnDisk DescribeChain(const std::vector<VolumeFile>& volumes);

// The volumes of member `increment` named with `naming`: its first volume
// and, for a split member, those numbered on from it without a gap; in
// volume order. Empty when the member has no first volume.
std::vector<VolumeFile> MemberVolumes(const std::vector<VolumeFile>& volumes, DWORD increment, VolumeNaming naming);

// `folder` joined with `fileName` (native paths).
WString JoinPath(const WString& folder, const WString& fileName);

// The size of the file `fileName` in `folder`; 0 when it cannot be read.
ULONGLONG VolumeFileSize(const WString& folder, const WString& fileName);

// Deletes `fileName` in `folder`; false with the system's reason in `why`.
bool RemoveVolumeFile(const WString& folder, const WString& fileName, WString* why);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_BACKUP_VOLUMES_H_
