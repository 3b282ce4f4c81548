// The archive's records on disk, decoded at named offsets, little-endian.
//
// Header (246 bytes):
//   0 magic "SQVO" | 4 version 1 | 8 identifier (16) | 24 increment number
//   28 reserved | 32 flags | 36 compression | 40 block size | 44 volume size (8)
//   52 encryption type (1) | 53 reserved (96) | 149 extension (6 UTF-16 units)
//   161 password check value (20) | 181 user data (8) | 189 end of data (8)
//   197 reserved (49)
// Block header (14 bytes):
//   0 stored length | 4 kind and marks (2) | 6 data length | 10 checksum
#ifndef QVBACKUP_STORAGE_ARCHIVE_LAYOUT_H_
#define QVBACKUP_STORAGE_ARCHIVE_LAYOUT_H_

#include <cstring>

#include "qvbackup/wintypes.h"

namespace qv::storage {

namespace header {
constexpr DWORD kMagic = 0;
constexpr DWORD kVersion = 4;
constexpr DWORD kIdentifier = 8;
constexpr DWORD kIncrement = 24;
constexpr DWORD kFlags = 32;
constexpr DWORD kCompression = 36;
constexpr DWORD kBlockSize = 40;
constexpr DWORD kVolumeSize = 44;
constexpr DWORD kEncryptionType = 52;
constexpr DWORD kExtension = 149;
constexpr DWORD kExtensionUnits = 6;  // 5 characters and the terminator
constexpr DWORD kCheckValue = 161;
constexpr DWORD kCheckValueSize = 20;
constexpr DWORD kUserData = 181;
constexpr DWORD kEndOfData = 189;
constexpr DWORD kSize = 246;
constexpr BYTE kMagicBytes[4] = {'S', 'Q', 'V', 'O'};
}  // namespace header

namespace block {
constexpr DWORD kStoredLength = 0;
constexpr DWORD kKind = 4;
constexpr DWORD kDataLength = 6;
constexpr DWORD kChecksum = 10;
constexpr DWORD kSize = 14;
}  // namespace block

// Where a self-extracting program's DOS header keeps the archive's offset.
constexpr DWORD kStubMarkerOffset = 28;
constexpr DWORD kStubProbeSize = 40;

inline WORD GetWord(const BYTE* base, DWORD at) {
  return static_cast<WORD>(base[at] | base[at + 1] << 8);
}
inline DWORD GetDword(const BYTE* base, DWORD at) {
  return static_cast<DWORD>(base[at]) | static_cast<DWORD>(base[at + 1]) << 8 |
         static_cast<DWORD>(base[at + 2]) << 16 | static_cast<DWORD>(base[at + 3]) << 24;
}
inline ULONGLONG GetQword(const BYTE* base, DWORD at) {
  return static_cast<ULONGLONG>(GetDword(base, at)) | static_cast<ULONGLONG>(GetDword(base, at + 4)) << 32;
}
inline void PutWord(BYTE* base, DWORD at, WORD value) {
  base[at] = static_cast<BYTE>(value);
  base[at + 1] = static_cast<BYTE>(value >> 8);
}
inline void PutDword(BYTE* base, DWORD at, DWORD value) {
  for (int i = 0; i < 4; ++i) base[at + i] = static_cast<BYTE>(value >> (8 * i));
}
inline void PutQword(BYTE* base, DWORD at, ULONGLONG value) {
  for (int i = 0; i < 8; ++i) base[at + i] = static_cast<BYTE>(value >> (8 * i));
}

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_ARCHIVE_LAYOUT_H_
