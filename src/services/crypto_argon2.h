// Argon2id (version 1.3) over libgcrypt, and the cost the archive format
// derives its keys with.
#ifndef QVBACKUP_SERVICES_CRYPTO_ARGON2_H_
#define QVBACKUP_SERVICES_CRYPTO_ARGON2_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "qvbackup/wintypes.h"

namespace qv::crypto {

struct Argon2Cost {
  unsigned long passes;     // t
  unsigned long memoryKiB;  // m
  unsigned long lanes;      // p
};

// The cost of every archive key: part of the archive format, so it can never
// change without making existing archives unreadable. 19 MiB and two passes
// is the Argon2id cost current password-storage guidance recommends (about
// 20 ms, paid once per password thanks to the memo); one lane because the
// library starts no threads.
inline constexpr Argon2Cost kArchiveKeyCost{2, 19456, 1};

struct Argon2Input {
  std::string_view password;         // not empty (libgcrypt 1.10 refuses it)
  std::span<const BYTE> salt;        // at least one byte
  std::span<const BYTE> secret;      // Argon2's optional key K
  std::span<const BYTE> associated;  // Argon2's optional associated data X
};

// Computes Argon2id of `input` at `cost` into `size` bytes at `output`.
// ERROR_SUCCESS, or ERROR_INVALID_PARAMETER for inputs Argon2 refuses,
// ERROR_NOT_ENOUGH_MEMORY, ERROR_GEN_FAILURE when libgcrypt cannot start.
DWORD Argon2id(const Argon2Input& input, const Argon2Cost& cost, BYTE* output, std::size_t size);

// How many Argon2id computations this process has run; lets the tests see
// that remembered keys are not derived again.
std::uint64_t Argon2idRunCount();

}  // namespace qv::crypto

#endif  // QVBACKUP_SERVICES_CRYPTO_ARGON2_H_
