#include "chain_state.h"

#include <map>
#include <utility>

#include "archive_chain.h"
#include "report.h"

namespace qvtool {

std::vector<SavedFile> RecordedState(CQVBackupControl& control, DWORD member, const MemberIndex& index) {
  std::vector<SavedFile> state = SavedFilesOf(control, member);
  SortByPath(state);
  const QVBC_KEPT_ENTRY* kept = nullptr;
  const DWORD count = control.GetKeptEntries(&kept);
  std::vector<SavedFile> older;
  older.reserve(count);
  std::map<DWORD, ULONGLONG> unreadable;  // by member: items kept from it that cannot be read
  for (DWORD i = 0; i < count; ++i) {
    const QVBC_KEPT_ENTRY& item = kept[i];
    CQVBackupControl* holder = item.dwMember < member ? index(item.dwMember) : nullptr;
    SavedFile file;
    if (holder == nullptr || !ReadSavedFile(*holder, item.dwEntry, item.dwMember, &file)) {
      ++unreadable[item.dwMember];
      continue;
    }
    // What the member saved again itself is its own version.
    if (FindInView(state, file.path) == nullptr) older.push_back(std::move(file));
  }
  for (const auto& [from, items] : unreadable) {
    SavedFile lost;
    lost.member = from;
    lost.path = Number(items) + Widen(items == 1 ? " item" : " items") + Widen(" kept from ") + MemberName(from);
    lost.lost = from < member && index(from) != nullptr
                    ? Widen("the record of ") + MemberName(member) + Widen(" names entries its index does not hold")
                    : Widen("the index of ") + MemberName(from) + Widen(" cannot be read");
    older.push_back(std::move(lost));
  }
  MergeNewerVersions(state, std::move(older));
  return state;
}

void AdvanceState(CQVBackupControl& control, DWORD member, const MemberIndex& index, std::vector<SavedFile>* state) {
  if (member != 0 && control.HasChainState()) {
    *state = RecordedState(control, member, index);
  } else {
    MergeNewerVersions(*state, SavedFilesOf(control, member));
  }
}

DWORD NewestRecordingMember(DWORD first, DWORD last, const MemberIndex& index) {
  for (DWORD member = last; member > first; --member) {
    CQVBackupControl* control = index(member);
    if (control != nullptr && control->HasChainState()) return member;
  }
  return first;
}

bool ChainStateAsOf(DWORD last, const MemberIndex& index, std::vector<SavedFile>* state, WString* why) {
  state->clear();
  // The newest member that records the state gives it: the ones before it
  // need not be read unless it keeps items of theirs.
  for (DWORD member = NewestRecordingMember(0, last, index); member <= last; ++member) {
    CQVBackupControl* control = index(member);
    if (control == nullptr) {
      *why = MemberName(member) + Widen(" cannot be read");
      return false;
    }
    AdvanceState(*control, member, index, state);
  }
  return true;
}

}  // namespace qvtool
