#include "fileindex/name_crc.h"

#include <array>

namespace qv::fileindex {

namespace {

constexpr std::array<DWORD, 256> MakeCrcTable() {
  std::array<DWORD, 256> table{};
  for (DWORD n = 0; n < 256; ++n) {
    DWORD c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<DWORD, 256> kCrcTable = MakeCrcTable();

}  // namespace

DWORD NameCRC(const WCHAR* name, std::size_t length) {
  if (length == 0) return 0;
  DWORD crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) {
    BYTE low = static_cast<BYTE>(UpperAZ(name[i]) & 0xFF);
    crc = kCrcTable[(crc ^ low) & 0xFF] ^ (crc >> 8);
  }
  return crc ^ 0xFFFFFFFFu;
}

bool EqualNoCaseAZ(const WCHAR* a, std::size_t aLength, const WCHAR* b, std::size_t bLength) {
  if (aLength != bLength) return false;
  for (std::size_t i = 0; i < aLength; ++i) {
    if (UpperAZ(a[i]) != UpperAZ(b[i])) return false;
  }
  return true;
}

const WCHAR* FindExtension(const WCHAR* name, std::size_t length) {
  for (std::size_t i = length; i > 0; --i) {
    if (name[i - 1] == u'.') return name + i;
  }
  return nullptr;
}

}  // namespace qv::fileindex
