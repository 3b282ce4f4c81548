// Where a restore puts items (below its root, or back where they were
// saved from) and what it does with an item already there.
#include "control/restore_folders.h"
#include "log/qv_log.h"
#include "platform/confined_folder.h"
#include "qvbackup/qvbackupcontrol.h"
#include "services/replacement_file.h"

namespace {

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

}  // namespace

BOOL CQVBackupControl::SetOverwriteMode(DWORD dwMode) {
  if (dwMode != QVBC_OVERWRITE_ALWAYS && dwMode != QVBC_OVERWRITE_NEVER && dwMode != QVBC_OVERWRITE_OLDER) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  m_dwOverwriteMode = dwMode;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD CQVBackupControl::GetOverwriteMode() const { return m_dwOverwriteMode; }

void CQVBackupControl::SetOriginalPaths(BOOL bOriginal) { m_bOriginalPaths = bOriginal != FALSE; }

BOOL CQVBackupControl::GetOriginalPaths() const { return m_bOriginalPaths ? TRUE : FALSE; }

void CQVBackupControl::ContinueAfter(const CQVBackupControl& other) {
  m_setMadeFolders.insert(other.m_setMadeFolders.begin(), other.m_setMadeFolders.end());
}

qv::services::ExistingTarget CQVBackupControl::ExistingRule() const {
  switch (m_dwOverwriteMode) {
    case QVBC_OVERWRITE_NEVER:
      return qv::services::ExistingTarget::kKeep;
    case QVBC_OVERWRITE_OLDER:
      return qv::services::ExistingTarget::kReplaceOlder;
    default:
      return qv::services::ExistingTarget::kReplace;
  }
}

// Items restored to their own paths are made through folders held from the
// root of their drive, as items below a restore root are through that root.
// What was restored on the drive before is made durable first: its folders
// are reached from its own root.
void CQVBackupControl::UseRootOfDrive(WCHAR chDrive) {
  const WCHAR root[] = {chDrive, u':', u'\\', 0};
  if (m_strRestoreRoot == CQVString(root)) return;
  if (!FlushRestoredFiles() && m_dwPendingFlushError == ERROR_SUCCESS) m_dwPendingFlushError = GetLastError();
  m_strRestoreRoot = root;
  m_pRestoreFolders.reset();
}

// Whether an item already at `target` stays in place of the entry's
// (files are judged as their content is written, by the file service).
bool CQVBackupControl::KeepsItemThere(DWORD dwEntry, DWORD dwKind, const qv::WString& target) {
  if (m_dwOverwriteMode == QVBC_OVERWRITE_ALWAYS || dwKind == QVBC_ITEM_FILE) return false;
  qv::WString name;
  const DWORD error = GetLastError();
  const qv::platform::ConfinedFolder* folder = HeldFolderOf(target, &name, false);
  qv::platform::FileInformation existing;
  _tagQVFA_FILEINFO saved;
  bool kept = false;
  if (folder != nullptr && folder->GetInformation(name, &existing) && m_qvfa.GetFileInfo(dwEntry, &saved)) {
    // A folder already there is one whatever the mode: nothing to replace.
    const FILETIME savedTime = saved.ftLastWriteTime;
    kept = dwKind == QVBC_ITEM_FOLDER || qv::services::KeepsExisting(ExistingRule(), existing, savedTime);
  }
  SetLastError(error);
  return kept;
}

void CQVBackupControl::NoteContentProgress(DWORD dwHanded) {
  m_ullContentHanded += dwHanded;
  Notify(ENGINE_MSG_RESTORE_PROGRESS, m_ullContentHanded);
}

BOOL CQVBackupControl::GetExistingTarget(DWORD dwEntry, ULONGLONG* pullSize, FILETIME* pftLastWrite,
                                         DWORD* pdwAttributes) {
  if (GetItemKind(dwEntry) == QVBC_ITEM_NONE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  CQVString path = m_qvfa.GetPathName(dwEntry);
  qv::WString target;
  if (!TargetBelowRoot(path, path.GetLength(), &target)) return FALSE;
  qv::WString name;
  const qv::platform::ConfinedFolder* folder = HeldFolderOf(target, &name, false);
  qv::platform::FileInformation existing;
  if (folder == nullptr || !folder->GetInformation(name, &existing)) {
    if (IsMissing(GetLastError())) SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  if (pullSize != nullptr) *pullSize = existing.size;
  if (pftLastWrite != nullptr) *pftLastWrite = existing.lastWriteTime;
  if (pdwAttributes != nullptr) *pdwAttributes = existing.attributes;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
