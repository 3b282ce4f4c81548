// Per-entry extras: user data, clone bits, children, and the totals.
#include <cstring>

#include "qvbackup/qvfilearray.h"

BYTE* CQVFileArray::GetUserData(DWORD dwIndex, DWORD* pdwSize) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  if (entry == nullptr) return nullptr;
  // The root carries no user data; its header says so with zeros.
  DWORD offset = dwIndex == 0 ? QVFA_ROOTSIZE : entry->wUserDataOffset;
  if (pdwSize != nullptr) *pdwSize = entry->bUserDataSize;
  return m_pImage + dwIndex + offset;
}

BOOL CQVFileArray::SetUserData(DWORD dwIndex, const void* pData) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  if (entry == nullptr) return FALSE;
  if (pData == nullptr) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  if (dwIndex != 0) std::memcpy(m_pImage + dwIndex + entry->wUserDataOffset, pData, entry->bUserDataSize);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD CQVFileArray::IsClone(DWORD dwIndex) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  if (entry == nullptr) return 0;
  SetLastError(ERROR_SUCCESS);
  return entry->bState & QVFA_CLONE;
}

DWORD CQVFileArray::HasClones(DWORD dwIndex) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  if (entry == nullptr) return 0;
  SetLastError(ERROR_SUCCESS);
  return entry->bState & QVFA_HASCLONES;
}

BOOL CQVFileArray::HasChildren(DWORD dwIndex, BOOL bFoldersOnly) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  if (entry == nullptr) return FALSE;
  if (!(entry->dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) return FALSE;
  if (!bFoldersOnly) return entry->dwFirstChild != 0;
  for (DWORD child = entry->dwFirstChild; child != 0; child = GetEntry(child)->dwNextSibling) {
    if (GetEntry(child)->dwAttributes & FILE_ATTRIBUTE_DIRECTORY) return TRUE;
  }
  return FALSE;
}

ULONGLONG CQVFileArray::GetTotalSize() {
  ULONGLONG total = 0;
  for (DWORD offset = GetEntry(0)->wSize; offset != 0;) {
    const QVFA_INDEXENTRY* entry = GetEntry(offset);
    total += entry->ullSize;
    offset = entry->wSize == 0 ? 0 : offset + entry->wSize;
  }
  return total;
}
