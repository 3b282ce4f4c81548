#include "backup_increment.h"

#include "backup_selection.h"
#include "chain_state.h"

namespace qvtool {

namespace {

constexpr DWORD kSameVersion = QVFA_CMP_NAME | QVFA_CMP_EXT | QVFA_CMP_PATH | QVFA_CMP_SAMETIME | QVFA_CMP_SAMESIZE;

}  // namespace

bool SavedVersions::Load(const ArchiveForm& form, DWORD members, DWORD* failedMember, ULONGLONG* volumeSize) {
  members_.clear();
  state_.clear();
  for (DWORD member = 0; member < members; ++member) {
    std::unique_ptr<CQVBackupControl> index = ReadMemberIndex(form, member, member == 0 ? volumeSize : nullptr);
    if (!index) {
      *failedMember = member;
      return false;
    }
    members_.push_back(std::move(index));
  }
  if (members == 0) return true;
  const MemberIndex index = [this](DWORD member) {
    return member < members_.size() ? members_[member].get() : nullptr;
  };
  WString why;
  if (!ChainStateAsOf(members - 1, index, &state_, &why)) {
    *failedMember = members - 1;
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  // A kept item that cannot be read was reported when the member was
  // read back; it is left out of what the next member keeps.
  std::erase_if(state_, [](const SavedFile& file) { return !file.lost.empty(); });
  return true;
}

bool SavedVersions::IsUnchanged(const SavedFile& saved, CQVFileArray& current, DWORD entry) {
  return current.CompareEntries(entry, members_[saved.member]->GetIndex(), saved.entry, kSameVersion) != FALSE;
}

IncrementPlan PlanIncrement(CQVBackupEngine& engine, SavedVersions& versions) {
  // The files as they are now, read from the file system the way the
  // backup control records them when it saves them.
  CQVFileArray current;
  IncrementPlan plan;
  ULONGLONG held = 0;
  for (auto it = engine.m_setFileToBackup.begin(); it != engine.m_setFileToBackup.end();) {
    const SavedFile* saved = versions.Find(WString(it->GetString()));
    if (saved == nullptr) {
      ++it;
      continue;
    }
    ++held;
    plan.kept.push_back({saved->member, saved->entry});
    const DWORD entry = current.Add(it->GetString(), nullptr, ExactNames());
    // A file that cannot be read now stays listed: the run reports it.
    if (entry != 0 && versions.IsUnchanged(*saved, current, entry)) {
      it = engine.m_setFileToBackup.erase(it);
      ++plan.unchanged;
    } else {
      ++it;
    }
  }
  plan.gone = versions.held() - held;
  RecountFileList(engine);
  return plan;
}

}  // namespace qvtool
