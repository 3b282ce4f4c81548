// Little-endian field reads shared by the on-disk decoders of FAT and NTFS.
// Both file systems store every multi-byte field least significant byte
// first, at any alignment, so fields are assembled byte by byte.
#ifndef QVBACKUP_FILEINDEX_LITTLE_ENDIAN_H_
#define QVBACKUP_FILEINDEX_LITTLE_ENDIAN_H_

#include <cstddef>
#include <cstdint>

namespace qv {

// The `width` bytes at `bytes` as an unsigned little-endian number
// (`width` at most 8).
inline std::uint64_t LoadLittleEndian(const std::uint8_t* bytes, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value |= std::uint64_t{bytes[i]} << (8 * i);
  return value;
}

inline std::uint16_t LoadLe16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(LoadLittleEndian(bytes, 2));
}
inline std::uint32_t LoadLe32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(LoadLittleEndian(bytes, 4));
}
inline std::uint64_t LoadLe64(const std::uint8_t* bytes) { return LoadLittleEndian(bytes, 8); }

}  // namespace qv

#endif  // QVBACKUP_FILEINDEX_LITTLE_ENDIAN_H_
