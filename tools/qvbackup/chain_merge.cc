#include "chain_merge.h"

#include <algorithm>
#include <map>
#include <utility>

#include "chain_state.h"
#include "report.h"
#include "saved_files.h"

namespace qvtool {

namespace {

using ItemKey = std::pair<DWORD, DWORD>;  // member, entry

class ChainWriter {
 public:
  ChainWriter(ArchiveChain& chain, QVS_ARCHIVE_INFO info, CQVBackupControl& writer, MergeOutcome* outcome)
      : chain_(chain), info_(info), writer_(writer), outcome_(*outcome) {}

  bool Begin(DWORD increment) {
    info_.dwIncrementToOpen = increment;
    info_.dwFlags = increment == 0 ? 0 : QVS_FLAG_INCREMENTAL;
    if (writer_.BeginBackup(&info_)) return true;
    return Failed(Widen("the new ") + MemberName(increment) + Widen(" cannot be begun"), GetLastError());
  }

  // Copies `items` (member, entry) into the member being written, mapping
  // each to (`increment`, its new entry).
  bool Copy(const std::vector<SavedFile>& items, DWORD increment) {
    for (const SavedFile& item : items) {
      const DWORD entry = writer_.CopySavedItem(chain_.Control(item.member), item.entry);
      if (entry == 0) {
        const DWORD error = GetLastError();
        return Failed(item.path + Widen(" (saved in ") + MemberName(item.member) + Widen(") cannot be copied"),
                      error);
      }
      copied_[{item.member, item.entry}] = {increment, entry};
      outcome_.copiedBytes += item.kind == QVBC_ITEM_FILE ? item.size : 0;
    }
    return true;
  }

  // The items of older members that `member` keeps, as entries of the new
  // chain.
  bool Keep(CQVBackupControl& source, DWORD member) {
    if (!source.HasChainState()) return true;  // written before members recorded it: it records none
    const QVBC_KEPT_ENTRY* kept = nullptr;
    const DWORD count = source.GetKeptEntries(&kept);
    std::vector<QVBC_KEPT_ENTRY> mapped;
    mapped.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
      auto found = copied_.find({kept[i].dwMember, kept[i].dwEntry});
      if (found == copied_.end()) {
        return Failed(MemberName(member) + Widen(" keeps an item of ") + MemberName(kept[i].dwMember) +
                          Widen(" that the state it follows does not hold"),
                      ERROR_INVALID_DATA);
      }
      mapped.push_back({found->second.first, found->second.second});
    }
    if (writer_.SetKeptEntries(mapped.data(), static_cast<DWORD>(mapped.size()))) return true;
    return Failed(Widen("the record of the new ") + MemberName(member) + Widen(" cannot be kept"), GetLastError());
  }

  bool End(DWORD increment, LONGLONG time) {
    if (!writer_.GetStorage().SetMemberTime(time) || !writer_.EndBackup()) {
      return Failed(Widen("the new ") + MemberName(increment) + Widen(" cannot be written"), GetLastError());
    }
    return true;
  }

  bool Failed(const WString& what, DWORD error) {
    outcome_.failure = what;
    outcome_.error = error;
    return false;
  }

 private:
  ArchiveChain& chain_;
  QVS_ARCHIVE_INFO info_;
  CQVBackupControl& writer_;
  MergeOutcome& outcome_;
  std::map<ItemKey, ItemKey> copied_;  // old (member, entry) -> new
};

// In the order their members saved them: a file's first name comes
// before its further names.
void SortBySaving(std::vector<SavedFile>& items) {
  std::sort(items.begin(), items.end(), [](const SavedFile& a, const SavedFile& b) {
    return a.member != b.member ? a.member < b.member : a.entry < b.entry;
  });
}

}  // namespace

MergeOutcome MergeChain(ArchiveChain& chain, const MergePlan& plan, QVS_ARCHIVE_INFO info, CQVBackupControl& writer) {
  MergeOutcome outcome;
  const DWORD folded = plan.members - 1 - plan.keep;  // the newest member the base takes in
  const MemberIndex index = [&chain, &plan](DWORD member) -> CQVBackupControl* {
    return member < plan.members && chain.Load(member) ? &chain.Control(member) : nullptr;
  };
  std::vector<SavedFile> state;
  WString why;
  if (!ChainStateAsOf(folded, index, &state, &why)) {
    outcome.failure = why;
    return outcome;
  }
  for (const SavedFile& item : state) {
    if (!item.lost.empty()) {
      outcome.failure = item.path + Widen(": ") + item.lost;
      outcome.error = ERROR_INVALID_DATA;
      return outcome;
    }
  }
  SortBySaving(state);
  CQVStorage& storage = writer.GetStorage();
  if (!storage.BeginChainRewrite()) {
    outcome.failure = Widen("the new chain cannot be begun");
    outcome.error = storage.GetError();
    return outcome;
  }
  ChainWriter out(chain, info, writer, &outcome);
  const auto time = [&chain](DWORD member) { return chain.Control(member).GetStorage().GetMemberTime(); };
  bool written = out.Begin(0) && out.Copy(state, 0) && out.End(0, time(folded));
  outcome.baseItems = state.size();
  for (DWORD increment = 1; written && increment <= plan.keep; ++increment) {
    const DWORD member = folded + increment;
    CQVBackupControl& source = chain.Control(member);
    std::vector<SavedFile> saved = SavedFilesOf(source, member);
    SortBySaving(saved);
    written = out.Begin(increment) && out.Copy(saved, increment) && out.Keep(source, member) &&
              out.End(increment, time(member));
  }
  if (!written) {
    storage.AbandonChainRewrite();
    return outcome;
  }
  // The old members are closed first: on Windows no file is renamed over
  // one that is open.
  chain.CloseAll();
  if (!storage.CommitChainRewrite()) {
    const DWORD error = storage.GetError();
    storage.AbandonChainRewrite();
    outcome.failure = Widen("the new chain cannot be put in place");
    outcome.error = error;
    return outcome;
  }
  for (DWORD i = 0; i < storage.GetRemovedFileCount(); ++i) {
    outcome.removed.push_back(WString(storage.GetRemovedFile(i, nullptr)));
  }
  return outcome;
}

}  // namespace qvtool
