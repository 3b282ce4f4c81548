// CQVCrypto: hash type 0, CRC-32 over zlib.
#include <zlib.h>

#include <cstdint>

#include "qvbackup/qvcrypto.h"

namespace {

// Marks a live hash handle, so that a stray pointer of another kind (or a
// released handle still in the heap) is refused rather than used.
constexpr std::uint32_t kCrc32HashTag = 0x48435243;  // "CRCH"

struct Crc32Hash {
  std::uint32_t tag = kCrc32HashTag;
  uLong crc = crc32(0L, Z_NULL, 0);
};

Crc32Hash* HashOf(void* handle) {
  auto* hash = static_cast<Crc32Hash*>(handle);
  if (hash == nullptr || hash->tag != kCrc32HashTag) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return hash;
}

void Release(Crc32Hash* hash) {
  hash->tag = 0;
  delete hash;
}

}  // namespace

void* CQVCrypto::HashCreate(QV_HASHTYPE hashType, const BYTE* /*pbKey*/, DWORD /*cbKey*/) {
  if (hashType != QV_HASH_CRC32) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  return new Crc32Hash;
}

BOOL CQVCrypto::HashAddData(void* hHash, const BYTE* pbData, DWORD cbData) {
  Crc32Hash* hash = HashOf(hHash);
  if (hash == nullptr) return FALSE;
  if (cbData == 0) return TRUE;
  if (pbData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // uInt is 32 bits on both targets, so one call takes any DWORD length.
  hash->crc = crc32(hash->crc, pbData, static_cast<uInt>(cbData));
  return TRUE;
}

BOOL CQVCrypto::HashGetClose(void* hHash, BYTE* pbOutput) {
  Crc32Hash* hash = HashOf(hHash);
  if (hash == nullptr) return FALSE;
  const std::uint32_t crc = static_cast<std::uint32_t>(hash->crc);
  Release(hash);
  if (pbOutput == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (int i = 0; i < 4; ++i) pbOutput[i] = static_cast<BYTE>(crc >> (8 * i));
  return TRUE;
}
