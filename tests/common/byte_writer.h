// Little-endian field writers for tests that build on-disk structures by
// hand.
#ifndef QVBACKUP_TESTS_COMMON_BYTE_WRITER_H_
#define QVBACKUP_TESTS_COMMON_BYTE_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvtest {

inline void PutLittleEndian(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) { PutLittleEndian(b, at, v, 2); }
inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { PutLittleEndian(b, at, v, 4); }

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_COMMON_BYTE_WRITER_H_
