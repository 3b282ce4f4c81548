// The counted strings of platform/system_string.h, laid out as Windows lays
// them out: [32-bit byte count][characters][zero terminator].
#include "platform/system_string.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr std::size_t kPrefixBytes = sizeof(std::uint32_t);

}  // namespace

extern "C" {

BSTR SysAllocStringLen(const WCHAR* text, UINT length) {
  // The byte count must fit the 32-bit prefix.
  if (length > (std::numeric_limits<std::uint32_t>::max() - sizeof(WCHAR)) / sizeof(WCHAR)) return nullptr;
  const std::uint32_t bytes = length * sizeof(WCHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefixBytes + bytes + sizeof(WCHAR)));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &bytes, kPrefixBytes);
  auto* chars = reinterpret_cast<WCHAR*>(block + kPrefixBytes);
  if (text != nullptr) {
    std::memcpy(chars, text, bytes);
  } else {
    std::memset(chars, 0, bytes);
  }
  chars[length] = 0;
  return chars;
}

BSTR SysAllocString(const WCHAR* text) {
  if (text == nullptr) return nullptr;
  UINT length = 0;
  while (text[length] != 0) ++length;
  return SysAllocStringLen(text, length);
}

UINT SysStringLen(BSTR text) {
  if (text == nullptr) return 0;
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<unsigned char*>(text) - kPrefixBytes, kPrefixBytes);
  return bytes / sizeof(WCHAR);
}

void SysFreeString(BSTR text) {
  if (text == nullptr) return;
  std::free(reinterpret_cast<unsigned char*>(text) - kPrefixBytes);
}

}  // extern "C"
