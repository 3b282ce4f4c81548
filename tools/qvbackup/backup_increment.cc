#include "backup_increment.h"

#include "backup_selection.h"

namespace qvtool {

namespace {

constexpr DWORD kSameVersion = QVFA_CMP_NAME | QVFA_CMP_EXT | QVFA_CMP_PATH | QVFA_CMP_SAMETIME | QVFA_CMP_SAMESIZE;

}  // namespace

bool SavedVersions::Load(const ArchiveForm& form, DWORD members, DWORD* failedMember, ULONGLONG* volumeSize) {
  members_.clear();
  for (DWORD member = 0; member < members; ++member) {
    std::unique_ptr<CQVBackupControl> index = ReadMemberIndex(form, member, member == 0 ? volumeSize : nullptr);
    if (!index) {
      *failedMember = member;
      return false;
    }
    members_.push_back(std::move(index));
  }
  return true;
}

bool SavedVersions::IsUnchanged(LPCWSTR path, CQVFileArray& current, DWORD entry) {
  for (auto member = members_.rbegin(); member != members_.rend(); ++member) {
    const DWORD saved = FindSavedEntry(**member, path);
    if (saved != 0) return current.CompareEntries(entry, (*member)->GetIndex(), saved, kSameVersion) != FALSE;
  }
  return false;
}

ULONGLONG DropUnchangedFiles(CQVBackupEngine& engine, SavedVersions& versions) {
  // The files as they are now, read from the file system the way the
  // backup control records them when it saves them.
  CQVFileArray current;
  ULONGLONG dropped = 0;
  for (auto it = engine.m_setFileToBackup.begin(); it != engine.m_setFileToBackup.end();) {
    const DWORD entry = current.Add(it->GetString(), nullptr, ExactNames());
    // A file that cannot be read now stays listed: the run reports it.
    if (entry != 0 && versions.IsUnchanged(it->GetString(), current, entry)) {
      it = engine.m_setFileToBackup.erase(it);
      ++dropped;
    } else {
      ++it;
    }
  }
  RecountFileList(engine);
  return dropped;
}

}  // namespace qvtool
