// Searching the index: the FindFirstFileW / FindNextFileW / FindClose trio
// over entry indexes, flat in image order or depth first below a folder.
//
// A handle keeps only indexes, so it survives additions and deletions. The
// index remembers which handles it gave out: a handle it does not know is
// refused instead of being read, and every index a handle holds is checked
// again before use, so a handle kept across Compact or a new image ends the
// search instead of wandering outside the image.
#include <cstring>
#include <new>

#include "fileindex/entry_name.h"
#include "fileindex/entry_time.h"
#include "fileindex/name_crc.h"
#include "fileindex/search_handle.h"
#include "platform/wildcard.h"

using qv::fileindex::EntryName;
using qv::fileindex::FilterCopy;
using qv::fileindex::kSearchExhausted;
using qv::fileindex::kSearchHandleTag;
using qv::fileindex::NameCRC;
using qv::fileindex::SearchHandle;
using qv::fileindex::TextLength;

namespace {

bool HasWildcards(const WCHAR* mask) {
  for (; *mask != 0; ++mask) {
    if (*mask == u'*' || *mask == u'?') return true;
  }
  return false;
}

FilterCopy* MakeFilterCopy(const QV_FINDFILTER& filter) {
  auto* copy = new FilterCopy();
  copy->filter = filter;
  if (filter.pszFileMask != nullptr) {
    copy->fileMaskCRC = NameCRC(filter.pszFileMask, TextLength(filter.pszFileMask));
    copy->fileMaskHasWildcards = HasWildcards(filter.pszFileMask);
  }
  if (filter.pszExtensionMask != nullptr) {
    copy->extensionMaskCRC = NameCRC(filter.pszExtensionMask, TextLength(filter.pszExtensionMask));
    copy->extensionMaskHasWildcards = HasWildcards(filter.pszExtensionMask);
  }
  return copy;
}

// The NTFS metafiles of a volume's root folder.
bool IsMetafileName(const WCHAR* name) {
  static const WCHAR* const kMetafiles[] = {
      QVT("$MFT"),  QVT("$MFTMirr"), QVT("$LogFile"), QVT("$Volume"), QVT("$AttrDef"), QVT("$Bitmap"),
      QVT("$Boot"), QVT("$BadClus"), QVT("$Secure"),  QVT("$UpCase"), QVT("$Extend")};
  for (const WCHAR* metafile : kMetafiles) {
    std::size_t i = 0;
    while (metafile[i] != 0 && name[i] == metafile[i]) ++i;
    if (metafile[i] == 0 && name[i] == 0) return true;
  }
  return false;
}

bool IsSystemVolumeInformation(const EntryName& name) {
  static const WCHAR kName[] = QVT("System Volume Information");
  constexpr std::size_t kLength = sizeof(kName) / sizeof(WCHAR) - 1;
  return qv::fileindex::EqualNoCaseAZ(name.c_str(), name.length(), kName, kLength);
}

// Inclusive bounds on one time; null bounds set no condition.
bool TimeWithin(ULONGLONG value, const FILETIME* earliest, const FILETIME* latest) {
  if (earliest != nullptr && value < QVFA_TIME_VALUE(*earliest)) return false;
  if (latest != nullptr && value > QVFA_TIME_VALUE(*latest)) return false;
  return true;
}

}  // namespace

void CQVFileArray::FreeSearch(const void* pHandle) {
  auto* handle = static_cast<SearchHandle*>(const_cast<void*>(pHandle));
  delete handle->filter;
  delete handle;
}

