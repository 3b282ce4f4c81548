// CQVCrypto: encryption algorithm 3, AES-256-GCM with a random nonce,
// stored as nonce || cipher text || tag.
#include <gcrypt.h>

#include <cstdint>
#include <cstring>

#include "qvbackup/qvcrypto.h"
#include "services/crypto_gcm.h"
#include "services/crypto_key_sizes.h"
#include "services/crypto_library.h"

namespace {

using qv::crypto::kGcmKeyBytes;
using qv::crypto::kGcmNonceBytes;
using qv::crypto::kGcmTagBytes;
using qv::crypto::SecureWipe;

static_assert(kGcmNonceBytes + kGcmTagBytes == QV_ENCRYPTION_OVERHEAD);

constexpr std::uint32_t kCipherTag = 0x4D434741;  // "AGCM"

struct CipherContext {
  std::uint32_t tag = kCipherTag;
  qv::crypto::AesGcm gcm;
};

CipherContext* ContextOf(void* handle) {
  auto* context = static_cast<CipherContext*>(handle);
  if (context == nullptr || context->tag != kCipherTag) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return context;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// The 32-byte AES key: the key itself at 256 bits, otherwise its SHA-256
// (which gives AES its key length; the strength stays the key's own).
void CipherKeyOf(const BYTE* key, DWORD bits, BYTE* cipherKey) {
  if (bits == 8 * kGcmKeyBytes) {
    std::memcpy(cipherKey, key, kGcmKeyBytes);
  } else {
    gcry_md_hash_buffer(GCRY_MD_SHA256, cipherKey, key, bits / 8);
  }
}

bool Overlap(const BYTE* a, std::size_t aSize, const BYTE* b, std::size_t bSize) {
  const auto aStart = reinterpret_cast<std::uintptr_t>(a);
  const auto bStart = reinterpret_cast<std::uintptr_t>(b);
  return aSize != 0 && bSize != 0 && aStart < bStart + bSize && bStart < aStart + aSize;
}

constexpr DWORD kLargestInput = 0xFFFFFFFFu - QV_ENCRYPTION_OVERHEAD;

}  // namespace

void* CQVCrypto::CryptoCreate(QV_ENCRYPTION algorithm, const BYTE* pbKey, DWORD dwKeyBits) {
  if (algorithm != QV_ENCRYPTION_AES256GCM || !qv::crypto::IsSupportedKeyBits(dwKeyBits)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (pbKey == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!qv::crypto::LibraryReady()) {
    SetLastError(ERROR_GEN_FAILURE);
    return nullptr;
  }
  BYTE cipherKey[kGcmKeyBytes];
  CipherKeyOf(pbKey, dwKeyBits, cipherKey);
  auto* context = new CipherContext;
  const DWORD error = context->gcm.SetKey(cipherKey);
  SecureWipe(cipherKey, sizeof(cipherKey));
  if (error != ERROR_SUCCESS) {
    delete context;
    SetLastError(error);
    return nullptr;
  }
  return context;
}

DWORD CQVCrypto::GetDestinationBufferSize(void* hContext, DWORD cbInput) {
  if (ContextOf(hContext) == nullptr) return 0;
  if (cbInput > kLargestInput) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return cbInput + QV_ENCRYPTION_OVERHEAD;
}

BOOL CQVCrypto::CryptoEncryptData(void* hContext, const BYTE* pbInput, BYTE* pbOutput,
                                  DWORD cbInput) {
  return CryptoEncryptBound(hContext, pbInput, pbOutput, cbInput, nullptr, 0);
}

BOOL CQVCrypto::CryptoEncryptBound(void* hContext, const BYTE* pbInput, BYTE* pbOutput, DWORD cbInput,
                                   const BYTE* pbAssociated, DWORD cbAssociated) {
  CipherContext* context = ContextOf(hContext);
  if (context == nullptr) return FALSE;
  if (pbOutput == nullptr || (pbInput == nullptr && cbInput != 0) || cbInput > kLargestInput ||
      (pbAssociated == nullptr && cbAssociated != 0) ||
      Overlap(pbInput, cbInput, pbOutput, cbInput + QV_ENCRYPTION_OVERHEAD)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  // A random 96-bit nonce per message: one key may seal about 2^32 blocks
  // before a repeated nonce becomes a real risk.
  gcry_create_nonce(pbOutput, kGcmNonceBytes);
  BYTE* cipherText = pbOutput + kGcmNonceBytes;
  const DWORD error =
      context->gcm.Seal(pbOutput, pbInput, cbInput, cipherText, cipherText + cbInput, pbAssociated, cbAssociated);
  return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOL CQVCrypto::CryptoDecryptData(void* hContext, BYTE* pbBuffer, DWORD cbStored, DWORD* pcbPlain) {
  return CryptoDecryptBound(hContext, pbBuffer, cbStored, pcbPlain, nullptr, 0);
}

BOOL CQVCrypto::CryptoDecryptBound(void* hContext, BYTE* pbBuffer, DWORD cbStored, DWORD* pcbPlain,
                                   const BYTE* pbAssociated, DWORD cbAssociated) {
  CipherContext* context = ContextOf(hContext);
  if (context == nullptr) return FALSE;
  if (cbStored < QV_ENCRYPTION_OVERHEAD) return Fail(ERROR_INVALID_DATA);
  if (pbBuffer == nullptr || (pbAssociated == nullptr && cbAssociated != 0)) return Fail(ERROR_INVALID_PARAMETER);
  const DWORD plainSize = cbStored - QV_ENCRYPTION_OVERHEAD;
  BYTE nonce[kGcmNonceBytes];
  BYTE tag[kGcmTagBytes];
  std::memcpy(nonce, pbBuffer, kGcmNonceBytes);
  std::memcpy(tag, pbBuffer + kGcmNonceBytes + plainSize, kGcmTagBytes);
  BYTE* text = pbBuffer + kGcmNonceBytes;
  const DWORD error = context->gcm.Open(nonce, text, plainSize, tag, pbAssociated, cbAssociated);
  if (error != ERROR_SUCCESS) return Fail(error);
  std::memmove(pbBuffer, text, plainSize);
  if (pcbPlain != nullptr) *pcbPlain = plainSize;
  return TRUE;
}

void CQVCrypto::CryptoDestroy(void* hContext) {
  if (hContext == nullptr) return;
  CipherContext* context = ContextOf(hContext);
  if (context == nullptr) return;
  context->tag = 0;
  delete context;
}
