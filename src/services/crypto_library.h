// What every part of the crypto service shares: libgcrypt's one-time start,
// its error codes in Windows numbers, and wiping of secrets.
#ifndef QVBACKUP_SERVICES_CRYPTO_LIBRARY_H_
#define QVBACKUP_SERVICES_CRYPTO_LIBRARY_H_

#include <cstddef>

#include "qvbackup/wintypes.h"

namespace qv::crypto {

// Starts libgcrypt once per process (safe from any thread). When the host
// has already started it, its settings are kept. FALSE when the linked
// libgcrypt is older than the one we were built with.
bool LibraryReady();

// The Windows error number for a libgcrypt error value: 8 for exhausted
// memory, 13 for a failed authentication check, 31 for anything else.
DWORD WindowsErrorOf(unsigned int gcryptError);

// Overwrites `size` bytes at `data` with zeros in a way the compiler may not
// drop as a dead store. A null pointer with size 0 is fine.
void SecureWipe(void* data, std::size_t size);

}  // namespace qv::crypto

#endif  // QVBACKUP_SERVICES_CRYPTO_LIBRARY_H_
