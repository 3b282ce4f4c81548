// AES-256-GCM with a caller-given nonce and optional associated data (bytes
// the tag covers without encrypting them): the core of encryption
// algorithm 3. Choosing the nonce is the caller's job.
#ifndef QVBACKUP_SERVICES_CRYPTO_GCM_H_
#define QVBACKUP_SERVICES_CRYPTO_GCM_H_

#include <cstddef>

#include "qvbackup/wintypes.h"

struct gcry_cipher_handle;

namespace qv::crypto {

inline constexpr std::size_t kGcmKeyBytes = 32;
inline constexpr std::size_t kGcmNonceBytes = 12;
inline constexpr std::size_t kGcmTagBytes = 16;

class AesGcm {
 public:
  AesGcm() = default;
  ~AesGcm();
  AesGcm(const AesGcm&) = delete;
  AesGcm& operator=(const AesGcm&) = delete;

  // Opens the cipher with a 32-byte key. ERROR_SUCCESS or a Windows error.
  DWORD SetKey(const BYTE* key);

  // Encrypts `size` bytes of `plain` into `cipher` (same size; may be the
  // same buffer, not otherwise overlapping) and writes the 16-byte tag,
  // which also covers the `associatedSize` bytes at `associated`.
  DWORD Seal(const BYTE* nonce, const BYTE* plain, std::size_t size, BYTE* cipher, BYTE* tag,
             const BYTE* associated = nullptr, std::size_t associatedSize = 0);

  // Decrypts `size` bytes at `data` in place and checks `tag` over them and
  // the associated bytes. On a mismatch the bytes are zeroed
  // (unauthenticated plain text is never handed out) and the result is
  // ERROR_INVALID_DATA.
  DWORD Open(const BYTE* nonce, BYTE* data, std::size_t size, const BYTE* tag, const BYTE* associated = nullptr,
             std::size_t associatedSize = 0);

 private:
  DWORD Restart(const BYTE* nonce, const BYTE* associated, std::size_t associatedSize);

  gcry_cipher_handle* m_hCipher = nullptr;
};

}  // namespace qv::crypto

#endif  // QVBACKUP_SERVICES_CRYPTO_GCM_H_
