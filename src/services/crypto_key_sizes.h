// The key sizes the crypto service accepts, by code and by bits.
#ifndef QVBACKUP_SERVICES_CRYPTO_KEY_SIZES_H_
#define QVBACKUP_SERVICES_CRYPTO_KEY_SIZES_H_

#include <cstddef>

#include "qvbackup/qvcrypto.h"

namespace qv::crypto {

// Bytes of a key of code `keyType`; 0 for a code we do not know.
constexpr std::size_t KeyBytesOfCode(QV_KEYTYPE keyType) {
  switch (keyType) {
    case QV_KEY_32:
      return 4;
    case QV_KEY_64:
      return 8;
    case QV_KEY_128:
      return 16;
    case QV_KEY_160:
      return 20;
    case QV_KEY_256:
      return 32;
    default:
      return 0;
  }
}

constexpr bool IsSupportedKeyBits(DWORD bits) {
  return bits == 32 || bits == 64 || bits == 128 || bits == 160 || bits == 256;
}

}  // namespace qv::crypto

#endif  // QVBACKUP_SERVICES_CRYPTO_KEY_SIZES_H_
