// CQVCrypto key derivation: Argon2id known answers, separation of key sizes
// and salts, the memory of derived keys and the refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qvbackup/qvcrypto.h"
#include "services/crypto_argon2.h"
#include "services/crypto_test_bytes.h"

namespace {

using qvtest::FromHex;
using qvtest::ToHex;

// The container's salt, as the archive code passes it.
const BYTE kArchiveSalt[] = {'~', 'K', 'd', '!', '4', 'p', '%', 'Z', 'r', '2', 'q'};

struct KeyCode {
  QV_KEYTYPE code;
  std::size_t bytes;
};
const KeyCode kKeyCodes[] = {
    {QV_KEY_32, 4}, {QV_KEY_64, 8}, {QV_KEY_128, 16}, {QV_KEY_160, 20}, {QV_KEY_256, 32}};

std::vector<BYTE> Derive(CQVCrypto& crypto, const WCHAR* password, QV_KEYTYPE code,
                         const BYTE* salt = kArchiveSalt, DWORD saltSize = sizeof(kArchiveSalt)) {
  std::vector<BYTE> key(32, 0xEE);
  SetLastError(0);
  EXPECT_TRUE(crypto.CryptoDeriveKey(password, code, key.data(), salt, saltSize))
      << "last error " << GetLastError();
  return key;
}

std::string DeriveHex(const WCHAR* password, QV_KEYTYPE code, std::size_t bytes) {
  CQVCrypto crypto;
  std::vector<BYTE> key = Derive(crypto, password, code);
  // Nothing is written past the key's size.
  for (std::size_t i = bytes; i < key.size(); ++i) EXPECT_EQ(key[i], 0xEE) << i;
  return ToHex(key.data(), bytes);
}

// The expected keys were made by Debian's argon2 command (the reference
// implementation), e.g. for code 7:
//   echo -n 'correct horse' |
//     argon2 "$(printf '~Kd!4p%%Zr2q\x07')" -id -t 2 -k 19456 -p 1 -l 32 -r
// (salt = archive salt followed by the code byte, length = the code's size).
TEST(CQVCryptoDeriveKey, MatchesTheArgon2ReferenceToolForEveryCode) {
  const char* expected[] = {
      "f4887f0d",
      "5aedf480910c60b9",
      "8d0cc8db9725c2c4c0fd73e3557e93c7",
      "6f51d3cf1fbcf4a15cfb0c98b60d7682a98b82c4",
      "9222ffe3dd308e2e80bb29569cc9a50f9d1f2032ac6fcc2696d5d52905f03607",
  };
  for (std::size_t i = 0; i < std::size(kKeyCodes); ++i) {
    SCOPED_TRACE(kKeyCodes[i].code);
    EXPECT_EQ(DeriveHex(QVT("correct horse"), kKeyCodes[i].code, kKeyCodes[i].bytes), expected[i]);
  }
}

// The password goes to Argon2 as UTF-8 on both platforms (this test also runs
// under Wine, where WCHAR is wchar_t). Expected values from the same tool:
//   printf 'Gr\xc3\xbc\xc3\x9fe \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x94\x91' |
//     argon2 "$(printf '~Kd!4p%%Zr2q\x07')" -id -t 2 -k 19456 -p 1 -l 32 -r
TEST(CQVCryptoDeriveKey, NonAsciiPasswordGivesTheSameKeyOnEveryPlatform) {
  const WCHAR* password = QVT("Gr\u00FC\u00DFe \u65E5\u672C \U0001F511");
  EXPECT_EQ(DeriveHex(password, QV_KEY_160, 20), "afccd5a16772a7e2fd26102f92bb6db00bf8886b");
  EXPECT_EQ(DeriveHex(password, QV_KEY_256, 32),
            "f5cae5b1ffd2a1505e96c43917d8cdb41f46db134ec85ef5f841696b83ddec8a");
}

TEST(CQVCryptoDeriveKey, KeysOfDifferentCodesShareNoPrefix) {
  // The password check value (code 5, or 4) must say nothing of the block key.
  CQVCrypto crypto;
  std::vector<std::vector<BYTE>> keys;
  for (const KeyCode& code : kKeyCodes) {
    std::vector<BYTE> key = Derive(crypto, QVT("one password"), code.code);
    key.resize(code.bytes);
    keys.push_back(key);
  }
  for (std::size_t a = 0; a < keys.size(); ++a) {
    for (std::size_t b = a + 1; b < keys.size(); ++b) {
      SCOPED_TRACE(testing::Message()
                   << "codes " << kKeyCodes[a].code << " and " << kKeyCodes[b].code);
      EXPECT_NE(std::memcmp(keys[a].data(), keys[b].data(), 4), 0);
    }
  }
}

TEST(CQVCryptoDeriveKey, SaltAndPasswordEachChangeTheKey) {
  CQVCrypto crypto;
  const BYTE otherSalt[] = {'~', 'K', 'd', '!', '4', 'p', '%', 'Z', 'r', '2', 'r'};
  std::vector<BYTE> base = Derive(crypto, QVT("secret"), QV_KEY_256);
  EXPECT_NE(Derive(crypto, QVT("secret"), QV_KEY_256, otherSalt, sizeof(otherSalt)), base);
  EXPECT_NE(Derive(crypto, QVT("Secret"), QV_KEY_256), base);
  // A salt of no bytes is allowed: Argon2 then sees the code byte alone.
  std::vector<BYTE> unsalted = Derive(crypto, QVT("secret"), QV_KEY_256, nullptr, 0);
  EXPECT_NE(unsalted, base);
  CQVCrypto fresh;
  EXPECT_EQ(Derive(fresh, QVT("secret"), QV_KEY_256, nullptr, 0), unsalted);
}

TEST(CQVCryptoDeriveKey, RemembersKeysWithoutDerivingAgain) {
  CQVCrypto crypto;
  const std::uint64_t before = qv::crypto::Argon2idRunCount();
  std::vector<BYTE> first = Derive(crypto, QVT("memo"), QV_KEY_128);
  EXPECT_EQ(qv::crypto::Argon2idRunCount(), before + 1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Derive(crypto, QVT("memo"), QV_KEY_128), first);
  EXPECT_EQ(qv::crypto::Argon2idRunCount(), before + 1);

  // Copies and assigned objects remember the same keys.
  CQVCrypto copy(crypto);
  CQVCrypto assigned;
  Derive(assigned, QVT("other"), QV_KEY_32);
  assigned = crypto;
  const std::uint64_t afterCopies = qv::crypto::Argon2idRunCount();
  EXPECT_EQ(Derive(copy, QVT("memo"), QV_KEY_128), first);
  EXPECT_EQ(Derive(assigned, QVT("memo"), QV_KEY_128), first);
  EXPECT_EQ(qv::crypto::Argon2idRunCount(), afterCopies);

  // What was remembered before the assignment is gone; deriving it again
  // gives the same bytes as before.
  CQVCrypto reference;
  Derive(assigned, QVT("other"), QV_KEY_32);
  EXPECT_EQ(qv::crypto::Argon2idRunCount(), afterCopies + 1);
  EXPECT_EQ(Derive(assigned, QVT("other"), QV_KEY_32), Derive(reference, QVT("other"), QV_KEY_32));
}

TEST(CQVCryptoDeriveKey, RememberedKeysKeepPasswordAndSaltApart) {
  // Joined without their lengths, ("a", 7, "\x07bcdefgh") and ("a\x07", 7,
  // "bcdefgh") would be one memo entry.
  const BYTE salt1[] = {7, 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
  const BYTE salt2[] = {'b', 'c', 'd', 'e', 'f', 'g', 'h'};
  CQVCrypto both;
  std::vector<BYTE> key1 = Derive(both, QVT("a"), QV_KEY_256, salt1, sizeof(salt1));
  std::vector<BYTE> key2 = Derive(both, QVT("a\x07"), QV_KEY_256, salt2, sizeof(salt2));
  CQVCrypto alone;
  EXPECT_EQ(key2, Derive(alone, QVT("a\x07"), QV_KEY_256, salt2, sizeof(salt2)));
  EXPECT_NE(key1, key2);
}

TEST(CQVCryptoDeriveKey, RefusesUnknownCodesMissingBuffersAndEmptyPasswords) {
  CQVCrypto crypto;
  BYTE key[32];
  std::memset(key, 0xEE, sizeof(key));
  struct Case {
    const WCHAR* password;
    int code;
    BYTE* output;
    const BYTE* salt;
    DWORD saltSize;
    DWORD error;
  };
  const Case cases[] = {
      {QVT("pw"), 0, key, kArchiveSalt, 11, ERROR_NOT_SUPPORTED},
      {QVT("pw"), 3, key, kArchiveSalt, 11, ERROR_NOT_SUPPORTED},
      {QVT("pw"), 6, key, kArchiveSalt, 11, ERROR_NOT_SUPPORTED},
      {QVT("pw"), 7, nullptr, kArchiveSalt, 11, ERROR_INVALID_PARAMETER},
      {QVT("pw"), 7, key, nullptr, 11, ERROR_INVALID_PARAMETER},
      {nullptr, 7, key, kArchiveSalt, 11, ERROR_INVALID_PASSWORD},
      {QVT(""), 7, key, kArchiveSalt, 11, ERROR_INVALID_PASSWORD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code << " expecting " << c.error);
    SetLastError(0);
    EXPECT_FALSE(crypto.CryptoDeriveKey(c.password, static_cast<QV_KEYTYPE>(c.code), c.output,
                                        c.salt, c.saltSize));
    EXPECT_EQ(GetLastError(), c.error);
  }
  for (BYTE b : key) EXPECT_EQ(b, 0xEE);
}

// RFC 9106, section 5.3: Argon2id with a secret and associated data, through
// the same wrapper the archive keys use.
TEST(Argon2id, MatchesTheRfc9106TestVector) {
  const std::vector<BYTE> password(32, 0x01), salt(16, 0x02), secret(8, 0x03), ad(12, 0x04);
  const std::string passwordText(password.begin(), password.end());
  std::vector<BYTE> tag(32);
  qv::crypto::Argon2Input input{passwordText, salt, secret, ad};
  ASSERT_EQ(qv::crypto::Argon2id(input, {3, 32, 4}, tag.data(), tag.size()),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(ToHex(tag), "0d640df58d78766c08c037a34a8b53c9d01ef0452d75b65eb52520e96b01e659");
}

TEST(Argon2id, RefusesWhatArgon2CannotTake) {
  const std::vector<BYTE> salt(8, 0x02);
  BYTE tag[16];
  qv::crypto::Argon2Input noPassword{"", salt, {}, {}};
  EXPECT_EQ(qv::crypto::Argon2id(noPassword, {1, 8, 1}, tag, sizeof(tag)),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  qv::crypto::Argon2Input input{"pw", salt, {}, {}};
  EXPECT_EQ(qv::crypto::Argon2id(input, {1, 8, 0}, tag, sizeof(tag)),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(qv::crypto::Argon2id(input, {1, 8, 1}, nullptr, 16),
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
