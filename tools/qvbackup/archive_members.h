// What the members of a chain are on disk (the library's InspectChain,
// which needs no password) and what that makes of the chain: the members a
// restore, a listing or the next increment can use, what is said about the
// others, and what makes the chain unusable past a point.
#ifndef QVBACKUP_TOOLS_ARCHIVE_MEMBERS_H_
#define QVBACKUP_TOOLS_ARCHIVE_MEMBERS_H_

#include <vector>

#include "console.h"
#include "qvbackup/qvstorage.h"

namespace qvtool {

struct MemberState {
  DWORD increment = 0;
  DWORD state = QVS_MEMBER_MISSING;  // QVS_MEMBER_*
  WString fileName;                  // its first volume's file name
};

// The members of the chain `info` describes, the base first; empty when
// nothing of it is on disk.
std::vector<MemberState> InspectMembers(QVS_ARCHIVE_INFO info);

struct ChainVerdict {
  // Members 0 .. usable - 1 are the chain: each one ended (a damaged one
  // included: its damage is told when it is read).
  DWORD usable = 0;
  // The chain's last member never ended (its run was stopped): left out.
  bool unfinishedLast = false;
  std::vector<WString> notes;  // said on standard error; not a failure
  WString error;               // not empty: members past `usable` cannot be used, and why
  DWORD damaged = 0xFFFFFFFFu;  // the first damaged member among the usable ones
};

// Judges `members`: see ChainVerdict.
ChainVerdict JudgeChain(const std::vector<MemberState>& members);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_ARCHIVE_MEMBERS_H_