BOOL CQVFileArray::EntryPassesFilter(const QVFA_INDEXENTRY* pEntry, const void* pFilterCopy) const {
  const FilterCopy& copy = *static_cast<const FilterCopy*>(pFilterCopy);
  const QV_FINDFILTER& filter = copy.filter;
  if ((pEntry->bState & QVFA_DELETED) && !(filter.dwFlags & QVFF_INCLUDEDELETED)) return FALSE;
  if (pEntry->dwParent == QVFA_NOTLINKED) return FALSE;

  if ((filter.dwFlags & QVFF_NOMETAFILES) && qv::fileindex::FirstNameChar(pEntry) == u'$') {
    auto* entry = const_cast<QVFA_INDEXENTRY*>(pEntry);
    if (IsMetafileName(EntryName(GetRootParent(entry)).c_str())) return FALSE;
  }
  if (filter.dwFlags & QVFF_NOSYSVOLINFO) {
    const QVFA_INDEXENTRY* top = GetRootParent(const_cast<QVFA_INDEXENTRY*>(pEntry));
    if ((top->dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsSystemVolumeInformation(EntryName(top))) {
      return FALSE;
    }
  }

  if (filter.pszFileMask != nullptr) {
    if (filter.pszFileMask[0] != 0 && !copy.fileMaskHasWildcards) {
      if (pEntry->dwNameCRC != copy.fileMaskCRC) return FALSE;
      EntryName name(pEntry);
      if (!qv::fileindex::EqualNoCaseAZ(name.c_str(), name.length(), filter.pszFileMask,
                                        TextLength(filter.pszFileMask))) {
        return FALSE;
      }
    } else if (!qv::platform::PathMatchSpec(EntryName(pEntry).c_str(), filter.pszFileMask)) {
      return FALSE;
    }
  }
  if (filter.pszExtensionMask != nullptr) {
    if (filter.pszExtensionMask[0] != 0 && !copy.extensionMaskHasWildcards) {
      if (pEntry->dwExtensionCRC != copy.extensionMaskCRC) return FALSE;
    } else {
      EntryName name(pEntry);
      const WCHAR* extension = qv::fileindex::FindExtension(name.c_str(), name.length());
      if (!qv::platform::PathMatchSpec(extension ? extension : QVT(""), filter.pszExtensionMask)) {
        return FALSE;
      }
    }
  }

  if (filter.pdwAttributesSet != nullptr &&
      (pEntry->dwAttributes & *filter.pdwAttributesSet) != *filter.pdwAttributesSet) {
    return FALSE;
  }
  if (filter.pdwAttributesClear != nullptr && (pEntry->dwAttributes & *filter.pdwAttributesClear) != 0) {
    return FALSE;
  }
  if (filter.pdwStateSet != nullptr && (pEntry->bState & *filter.pdwStateSet) != *filter.pdwStateSet) {
    return FALSE;
  }
  if (!TimeWithin(QVFA_TIME_VALUE(pEntry->ftCreationTime), filter.pftCreationAfter,
                  filter.pftCreationBefore) ||
      !TimeWithin(QVFA_TIME_VALUE(pEntry->ftLastAccessTime), filter.pftLastAccessAfter,
                  filter.pftLastAccessBefore) ||
      !TimeWithin(QVFA_TIME_VALUE(pEntry->ftLastWriteTime), filter.pftLastWriteAfter,
                  filter.pftLastWriteBefore)) {
    return FALSE;
  }
  if (filter.pullMinSize != nullptr && pEntry->ullSize < *filter.pullMinSize) return FALSE;
  if (filter.pullMaxSize != nullptr && pEntry->ullSize > *filter.pullMaxSize) return FALSE;
  return TRUE;
}

HANDLE CQVFileArray::FindFirstFileW(DWORD& dwIndex, const QV_FINDFILTER* pFilter) {
  dwIndex = 0;
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return nullptr;
  }
  DWORD start = 0;
  bool flat = pFilter == nullptr || pFilter->pszBasePath == nullptr;
  if (!flat && pFilter->pszBasePath[0] != 0) {
    start = Add(pFilter->pszBasePath);
    if (start == 0) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return nullptr;
    }
  }
  if (GetEntry(0)->wSize == 0) {
    SetLastError(ERROR_NO_MORE_FILES);
    return nullptr;
  }
  auto* handle = new SearchHandle{kSearchHandleTag, flat ? 1u : 0u, 0, start, nullptr};
  if (pFilter != nullptr) handle->filter = MakeFilterCopy(*pFilter);
  m_setSearchHandles.insert(handle);
  if (!FindNextFileW(handle, dwIndex)) {
    m_setSearchHandles.erase(handle);
    FreeSearch(handle);
    SetLastError(ERROR_NO_MORE_FILES);
    return nullptr;
  }
  return handle;
}

BOOL CQVFileArray::FindNextFileW(HANDLE hFind, DWORD& dwIndex) {
  if (hFind == nullptr || hFind == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  if (m_setSearchHandles.count(hFind) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  auto* handle = static_cast<SearchHandle*>(hFind);
  if (!handle->flat) return DirectorySearch(hFind, dwIndex);

  DWORD current = handle->current;
  if (current == kSearchExhausted || (current != 0 && !IsValidIndex(current))) {
    handle->current = kSearchExhausted;
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  for (;;) {
    WORD size = GetEntry(current)->wSize;
    if (size == 0 || !IsValidIndex(current + size)) break;
    current += size;
    if (handle->filter == nullptr || EntryPassesFilter(GetEntry(current), handle->filter)) {
      handle->current = current;
      dwIndex = current;
      return TRUE;
    }
  }
  handle->current = kSearchExhausted;
  SetLastError(ERROR_NO_MORE_FILES);
  return FALSE;
}

// One step of the depth-first walk below the start entry. It needs no
// stack: after an entry come its first child (when recursing), else its next
// sibling, else the next sibling of the nearest ancestor below the start.
BOOL CQVFileArray::DirectorySearch(HANDLE hFind, DWORD& dwIndex) {
  auto* handle = static_cast<SearchHandle*>(hFind);
  const bool recurse = handle->filter != nullptr && (handle->filter->filter.dwFlags & QVFF_RECURSE);
  auto exhausted = [&]() {
    handle->current = kSearchExhausted;
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  };
  if (handle->current == kSearchExhausted || !IsValidIndex(handle->start)) return exhausted();

  DWORD candidate;
  if (handle->current == 0) {
    candidate = GetEntry(handle->start)->dwFirstChild;
  } else {
    if (!IsValidIndex(handle->current)) return exhausted();
    candidate = 0;
  }
  DWORD from = handle->current;
  for (;;) {
    if (from != 0) {
      const QVFA_INDEXENTRY* entry = GetEntry(from);
      candidate = recurse ? entry->dwFirstChild : 0;
      for (DWORD climb = from; candidate == 0;) {
        const QVFA_INDEXENTRY* at = GetEntry(climb);
        if (at->dwNextSibling != 0) {
          candidate = at->dwNextSibling;
          break;
        }
        climb = at->dwParent;
        if (climb == handle->start || climb == 0 || !IsValidIndex(climb)) return exhausted();
      }
    }
    if (candidate == 0 || !IsValidIndex(candidate)) return exhausted();
    handle->current = candidate;
    if (handle->filter == nullptr || EntryPassesFilter(GetEntry(candidate), handle->filter)) {
      dwIndex = candidate;
      return TRUE;
    }
    from = candidate;
  }
}

BOOL CQVFileArray::FindClose(HANDLE hFind) {
  auto found = m_setSearchHandles.find(hFind);
  if (hFind == nullptr || found == m_setSearchHandles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  m_setSearchHandles.erase(found);
  FreeSearch(hFind);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
