// CQVCrypto: life cycle and key derivation with its memory of derived keys.
#include "qvbackup/qvcrypto.h"

#include <cstring>
#include <string_view>

#include "platform/text.h"
#include "services/crypto_argon2.h"
#include "services/crypto_key_sizes.h"
#include "services/crypto_library.h"

namespace {

using qv::crypto::SecureWipe;

// The UTF-8 password, wiped when it goes out of scope.
class Utf8Password {
 public:
  explicit Utf8Password(LPCWSTR text)
      : m_strText(text == nullptr ? std::string()
                                  : qv::platform::Utf16ToUtf8(qv::WStringView(text))) {}
  ~Utf8Password() { SecureWipe(m_strText.data(), m_strText.size()); }
  Utf8Password(const Utf8Password&) = delete;
  Utf8Password& operator=(const Utf8Password&) = delete;

  std::string_view View() const { return m_strText; }

 private:
  std::string m_strText;
};

// The memo's key: password length (4 bytes, little-endian), password, code,
// salt. The length prefix keeps (password, salt) pairs from running into
// each other. Sized once so no unwiped copy is left behind by growth.
std::string MemoKeyOf(std::string_view password, QV_KEYTYPE keyType, const BYTE* salt,
                      DWORD saltSize) {
  std::string key(4 + password.size() + 1 + saltSize, '\0');
  const std::size_t size = password.size();
  for (int i = 0; i < 4; ++i) key[i] = static_cast<char>((size >> (8 * i)) & 0xFF);
  password.copy(key.data() + 4, size);
  key[4 + size] = static_cast<char>(keyType);
  if (saltSize != 0) std::memcpy(key.data() + 5 + size, salt, saltSize);
  return key;
}

DWORD CheckDeriveArguments(LPCWSTR password, QV_KEYTYPE keyType, const BYTE* output,
                           const BYTE* salt, DWORD saltSize) {
  if (qv::crypto::KeyBytesOfCode(keyType) == 0) return ERROR_NOT_SUPPORTED;
  if (output == nullptr || (salt == nullptr && saltSize != 0)) return ERROR_INVALID_PARAMETER;
  // libgcrypt 1.10's Argon2 refuses an empty password, and an archive
  // without a password never derives a key.
  if (password == nullptr || password[0] == 0) return ERROR_INVALID_PASSWORD;
  return ERROR_SUCCESS;
}

// Argon2id with the archive's cost; the salt is the caller's bytes and the
// code, so keys of two sizes from one password share nothing.
DWORD DeriveArchiveKey(std::string_view password, QV_KEYTYPE keyType, const BYTE* salt,
                       DWORD saltSize, std::vector<BYTE>& key) {
  std::vector<BYTE> fullSalt(std::size_t{saltSize} + 1);
  if (saltSize != 0) std::memcpy(fullSalt.data(), salt, saltSize);
  fullSalt[saltSize] = static_cast<BYTE>(keyType);
  qv::crypto::Argon2Input input{password, fullSalt, {}, {}};
  return qv::crypto::Argon2id(input, qv::crypto::kArchiveKeyCost, key.data(), key.size());
}

}  // namespace

CQVCrypto::CQVCrypto() = default;

CQVCrypto::CQVCrypto(const CQVCrypto& other) = default;

CQVCrypto& CQVCrypto::operator=(const CQVCrypto& other) {
  if (this != &other) {
    WipeDerivedKeys();
    m_mapDerivedKeys = other.m_mapDerivedKeys;
  }
  return *this;
}

CQVCrypto::~CQVCrypto() { WipeDerivedKeys(); }

void CQVCrypto::WipeDerivedKeys() {
  // Extracting a node is the legal way to reach its key as writable.
  while (!m_mapDerivedKeys.empty()) {
    auto node = m_mapDerivedKeys.extract(m_mapDerivedKeys.begin());
    SecureWipe(node.key().data(), node.key().size());
    SecureWipe(node.mapped().data(), node.mapped().size());
  }
}

BOOL CQVCrypto::CryptoDeriveKey(LPCWSTR pszPassword, QV_KEYTYPE keyType, BYTE* pbOutput,
                                const BYTE* pbSalt, DWORD cbSalt) {
  DWORD error = CheckDeriveArguments(pszPassword, keyType, pbOutput, pbSalt, cbSalt);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  Utf8Password password(pszPassword);
  std::string memoKey = MemoKeyOf(password.View(), keyType, pbSalt, cbSalt);
  auto found = m_mapDerivedKeys.find(memoKey);
  if (found == m_mapDerivedKeys.end()) {
    std::vector<BYTE> key(qv::crypto::KeyBytesOfCode(keyType));
    error = DeriveArchiveKey(password.View(), keyType, pbSalt, cbSalt, key);
    if (error == ERROR_SUCCESS) {
      // A copy, not a move: a short string's move would leave its bytes behind.
      found = m_mapDerivedKeys.emplace(memoKey, std::move(key)).first;
    } else {
      SecureWipe(key.data(), key.size());
    }
  }
  SecureWipe(memoKey.data(), memoKey.size());
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  std::memcpy(pbOutput, found->second.data(), found->second.size());
  return TRUE;
}
