// Adding entries: appending to the image, linking into the tree, and the walk
// that turns a full path into a chain of entries.
#include <cstring>

#include "fileindex/entry_name.h"
#include "fileindex/entry_time.h"
#include "fileindex/name_crc.h"
#include "platform/file_system.h"
#include "qvbackup/qvfilearray.h"

using qv::fileindex::EqualNoCaseAZ;
using qv::fileindex::FindExtension;
using qv::fileindex::NameCRC;
using qv::fileindex::TextLength;

namespace {

// One component of a path: where it starts and how long it is.
struct Component {
  const WCHAR* text;
  std::size_t length;
  bool last;
};

// The component starting at `position`: up to the next backslash or the end.
Component NextComponent(const WCHAR* path, std::size_t length, std::size_t position) {
  std::size_t end = position;
  while (end < length && path[end] != u'\\') ++end;
  // A trailing backslash ends the walk, so the component before it is the last.
  bool last = end >= length - 1;
  return {path + position, end - position, last};
}

// Empty components (a doubled or leading backslash) would create nameless
// entries; over-long ones cannot be looked up. Both are refused before
// anything is added.
bool CheckComponents(const WCHAR* path, std::size_t length) {
  for (std::size_t position = 0; position < length;) {
    Component component = NextComponent(path, length, position);
    if (component.length == 0) {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    }
    if (component.length > QVFA_MAXNAMELENGTH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    position += component.length + 1;
  }
  return true;
}

}  // namespace

DWORD CQVFileArray::GetStringCRC(LPCWSTR pszName) { return NameCRC(pszName, TextLength(pszName)); }

DWORD CQVFileArray::CreateEntry(DWORD dwNameBytes, DWORD dwParent, BYTE bUserDataSize,
                                const void* pUserData) {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return 0;
  }
  DWORD entrySize = QVFA_ENTRYHEADERSIZE + dwNameBytes + bUserDataSize;
  if (!EnsureCapacity(entrySize)) return 0;

  DWORD index = m_dwUsed;
  WORD previousSize;
  std::memcpy(&previousSize, m_pImage + m_dwUsed, sizeof(previousSize));
  GetEntry(m_dwUsed - previousSize)->wSize = previousSize;

  QVFA_INDEXENTRY* entry = GetEntry(index);
  std::memset(entry, 0, QVFA_ENTRYHEADERSIZE + dwNameBytes);
  entry->wTag = QVFA_ENTRYTAG;
  entry->dwParent = dwParent;
  entry->bUserDataSize = bUserDataSize;
  entry->wUserDataOffset = static_cast<WORD>(QVFA_ENTRYHEADERSIZE + dwNameBytes);
  BYTE* userData = m_pImage + index + entry->wUserDataOffset;
  if (pUserData != nullptr) {
    std::memcpy(userData, pUserData, bUserDataSize);
  } else {
    std::memset(userData, 0, bUserDataSize);
  }

  if (dwParent != QVFA_NOTLINKED) LinkAsLastChild(index, dwParent);

  m_dwUsed += entrySize;
  WORD trailer = static_cast<WORD>(entrySize);
  std::memcpy(m_pImage + m_dwUsed, &trailer, sizeof(trailer));
  ++m_dwEntryCount;
  return index;
}

// Appends the entry to the end of its parent's child list: children stay in
// the order they were linked.
void CQVFileArray::LinkAsLastChild(DWORD dwIndex, DWORD dwParent) {
  QVFA_INDEXENTRY* entry = GetEntry(dwIndex);
  QVFA_INDEXENTRY* parent = GetEntry(dwParent);
  entry->dwParent = dwParent;
  if (parent->dwLastChild != 0) {
    GetEntry(parent->dwLastChild)->dwNextSibling = dwIndex;
    entry->dwPrevSibling = parent->dwLastChild;
  } else {
    parent->dwFirstChild = dwIndex;
  }
  parent->dwLastChild = dwIndex;
}

// Writes the name and its two keys into a new entry.
static void FillName(QVFA_INDEXENTRY* entry, const WCHAR* name, std::size_t length) {
  entry->dwNameCRC = NameCRC(name, length);
  const WCHAR* extension = FindExtension(name, length);
  entry->dwExtensionCRC =
      extension ? NameCRC(extension, length - static_cast<std::size_t>(extension - name)) : 0;
  // The name may start at an odd address: it is written as bytes.
  BYTE* target = reinterpret_cast<BYTE*>(entry) + QVFA_ENTRYHEADERSIZE;
  std::memcpy(target, name, length * sizeof(WCHAR));
  std::memset(target + length * sizeof(WCHAR), 0, sizeof(WCHAR));
}

