// The state of a chain as of one of its members: the items that existed
// when it was made, each in its version of that time. A member that
// records the state of the selection (what it saved, and the items of
// earlier members it keeps) gives it alone; one that does not (a base, or
// an increment written before members recorded it) adds what it saved to
// the state before it, newer versions replacing older ones.
#ifndef QVBACKUP_TOOLS_CHAIN_STATE_H_
#define QVBACKUP_TOOLS_CHAIN_STATE_H_

#include <functional>
#include <vector>

#include "console.h"
#include "qvbackup/qvbackupcontrol.h"
#include "saved_files.h"

namespace qvtool {

// The control holding member `member`'s loaded index, or null when it
// cannot be loaded (the reason then given by the caller's own means).
using MemberIndex = std::function<CQVBackupControl*(DWORD member)>;

// What member `member`, whose index `control` holds and which records the
// state (HasChainState), says existed at its time, sorted by path. An item
// it keeps from a member that cannot be loaded, or that is not there, is
// listed with `lost` saying why (its path, when unknown, names the member).
std::vector<SavedFile> RecordedState(CQVBackupControl& control, DWORD member, const MemberIndex& index);

// The newest member of first + 1 .. last that records the state of the
// selection (members that cannot be loaded are passed over), or `first`:
// the member the state as of `last` is read from.
DWORD NewestRecordingMember(DWORD first, DWORD last, const MemberIndex& index);

// The state of the chain as of member `last`, every member 0 .. last being
// loadable through `index`. False with `why` when one is not.
bool ChainStateAsOf(DWORD last, const MemberIndex& index, std::vector<SavedFile>* state, WString* why);

// What member `member` (whose index `control` holds) makes of `before`,
// the state as of the member before it.
void AdvanceState(CQVBackupControl& control, DWORD member, const MemberIndex& index, std::vector<SavedFile>* state);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_CHAIN_STATE_H_
