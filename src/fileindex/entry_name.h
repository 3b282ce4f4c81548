// An entry's name, copied out of the image. Entries follow each other
// without padding (user data has any length), so a name may start at an odd
// address and is never read in place as UTF-16.
#ifndef QVBACKUP_FILEINDEX_ENTRY_NAME_H_
#define QVBACKUP_FILEINDEX_ENTRY_NAME_H_

#include <cstddef>
#include <cstring>

#include "qvbackup/qvfilearray.h"

namespace qv::fileindex {

// The most name bytes an entry holds: the longest name and its terminator.
constexpr DWORD kMaxNameBytes = (QVFA_MAXNAMELENGTH + 1) * sizeof(WCHAR);

inline const BYTE* NameBytes(const QVFA_INDEXENTRY* entry) {
  return reinterpret_cast<const BYTE*>(entry) + QVFA_ENTRYHEADERSIZE;
}

// Bytes of the name field, terminator included (0 for the root, whose header
// is all zeros).
inline DWORD NameFieldBytes(const QVFA_INDEXENTRY* entry) {
  DWORD offset = entry->wUserDataOffset;
  if (offset <= QVFA_ENTRYHEADERSIZE) return 0;
  DWORD bytes = offset - QVFA_ENTRYHEADERSIZE;
  return bytes > kMaxNameBytes ? kMaxNameBytes : bytes;
}

inline WCHAR FirstNameChar(const QVFA_INDEXENTRY* entry) {
  if (NameFieldBytes(entry) < sizeof(WCHAR)) return 0;
  WCHAR first;
  std::memcpy(&first, NameBytes(entry), sizeof(first));
  return first;
}

class EntryName {
 public:
  explicit EntryName(const QVFA_INDEXENTRY* entry) {
    DWORD bytes = NameFieldBytes(entry);
    std::memcpy(buffer_, NameBytes(entry), bytes);
    std::size_t units = bytes / sizeof(WCHAR);
    buffer_[units < QVFA_MAXNAMELENGTH ? units : QVFA_MAXNAMELENGTH] = 0;
    length_ = 0;
    while (buffer_[length_] != 0) ++length_;
  }
  EntryName(const EntryName&) = delete;
  EntryName& operator=(const EntryName&) = delete;

  const WCHAR* c_str() const { return buffer_; }
  std::size_t length() const { return length_; }

 private:
  WCHAR buffer_[QVFA_MAXNAMELENGTH + 1];
  std::size_t length_;
};

}  // namespace qv::fileindex

#endif  // QVBACKUP_FILEINDEX_ENTRY_NAME_H_
