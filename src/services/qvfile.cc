// CQVFile: the binding of a file-backup object to one file's path.
#include "qvbackup/qvbackupfile.h"

CQVFile::CQVFile(LPCWSTR pszPath) : m_bAttached(FALSE) {
  if (pszPath != nullptr && pszPath[0] != 0) Attach(pszPath);
}

CQVFile::~CQVFile() = default;

BOOL CQVFile::Attach(LPCWSTR pszPath) {
  if (pszPath == nullptr || pszPath[0] == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  m_strPath = pszPath;
  m_bAttached = TRUE;
  return TRUE;
}

void CQVFile::Detach() {
  m_strPath.Empty();
  m_bAttached = FALSE;
}

LPCWSTR CQVFile::GetPath() const { return m_strPath.GetString(); }
