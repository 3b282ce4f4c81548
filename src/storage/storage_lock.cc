// One writer per archive: the lock file NAME.qvlock beside its volumes.
#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "storage/lock_holder.h"
#include "storage/volume_names.h"
#include "qvbackup/qvstorage.h"

namespace {

bool IsEmptyText(const WCHAR* text) { return text == nullptr || text[0] == 0; }

}  // namespace

// Takes the lock of archive `pszName` in `pszFolder` unless this object
// holds it already. `bForBegin`: BeginArchive's own, let go when the
// archive ends; otherwise held until UnlockArchive.
BOOL CQVStorage::TakeLock(LPCWSTR pszFolder, LPCWSTR pszName, BOOL bForBegin) {
  if (IsEmptyText(pszFolder) || IsEmptyText(pszName) || !qv::platform::IsDirectory(pszFolder)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  CQVPathString path(pszFolder);
  path.AddBackslash();
  path += pszName;
  path += qv::storage::kLockSuffix;
  if (m_pLock && qv::storage::SameFileName(qv::WStringView(m_strLockPath, m_strLockPath.GetLength()),
                                           qv::WStringView(path, path.GetLength()))) {
    // Already held: asked for by the host, it stays until UnlockArchive.
    if (!bForBegin && !m_bStaged) m_bLockFromBegin = FALSE;
    return TRUE;
  }
  if (m_bStaged) return Fail(ERROR_INVALID_STATE);  // the archive being written keeps its own
  m_pLock.reset();
  m_strLockHolder = QVT("");
  qv::WString holder;
  m_pLock = qv::platform::TryLockFile(path, qv::storage::LockHolderText(), &holder);
  if (!m_pLock) {
    const DWORD error = GetLastError();
    m_strLockHolder = holder.c_str();
    return Fail(error);
  }
  m_strLockPath = path;
  m_bLockFromBegin = bForBegin;
  return TRUE;
}

void CQVStorage::ReleaseBeginLock() {
  if (m_bLockFromBegin) m_pLock.reset();
  m_bLockFromBegin = FALSE;
}

BOOL CQVStorage::LockArchive(QVS_ARCHIVE_INFO* pInfo) {
  if (pInfo == nullptr || pInfo->dwSize != sizeof(QVS_ARCHIVE_INFO)) return Fail(ERROR_INVALID_PARAMETER);
  if (!TakeLock(pInfo->pszFolder, pInfo->pszName, FALSE)) return FALSE;
  return Succeed();
}

BOOL CQVStorage::UnlockArchive() {
  if (m_bStaged) return Fail(ERROR_INVALID_STATE);  // the archive being written still needs it
  m_pLock.reset();
  m_bLockFromBegin = FALSE;
  return Succeed();
}

CQVString CQVStorage::GetLockHolder() const { return m_strLockHolder; }
