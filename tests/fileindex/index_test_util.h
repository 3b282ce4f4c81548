// Helpers for the file index tests: records, raw entry reads and names.
#ifndef QVBACKUP_TESTS_FILEINDEX_INDEX_TEST_UTIL_H_
#define QVBACKUP_TESTS_FILEINDEX_INDEX_TEST_UTIL_H_

#include <cstring>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "qvbackup/qvfilearray.h"

namespace qvtest {

// Packed records' times are set and read through their two halves.
#define QVTEST_TIME(time) ((static_cast<ULONGLONG>((time).dwHighDateTime) << 32) | (time).dwLowDateTime)

#define QVTEST_SET_TIME(time, value)                          \
  do {                                                        \
    (time).dwLowDateTime = static_cast<DWORD>(value);         \
    (time).dwHighDateTime = static_cast<DWORD>((value) >> 32); \
  } while (0)

// A file information record for `path` with the given attributes, size and
// times derived from `stamp`.
inline _tagQVFA_FILEINFO MakeInfo(const WString& path, DWORD attributes, ULONGLONG size = 0,
                                  ULONGLONG stamp = 0x01D0000012345678ull) {
  _tagQVFA_FILEINFO info;
  std::memset(&info, 0, sizeof(info));
  info.dwFileAttributes = attributes;
  // The record is packed: its times are written through their halves.
  QVTEST_SET_TIME(info.ftCreationTime, stamp);
  QVTEST_SET_TIME(info.ftLastAccessTime, stamp + 1);
  QVTEST_SET_TIME(info.ftChangeTime, stamp + 2);
  QVTEST_SET_TIME(info.ftLastWriteTime, stamp + 3);
  info.ullSize = size;
  std::memcpy(info.szName, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  return info;
}

// Adds `path` from a record; folders get 0x10, files 0x20.
inline DWORD AddRecord(CQVFileArray& index, const WString& path, bool folder,
                       ULONGLONG size = 0, DWORD flags = 0, BYTE userDataSize = 0,
                       const void* userData = nullptr) {
  _tagQVFA_FILEINFO info = MakeInfo(path, folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE, size);
  return index.Add(nullptr, &info, flags, userDataSize, userData);
}

// The header fields of an entry, unpacked so that tests can compare them
// without binding references to misaligned fields.
struct EntryFields {
  WORD wSize, wTag;
  DWORD dwFirstChild, dwLastChild, dwNextSibling, dwPrevSibling, dwParent;
  BYTE bState, bUserDataSize;
  WORD wUserDataOffset;
  DWORD dwNameCRC, dwExtensionCRC, dwAttributes;
  ULONGLONG ullCreationTime, ullLastAccessTime, ullChangeTime, ullSize, ullLastWriteTime;
  DWORD dwVolumeReference;
};

// The header of the entry at `offset` of the index's image (zeros when the
// offset lies outside it).
inline EntryFields EntryAt(CQVFileArray& index, DWORD offset) {
  DWORD size = 0;
  const BYTE* image = index.GetRawData(&size);
  QVFA_INDEXENTRY raw;
  std::memset(&raw, 0, sizeof(raw));
  if (offset + sizeof(raw) <= size) std::memcpy(&raw, image + offset, sizeof(raw));
  EntryFields e;
  e.wSize = raw.wSize;
  e.wTag = raw.wTag;
  e.dwFirstChild = raw.dwFirstChild;
  e.dwLastChild = raw.dwLastChild;
  e.dwNextSibling = raw.dwNextSibling;
  e.dwPrevSibling = raw.dwPrevSibling;
  e.dwParent = raw.dwParent;
  e.bState = raw.bState;
  e.bUserDataSize = raw.bUserDataSize;
  e.wUserDataOffset = raw.wUserDataOffset;
  e.dwNameCRC = raw.dwNameCRC;
  e.dwExtensionCRC = raw.dwExtensionCRC;
  e.dwAttributes = raw.dwAttributes;
  e.ullCreationTime = QVTEST_TIME(raw.ftCreationTime);
  e.ullLastAccessTime = QVTEST_TIME(raw.ftLastAccessTime);
  e.ullChangeTime = QVTEST_TIME(raw.ftChangeTime);
  e.ullSize = raw.ullSize;
  e.ullLastWriteTime = QVTEST_TIME(raw.ftLastWriteTime);
  e.dwVolumeReference = raw.dwVolumeReference;
  return e;
}

inline WORD WordAt(CQVFileArray& index, DWORD offset) {
  DWORD size = 0;
  const BYTE* image = index.GetRawData(&size);
  WORD value = 0;
  if (offset + 2 <= size) std::memcpy(&value, image + offset, 2);
  return value;
}

using Bytes = std::vector<BYTE>;

// A copy of the index's whole image, trailer included.
inline Bytes ImageOf(CQVFileArray& index) {
  DWORD size = 0;
  const BYTE* image = index.GetRawData(&size);
  return Bytes(image, image + size);
}

inline std::string Str(const CQVString& text) { return U8(static_cast<const WCHAR*>(text)); }

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_FILEINDEX_INDEX_TEST_UTIL_H_