DWORD CQVFileArray::CreateDirectoryEntry(const _tagQVFA_FILEINFO* pInfo, LPCWSTR pszName,
                                         DWORD dwNameLength, DWORD dwParent,
                                         BYTE bUserDataSize, const void* pUserData) {
  DWORD index = CreateEntry((dwNameLength + 1) * sizeof(WCHAR), dwParent, bUserDataSize, pUserData);
  if (index == 0) return 0;
  QVFA_INDEXENTRY* entry = GetEntry(index);
  FillName(entry, pszName, dwNameLength);
  RememberChild(dwParent, entry->dwNameCRC, index);
  entry->dwAttributes = pInfo->dwFileAttributes;
  QVFA_COPY_TIME(entry->ftCreationTime, pInfo->ftCreationTime);
  QVFA_COPY_TIME(entry->ftLastAccessTime, pInfo->ftLastAccessTime);
  QVFA_COPY_TIME(entry->ftChangeTime, pInfo->ftChangeTime);
  entry->ullSize = pInfo->ullSize;
  QVFA_COPY_TIME(entry->ftLastWriteTime, pInfo->ftLastWriteTime);
  entry->dwVolumeReference = static_cast<DWORD>(pInfo->ullReference & 0xFFFFFFFFu);
  entry->bState = (pInfo->ullState & 1) ? QVFA_INUSE : 0;
  return index;
}

DWORD CQVFileArray::CreateDirectoryEntry(LPCWSTR pszName, DWORD dwNameLength, DWORD dwParent,
                                         BYTE bUserDataSize, const void* pUserData,
                                         const qv::platform::FileInformation* pListed) {
  qv::platform::FileInformation information;
  if (pListed != nullptr) {
    information = *pListed;
  } else {
    qv::WString path;
    if (dwParent != 0 && dwParent != QVFA_NOTLINKED) {
      CQVString parentPath = GetPathName(dwParent);
      path.assign(static_cast<LPCWSTR>(parentPath), parentPath.GetLength());
    }
    if (!path.empty() && path.back() != u'\\') path.push_back(u'\\');
    path.append(pszName, dwNameLength);
    if (!qv::platform::GetFileInformation(path.c_str(), &information)) return 0;
  }

  DWORD index = CreateEntry((dwNameLength + 1) * sizeof(WCHAR), dwParent, bUserDataSize, pUserData);
  if (index == 0) return 0;
  QVFA_INDEXENTRY* entry = GetEntry(index);
  FillName(entry, pszName, dwNameLength);
  RememberChild(dwParent, entry->dwNameCRC, index);
  entry->dwAttributes = information.attributes;
  QVFA_COPY_TIME(entry->ftCreationTime, information.creationTime);
  QVFA_COPY_TIME(entry->ftLastAccessTime, information.lastAccessTime);
  QVFA_COPY_TIME(entry->ftChangeTime, information.lastWriteTime);
  QVFA_COPY_TIME(entry->ftLastWriteTime, information.lastWriteTime);
  entry->ullSize = information.size;
  SetLastError(ERROR_SUCCESS);
  return index;
}

DWORD CQVFileArray::FindChild(LPCWSTR pszName, DWORD dwNameLength, DWORD dwParent) {
  return FindChildWithCRC(pszName, dwNameLength, NameCRC(pszName, dwNameLength), dwParent);
}

DWORD CQVFileArray::Add(LPCWSTR pszPath, _tagQVFA_FILEINFO* pInfo, DWORD dwFlags,
                        BYTE bUserDataSize, const void* pUserData) {
  return GetDirectoryEntry(pszPath, pInfo, dwFlags, bUserDataSize, pUserData);
}

