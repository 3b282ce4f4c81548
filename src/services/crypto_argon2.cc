// Argon2id through libgcrypt's KDF handle interface (open, compute, final).
#include "services/crypto_argon2.h"

#include <gcrypt.h>

#include <atomic>
#include <memory>

#include "services/crypto_library.h"

namespace qv::crypto {
namespace {

std::atomic<std::uint64_t> g_runCount{0};

struct KdfCloser {
  void operator()(gcry_kdf_handle* handle) const { gcry_kdf_close(handle); }
};
using KdfHandle = std::unique_ptr<gcry_kdf_handle, KdfCloser>;

DWORD ErrorOfOpen(gcry_error_t error) {
  // An invalid value at open means an input Argon2 does not accept.
  return gcry_err_code(error) == GPG_ERR_INV_VALUE ? ERROR_INVALID_PARAMETER
                                                   : WindowsErrorOf(error);
}

}  // namespace

DWORD Argon2id(const Argon2Input& input, const Argon2Cost& cost, BYTE* output, std::size_t size) {
  if (!LibraryReady()) return ERROR_GEN_FAILURE;
  if (input.password.empty() || input.salt.empty() || output == nullptr || size == 0) {
    return ERROR_INVALID_PARAMETER;
  }
  // libgcrypt's order: tag length, passes, memory, lanes.
  const unsigned long params[4] = {static_cast<unsigned long>(size), cost.passes, cost.memoryKiB,
                                   cost.lanes};
  gcry_kdf_hd_t raw = nullptr;
  gcry_error_t error = gcry_kdf_open(
      &raw, GCRY_KDF_ARGON2, GCRY_KDF_ARGON2ID, params, 4, input.password.data(),
      input.password.size(), input.salt.data(), input.salt.size(),
      input.secret.empty() ? nullptr : input.secret.data(), input.secret.size(),
      input.associated.empty() ? nullptr : input.associated.data(), input.associated.size());
  if (error) return ErrorOfOpen(error);
  KdfHandle handle(raw);
  ++g_runCount;
  error = gcry_kdf_compute(handle.get(), nullptr);
  if (!error) error = gcry_kdf_final(handle.get(), size, output);
  return error ? WindowsErrorOf(error) : static_cast<DWORD>(ERROR_SUCCESS);
}

std::uint64_t Argon2idRunCount() { return g_runCount.load(); }

}  // namespace qv::crypto
