// CQVError: the error holder an object embeds.
#include "qvbackup/qverror.h"

CQVError::CQVError() : m_dwError(ERROR_SUCCESS) {}

CQVError::CQVError(const CQVError& other) = default;

CQVError& CQVError::operator=(const CQVError& other) = default;

CQVError::~CQVError() = default;

DWORD CQVError::SetError(DWORD dwError) {
  m_dwError = dwError;
  return m_dwError;
}

DWORD CQVError::GetError() const { return m_dwError; }