DWORD CQVFileArray::AddChild(DWORD dwParent, LPCWSTR pszName, const _tagQVFA_FILEINFO* pInfo, DWORD dwFlags,
                             BYTE bUserDataSize, const void* pUserData) {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return 0;
  }
  if (pInfo == nullptr || pszName == nullptr || (dwParent != 0 && !IsValidIndex(dwParent))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::size_t length = TextLength(pszName);
  for (std::size_t i = 0; i < length; ++i) {
    if (pszName[i] == u'\\') {
      SetLastError(ERROR_INVALID_NAME);
      return 0;
    }
  }
  if (length == 0 || !CheckComponents(pszName, length)) {
    if (length == 0) SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  const DWORD nameLength = static_cast<DWORD>(length);
  const DWORD match = FindChildWithCRC(pszName, nameLength, NameCRC(pszName, length), dwParent,
                                       (dwFlags & QVFA_ADD_EXACT_CASE) != 0);
  const bool clone = match != 0 && (dwFlags & QVFA_ADD_CLONE);
  if (match != 0 && !clone) return match;
  _tagQVFA_FILEINFO info = *pInfo;
  info.ullReference = 0;
  const DWORD created = CreateDirectoryEntry(&info, pszName, nameLength, dwParent, bUserDataSize, pUserData);
  if (created == 0) return 0;
  if (clone) {
    GetEntry(match)->bState |= QVFA_HASCLONES;
    GetEntry(created)->bState |= QVFA_CLONE;
  }
  SetLastError(ERROR_SUCCESS);
  return created;
}

DWORD CQVFileArray::GetDirectoryEntry(LPCWSTR pszPath, _tagQVFA_FILEINFO* pInfo, DWORD dwFlags,
                                      BYTE bUserDataSize, const void* pUserData) {
  const std::size_t exactFrom = (dwFlags & QVFA_ADD_EXACT_CASE) ? 0 : static_cast<std::size_t>(-1);
  return GetDirectoryEntry(pszPath, pInfo, dwFlags, bUserDataSize, pUserData, exactFrom);
}

DWORD CQVFileArray::AddListedChild(DWORD dwParent, LPCWSTR pszName, DWORD dwNameLength,
                                   const qv::platform::FileInformation& listed, DWORD dwFlags,
                                   BYTE bUserDataSize) {
  if (!CheckComponents(pszName, dwNameLength)) return 0;
  const DWORD match = FindChildWithCRC(pszName, dwNameLength, NameCRC(pszName, dwNameLength), dwParent, true);
  const bool clone = match != 0 && (dwFlags & QVFA_ADD_CLONE);
  if (match != 0 && !clone) return match;
  if (match == 0 && (dwFlags & QVFA_ADD_LOOKUP)) {
    SetLastError(ERROR_NOT_FOUND);
    return 0;
  }
  const DWORD created = CreateDirectoryEntry(pszName, dwNameLength, dwParent, bUserDataSize, nullptr, &listed);
  if (created != 0 && clone) {
    GetEntry(match)->bState |= QVFA_HASCLONES;
    GetEntry(created)->bState |= QVFA_CLONE;
  }
  return created;
}

DWORD CQVFileArray::GetDirectoryEntry(LPCWSTR pszPath, _tagQVFA_FILEINFO* pInfo, DWORD dwFlags,
                                      BYTE bUserDataSize, const void* pUserData, std::size_t exactFrom,
                                      const qv::platform::FileInformation* pListed) {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return 0;
  }
  std::size_t length;
  if (pInfo != nullptr) {
    pszPath = pInfo->szName;
    length = 0;
    while (length < MAX_PATH && pszPath[length] != 0) ++length;
    if (length == MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
  } else {
    if (pszPath == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    length = TextLength(pszPath);
  }
  if (length == 0) return 0;
  if (!CheckComponents(pszPath, length)) return 0;

  DWORD current = 0;
  for (std::size_t position = 0; position < length;) {
    Component component = NextComponent(pszPath, length, position);
    DWORD nameLength = static_cast<DWORD>(component.length);
    DWORD crc = NameCRC(component.text, component.length);
    DWORD match = FindChildWithCRC(component.text, nameLength, crc, current, position >= exactFrom);
    const bool clone = match != 0 && component.last && (dwFlags & QVFA_ADD_CLONE);
    if (match != 0 && !clone) {
      current = match;
    } else {
      if (match == 0 && (dwFlags & QVFA_ADD_LOOKUP)) {
        SetLastError(ERROR_NOT_FOUND);
        return 0;
      }
      // A record describes only the last component; the folders above it
      // must be in the index already.
      if (pInfo != nullptr && !component.last) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
      }
      BYTE dataSize = bUserDataSize;
      const void* data = component.last ? pUserData : nullptr;
      DWORD created =
          pInfo != nullptr
              ? CreateDirectoryEntry(pInfo, component.text, nameLength, current, dataSize, data)
              : CreateDirectoryEntry(component.text, nameLength, current, dataSize, data,
                                     component.last ? pListed : nullptr);
      if (created == 0) return 0;
      if (clone) {
        GetEntry(match)->bState |= QVFA_HASCLONES;
        GetEntry(created)->bState |= QVFA_CLONE;
      }
      current = created;
    }
    position += component.length + 1;
  }
  return current;
}

DWORD CQVFileArray::FastFindNameCRC(DWORD dwCRC, DWORD dwStart) {
  DWORD index = dwStart == 0 ? GetEntry(0)->wSize : dwStart;
  if (index == 0) {
    SetLastError(ERROR_NOT_FOUND);
    return 0;
  }
  if (!IsValidIndex(index)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  for (;;) {
    QVFA_INDEXENTRY* entry = GetEntry(index);
    if (entry->dwNameCRC == dwCRC) return index;
    if (entry->wSize == 0 || index + entry->wSize >= m_dwUsed) break;
    index += entry->wSize;
  }
  SetLastError(ERROR_NOT_FOUND);
  return 0;
}
