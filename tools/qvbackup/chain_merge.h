// Shortening a chain: its oldest members folded into a new base that holds
// the state as of the newest of them, the later members rewritten as its
// increments, each keeping what it saved, what it kept of earlier members
// and when it was made. The new chain is written beside the old one and
// takes its place at once (CQVStorage::CommitChainRewrite): until then the
// old chain is untouched, whatever happens to the run.
#ifndef QVBACKUP_TOOLS_CHAIN_MERGE_H_
#define QVBACKUP_TOOLS_CHAIN_MERGE_H_

#include <vector>

#include "archive_chain.h"
#include "console.h"
#include "qvbackup/qvbackupcontrol.h"

namespace qvtool {

struct MergePlan {
  DWORD members = 0;  // members of the chain read (the base and its increments)
  DWORD keep = 0;     // increments to keep: the last `keep` members stay increments
};

struct MergeOutcome {
  ULONGLONG baseItems = 0;    // items of the new base
  ULONGLONG copiedBytes = 0;  // content copied, all members
  std::vector<WString> removed;  // files of the old chain removed once the new one was in place
  WString failure;            // why the merge failed, empty on success
  DWORD error = 0;            // the Windows error behind the failure, when there is one
};

// Writes the new chain of `chain` (every one of its plan.members members
// loaded) through `writer`, whose storage holds the archive's lock, in
// the form `info` gives (folder, name, password, key size, compression,
// block and volume size). On failure nothing of the new chain is left and
// the old one is as it was.
MergeOutcome MergeChain(ArchiveChain& chain, const MergePlan& plan, QVS_ARCHIVE_INFO info, CQVBackupControl& writer);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_CHAIN_MERGE_H_
