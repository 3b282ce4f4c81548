// Reading entries back: names, full paths and file information.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fileindex/entry_name.h"
#include "fileindex/entry_time.h"
#include "fileindex/name_crc.h"
#include "platform/text.h"
#include "qvbackup/qvfilearray.h"

using qv::fileindex::EntryName;

namespace {

// Copies at most `capacity` - 1 code units of the entry's name and
// terminates.
void CopyName(WCHAR* target, std::size_t capacity, const QVFA_INDEXENTRY* entry) {
  EntryName name(entry);
  std::size_t length = std::min(name.length(), capacity - 1);
  std::memcpy(target, name.c_str(), length * sizeof(WCHAR));
  target[length] = 0;
}

}  // namespace

CQVString CQVFileArray::GetFileName(DWORD dwIndex) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  if (entry == nullptr) return CQVString();
  return CQVString(EntryName(entry).c_str());
}

// Climbs the parent links, prepending each name and, for folders, a
// backslash. The climb is bounded by the entry count and checks every link,
// so a damaged image yields a short path instead of a loop or a stray read.
CQVString CQVFileArray::GetPathName(DWORD dwIndex) {
  if (dwIndex == 0) return CQVString();
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  if (entry == nullptr) return CQVString();

  std::vector<const QVFA_INDEXENTRY*> chain;
  for (DWORD steps = m_dwEntryCount + 1; steps != 0; --steps) {
    chain.push_back(entry);
    DWORD parent = entry->dwParent;
    if (parent == 0 || !IsValidIndex(parent)) break;
    entry = GetEntry(parent);
  }

  qv::WString path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    EntryName name(*it);
    std::size_t nameLength = name.length();
    path.append(name.c_str(), nameLength);
    bool endsWithSeparator = nameLength != 0 && name.c_str()[nameLength - 1] == u'\\';
    if (((*it)->dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && !endsWithSeparator) {
      path.push_back(u'\\');
    }
  }
  if (!path.empty() && path.back() == u'\\' && path.size() != 3) path.pop_back();
  return CQVString(path.c_str());
}

CQVString CQVFileArray::GetPath(DWORD dwIndex) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  if (entry == nullptr) return CQVString();
  DWORD parent = entry->dwParent;
  if (parent == 0 || parent == QVFA_NOTLINKED) return CQVString();
  return GetPathName(parent);
}

BOOL CQVFileArray::GetFileInfo(DWORD dwIndex, _tagQVFA_FILEINFO* pInfo) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  if (entry == nullptr) return FALSE;
  if (pInfo == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::memset(pInfo, 0, sizeof(*pInfo));
  pInfo->dwFileAttributes = entry->dwAttributes;
  QVFA_COPY_TIME(pInfo->ftCreationTime, entry->ftCreationTime);
  QVFA_COPY_TIME(pInfo->ftLastAccessTime, entry->ftLastAccessTime);
  QVFA_COPY_TIME(pInfo->ftChangeTime, entry->ftChangeTime);
  pInfo->ullSize = entry->ullSize;
  QVFA_COPY_TIME(pInfo->ftLastWriteTime, entry->ftLastWriteTime);
  pInfo->ullParentReference = entry->dwParent;
  pInfo->ullReference = dwIndex;
  CopyName(pInfo->szName, MAX_PATH, entry);
  return TRUE;
}

BOOL CQVFileArray::GetFileInfo(DWORD dwIndex, WIN32_FIND_DATAW* pFindData) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  if (entry == nullptr) return FALSE;
  if (pFindData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  pFindData->dwFileAttributes = entry->dwAttributes;
  QVFA_COPY_TIME(pFindData->ftCreationTime, entry->ftCreationTime);
  QVFA_COPY_TIME(pFindData->ftLastAccessTime, entry->ftLastAccessTime);
  QVFA_COPY_TIME(pFindData->ftLastWriteTime, entry->ftLastWriteTime);
  pFindData->nFileSizeHigh = static_cast<DWORD>(entry->ullSize >> 32);
  pFindData->nFileSizeLow = static_cast<DWORD>(entry->ullSize & 0xFFFFFFFFu);
  CopyName(pFindData->cFileName, MAX_PATH, entry);
  pFindData->cAlternateFileName[0] = 0;
  return TRUE;
}

ULONGLONG CQVFileArray::GetSize(DWORD dwIndex) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  return entry ? entry->ullSize : 0;
}

DWORD CQVFileArray::GetAttributes(DWORD dwIndex) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  return entry ? entry->dwAttributes : INVALID_FILE_ATTRIBUTES;
}

DWORD CQVFileArray::IsDirectory(DWORD dwIndex) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  return entry ? (entry->dwAttributes & FILE_ATTRIBUTE_DIRECTORY) : 0;
}

DWORD CQVFileArray::IsDeleted(DWORD dwIndex) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  return entry ? (entry->bState & QVFA_DELETED) : 0;
}

DWORD CQVFileArray::IsInUse(DWORD dwIndex) {
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  return entry ? (entry->bState & QVFA_INUSE) : 0;
}

// The entry's ancestor in its volume's root folder: the one whose parent is
// a top-level entry. A top-level entry, or one already there, is its own.
QVFA_INDEXENTRY* CQVFileArray::GetRootParent(QVFA_INDEXENTRY* pEntry) const {
  for (DWORD steps = m_dwEntryCount + 1; steps != 0; --steps) {
    DWORD parent = pEntry->dwParent;
    if (parent == 0 || !IsValidIndex(parent)) return pEntry;
    QVFA_INDEXENTRY* parentEntry = GetEntry(parent);
    if (parentEntry->dwParent == 0) return pEntry;
    pEntry = parentEntry;
  }
  return pEntry;
}
