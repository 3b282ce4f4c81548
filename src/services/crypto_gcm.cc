// AES-256-GCM over gcry_cipher.
#include "services/crypto_gcm.h"

#include <gcrypt.h>

#include "services/crypto_library.h"

namespace qv::crypto {

AesGcm::~AesGcm() {
  // Closing wipes the key schedule held by libgcrypt.
  if (m_hCipher != nullptr) gcry_cipher_close(m_hCipher);
}

DWORD AesGcm::SetKey(const BYTE* key) {
  if (!LibraryReady()) return ERROR_GEN_FAILURE;
  if (m_hCipher == nullptr) {
    gcry_error_t error = gcry_cipher_open(&m_hCipher, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_GCM, 0);
    if (error) {
      m_hCipher = nullptr;
      return WindowsErrorOf(error);
    }
  }
  gcry_error_t error = gcry_cipher_setkey(m_hCipher, key, kGcmKeyBytes);
  return error ? WindowsErrorOf(error) : static_cast<DWORD>(ERROR_SUCCESS);
}

DWORD AesGcm::Restart(const BYTE* nonce, const BYTE* associated, std::size_t associatedSize) {
  if (m_hCipher == nullptr) return ERROR_INVALID_HANDLE;
  // Every message starts from a clean state; the key stays.
  gcry_error_t error = gcry_cipher_reset(m_hCipher);
  if (!error) error = gcry_cipher_setiv(m_hCipher, nonce, kGcmNonceBytes);
  // Associated data goes in before any text, as GCM requires.
  if (!error && associatedSize != 0) error = gcry_cipher_authenticate(m_hCipher, associated, associatedSize);
  return error ? WindowsErrorOf(error) : static_cast<DWORD>(ERROR_SUCCESS);
}

DWORD AesGcm::Seal(const BYTE* nonce, const BYTE* plain, std::size_t size, BYTE* cipher, BYTE* tag,
                   const BYTE* associated, std::size_t associatedSize) {
  if (associated == nullptr && associatedSize != 0) return ERROR_INVALID_PARAMETER;
  DWORD result = Restart(nonce, associated, associatedSize);
  if (result != ERROR_SUCCESS) return result;
  gcry_error_t error = 0;
  if (size != 0) {
    error = plain == cipher ? gcry_cipher_encrypt(m_hCipher, cipher, size, nullptr, 0)
                            : gcry_cipher_encrypt(m_hCipher, cipher, size, plain, size);
  }
  if (!error) error = gcry_cipher_gettag(m_hCipher, tag, kGcmTagBytes);
  return error ? WindowsErrorOf(error) : static_cast<DWORD>(ERROR_SUCCESS);
}

DWORD AesGcm::Open(const BYTE* nonce, BYTE* data, std::size_t size, const BYTE* tag, const BYTE* associated,
                   std::size_t associatedSize) {
  if (associated == nullptr && associatedSize != 0) return ERROR_INVALID_PARAMETER;
  DWORD result = Restart(nonce, associated, associatedSize);
  if (result != ERROR_SUCCESS) return result;
  gcry_error_t error = 0;
  if (size != 0) error = gcry_cipher_decrypt(m_hCipher, data, size, nullptr, 0);
  if (!error) error = gcry_cipher_checktag(m_hCipher, tag, kGcmTagBytes);
  if (!error) return ERROR_SUCCESS;
  SecureWipe(data, size);
  return WindowsErrorOf(error);
}

}  // namespace qv::crypto
