// libgcrypt start-up, error mapping and wiping.
#include "services/crypto_library.h"

#include <gcrypt.h>

#include <atomic>
#include <cstdarg>

namespace qv::crypto {
namespace {

// The library never prints: libgcrypt's own messages are dropped.
void DiscardLogLine(void*, int, const char*, va_list) {}

bool StartLibrary() {
  if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
    // The host owns libgcrypt's settings; only the version is ours to check.
    return gcry_check_version(GCRYPT_VERSION) != nullptr;
  }
  if (gcry_check_version(GCRYPT_VERSION) == nullptr) return false;
  gcry_set_log_handler(DiscardLogLine, nullptr);
  // Secure memory would need the right to lock pages, which a library cannot
  // assume (without it libgcrypt warns on stderr). We hold no secrets in
  // libgcrypt's allocations beyond a cipher handle's life, and libgcrypt
  // wipes those when they are released; our own copies are wiped by us.
  gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  return true;
}

}  // namespace

bool LibraryReady() {
  static const bool ready = StartLibrary();
  return ready;
}

DWORD WindowsErrorOf(unsigned int gcryptError) {
  switch (gcry_err_code(gcryptError)) {
    case GPG_ERR_ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case GPG_ERR_CHECKSUM:
      return ERROR_INVALID_DATA;
    default:
      return ERROR_GEN_FAILURE;
  }
}

void SecureWipe(void* data, std::size_t size) {
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

}  // namespace qv::crypto
