// CQVCrypto hash type 0: CRC-32, four bytes little-endian.
#include <gtest/gtest.h>

#include <string>

#include "qvbackup/qvcrypto.h"
#include "services/crypto_test_bytes.h"

namespace {

std::string DigestHex(CQVCrypto& crypto, const std::string& text, std::size_t split) {
  void* hash = crypto.HashCreate(QV_HASH_CRC32, nullptr, 0);
  EXPECT_NE(hash, nullptr);
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
  EXPECT_TRUE(crypto.HashAddData(hash, bytes, static_cast<DWORD>(split)));
  EXPECT_TRUE(crypto.HashAddData(hash, bytes + split, static_cast<DWORD>(text.size() - split)));
  BYTE digest[4];
  EXPECT_TRUE(crypto.HashGetClose(hash, digest));
  return qvtest::ToHex(digest, 4);
}

// Check values of CRC-32 (the one of zip, gzip and PNG): 0xCBF43926 for
// "123456789", 0x414FA339 for the fox sentence.
TEST(CQVCryptoHash, Crc32KnownAnswersInLittleEndianWhateverTheChunks) {
  CQVCrypto crypto;
  const std::string digits = "123456789";
  for (std::size_t split = 0; split <= digits.size(); ++split) {
    EXPECT_EQ(DigestHex(crypto, digits, split), "2639f4cb") << split;
  }
  EXPECT_EQ(DigestHex(crypto, "The quick brown fox jumps over the lazy dog", 10), "39a34f41");
  EXPECT_EQ(DigestHex(crypto, "", 0), "00000000");
}

TEST(CQVCryptoHash, TheKeyIsIgnored) {
  CQVCrypto crypto;
  const BYTE key[] = {1, 2, 3, 4};
  void* hash = crypto.HashCreate(QV_HASH_CRC32, key, sizeof(key));
  ASSERT_NE(hash, nullptr);
  EXPECT_TRUE(crypto.HashAddData(hash, reinterpret_cast<const BYTE*>("123456789"), 9));
  BYTE digest[4];
  EXPECT_TRUE(crypto.HashGetClose(hash, digest));
  EXPECT_EQ(qvtest::ToHex(digest, 4), "2639f4cb");
}

TEST(CQVCryptoHash, RefusesUnknownTypesBadHandlesAndMissingBuffers) {
  CQVCrypto crypto;
  SetLastError(0);
  EXPECT_EQ(crypto.HashCreate(static_cast<QV_HASHTYPE>(1), nullptr, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));

  BYTE digest[4];
  SetLastError(0);
  EXPECT_FALSE(crypto.HashAddData(nullptr, digest, 4));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(0);
  EXPECT_FALSE(crypto.HashGetClose(nullptr, digest));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // A cipher context is not a hash handle.
  const BYTE key[32] = {};
  void* context = crypto.CryptoCreate(QV_ENCRYPTION_AES256GCM, key, 256);
  ASSERT_NE(context, nullptr);
  SetLastError(0);
  EXPECT_FALSE(crypto.HashAddData(context, digest, 4));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  crypto.CryptoDestroy(context);

  void* hash = crypto.HashCreate(QV_HASH_CRC32, nullptr, 0);
  ASSERT_NE(hash, nullptr);
  EXPECT_TRUE(crypto.HashAddData(hash, nullptr, 0));
  SetLastError(0);
  EXPECT_FALSE(crypto.HashAddData(hash, nullptr, 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // A missing output fails but still releases the handle (the leak checker
  // of the sanitizer build would report it otherwise).
  SetLastError(0);
  EXPECT_FALSE(crypto.HashGetClose(hash, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
