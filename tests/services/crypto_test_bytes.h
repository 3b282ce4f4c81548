// Bytes written as hexadecimal text, for known answers and readable failures.
#ifndef QVBACKUP_TESTS_SERVICES_CRYPTO_TEST_BYTES_H_
#define QVBACKUP_TESTS_SERVICES_CRYPTO_TEST_BYTES_H_

#include <string>
#include <string_view>
#include <vector>

#include "qvbackup/wintypes.h"

namespace qvtest {

inline std::vector<BYTE> FromHex(std::string_view hex) {
  auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  std::vector<BYTE> bytes(hex.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<BYTE>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
  }
  return bytes;
}

inline std::string ToHex(const BYTE* data, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < size; ++i) {
    hex += kDigits[data[i] >> 4];
    hex += kDigits[data[i] & 15];
  }
  return hex;
}

inline std::string ToHex(const std::vector<BYTE>& bytes) {
  return ToHex(bytes.data(), bytes.size());
}

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_SERVICES_CRYPTO_TEST_BYTES_H_
