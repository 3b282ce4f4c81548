// CQVCrypto encryption algorithm 3 (AES-256-GCM): published vectors, the
// stored layout nonce || cipher text || tag, round trips, tampering and
// the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "qvbackup/qvcrypto.h"
#include "services/crypto_gcm.h"
#include "services/crypto_test_bytes.h"

namespace {

using qvtest::FromHex;
using qvtest::ToHex;

// AES-256 vectors with 96-bit nonces and no associated data from the GCM
// submission to NIST (McGrew and Viega), test cases 13 to 15.
struct GcmVector {
  const char* key;
  const char* nonce;
  const char* plain;
  const char* cipher;
  const char* tag;
};
const GcmVector kVectors[] = {
    {"0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000",
     "", "", "530f8afbc74536b9a963b4f1c4cb738b"},
    {"0000000000000000000000000000000000000000000000000000000000000000", "000000000000000000000000",
     "00000000000000000000000000000000", "cea7403d4d606b6e074ec5d3baf39d18",
     "d0d1c8a799996bf0265b98b5d48ab919"},
    {"feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
     "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255",
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
     "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662898015ad",
     "b094dac5d93471bdec1a502270e3cc6c"},
};

std::vector<BYTE> Pattern(std::size_t size) {
  std::vector<BYTE> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<BYTE>(i * 31 + 7);
  return data;
}

std::vector<BYTE> Encrypt(CQVCrypto& crypto, void* context, const std::vector<BYTE>& plain) {
  std::vector<BYTE> stored(
      crypto.GetDestinationBufferSize(context, static_cast<DWORD>(plain.size())));
  EXPECT_EQ(stored.size(), plain.size() + QV_ENCRYPTION_OVERHEAD);
  EXPECT_TRUE(crypto.CryptoEncryptData(context, plain.data(), stored.data(),
                                       static_cast<DWORD>(plain.size())));
  return stored;
}

// Decrypts a copy of `stored`; the plain text, or nothing with the error.
bool Decrypt(CQVCrypto& crypto, void* context, std::vector<BYTE> stored, std::vector<BYTE>* plain,
             DWORD* error) {
  DWORD plainSize = 0xFFFFFFFF;
  SetLastError(0);
  BOOL ok = crypto.CryptoDecryptData(context, stored.data(), static_cast<DWORD>(stored.size()),
                                     &plainSize);
  *error = GetLastError();
  if (ok) {
    stored.resize(plainSize);
    *plain = stored;
  } else {
    *plain = stored;  // what the buffer holds after the refusal
  }
  return ok != FALSE;
}

class CQVCryptoCipher : public testing::Test {
 protected:
  void* Create(const std::vector<BYTE>& key, DWORD bits) {
    void* context = crypto_.CryptoCreate(QV_ENCRYPTION_AES256GCM, key.data(), bits);
    EXPECT_NE(context, nullptr) << "last error " << GetLastError();
    contexts_.push_back(context);
    return context;
  }
  void TearDown() override {
    for (void* context : contexts_) crypto_.CryptoDestroy(context);
  }

  CQVCrypto crypto_;
  std::vector<void*> contexts_;
};

TEST(AesGcm, SealsAndOpensThePublishedVectors) {
  for (const GcmVector& v : kVectors) {
    SCOPED_TRACE(v.cipher);
    qv::crypto::AesGcm gcm;
    ASSERT_EQ(gcm.SetKey(FromHex(v.key).data()), 0u);
    std::vector<BYTE> plain = FromHex(v.plain), nonce = FromHex(v.nonce);
    std::vector<BYTE> text(plain.size());
    BYTE tag[16];
    ASSERT_EQ(gcm.Seal(nonce.data(), plain.data(), plain.size(), text.data(), tag), 0u);
    EXPECT_EQ(ToHex(text), v.cipher);
    EXPECT_EQ(ToHex(tag, 16), v.tag);
    ASSERT_EQ(gcm.Open(nonce.data(), text.data(), text.size(), tag), 0u);
    EXPECT_EQ(ToHex(text), v.plain);
  }
}

// The published AES-256 case with associated data (20 bytes).
TEST(AesGcm, AssociatedDataIsCoveredByTheTag) {
  const std::vector<BYTE> key = FromHex("feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308");
  const std::vector<BYTE> nonce = FromHex("cafebabefacedbaddecaf888");
  const std::vector<BYTE> associated = FromHex("feedfacedeadbeeffeedfacedeadbeefabaddad2");
  const std::string plain =
      "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39";
  qv::crypto::AesGcm gcm;
  ASSERT_EQ(gcm.SetKey(key.data()), 0u);
  std::vector<BYTE> text = FromHex(plain);
  BYTE tag[16];
  ASSERT_EQ(gcm.Seal(nonce.data(), text.data(), text.size(), text.data(), tag, associated.data(), associated.size()),
            0u);
  EXPECT_EQ(ToHex(text),
            "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662");
  EXPECT_EQ(ToHex(tag, 16), "76fc6ece0f4e1768cddf8853bb2d551b");
  // Without the associated data, or with one bit of it changed, the same
  // bytes do not open (and are wiped).
  std::vector<BYTE> copy = text;
  EXPECT_EQ(gcm.Open(nonce.data(), copy.data(), copy.size(), tag), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(copy, std::vector<BYTE>(copy.size(), 0));
  std::vector<BYTE> changed = associated;
  changed[19] ^= 1;
  copy = text;
  EXPECT_EQ(gcm.Open(nonce.data(), copy.data(), copy.size(), tag, changed.data(), changed.size()),
            static_cast<DWORD>(ERROR_INVALID_DATA));
  ASSERT_EQ(gcm.Open(nonce.data(), text.data(), text.size(), tag, associated.data(), associated.size()), 0u);
  EXPECT_EQ(ToHex(text), plain);
}

TEST_F(CQVCryptoCipher, BoundTextOpensOnlyWithItsAssociatedData) {
  void* context = Create(Pattern(32), 256);
  const std::vector<BYTE> plain = Pattern(300);
  const std::vector<BYTE> place = Pattern(38);
  std::vector<BYTE> stored(plain.size() + QV_ENCRYPTION_OVERHEAD);
  ASSERT_TRUE(crypto_.CryptoEncryptBound(context, plain.data(), stored.data(), 300, place.data(), 38));
  std::vector<BYTE> copy = stored;
  EXPECT_FALSE(crypto_.CryptoDecryptData(context, copy.data(), static_cast<DWORD>(copy.size()), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  copy = stored;
  EXPECT_FALSE(crypto_.CryptoDecryptBound(context, copy.data(), static_cast<DWORD>(copy.size()), nullptr, place.data(),
                                          37));
  copy = stored;
  DWORD length = 0;
  ASSERT_TRUE(crypto_.CryptoDecryptBound(context, copy.data(), static_cast<DWORD>(copy.size()), &length, place.data(),
                                         38));
  EXPECT_EQ(std::vector<BYTE>(copy.begin(), copy.begin() + length), plain);
  // Null associated data with a length is refused, not read.
  EXPECT_FALSE(crypto_.CryptoEncryptBound(context, plain.data(), stored.data(), 300, nullptr, 4));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // Unbound text is bound text with no associated data.
  ASSERT_TRUE(crypto_.CryptoEncryptData(context, plain.data(), stored.data(), 300));
  ASSERT_TRUE(crypto_.CryptoDecryptBound(context, stored.data(), static_cast<DWORD>(stored.size()), &length, nullptr,
                                         0));
  EXPECT_EQ(std::vector<BYTE>(stored.begin(), stored.begin() + length), plain);
}

TEST_F(CQVCryptoCipher, DecryptsAPublishedVectorLaidOutAsNonceCipherTextTag) {
  const GcmVector& v = kVectors[2];
  std::string stored = std::string(v.nonce) + v.cipher + v.tag;
  void* context = Create(FromHex(v.key), 256);
  std::vector<BYTE> plain;
  DWORD error = 0;
  ASSERT_TRUE(Decrypt(crypto_, context, FromHex(stored), &plain, &error)) << error;
  EXPECT_EQ(ToHex(plain), v.plain);
}

TEST_F(CQVCryptoCipher, OutputIsNonceThenGcmOfTheInput) {
  const std::vector<BYTE> key = Pattern(32), plain = Pattern(100);
  std::vector<BYTE> stored = Encrypt(crypto_, Create(key, 256), plain);
  qv::crypto::AesGcm gcm;
  ASSERT_EQ(gcm.SetKey(key.data()), 0u);
  std::vector<BYTE> text(stored.begin() + 12, stored.end() - 16);
  ASSERT_EQ(gcm.Open(stored.data(), text.data(), text.size(), stored.data() + stored.size() - 16),
            0u);
  EXPECT_EQ(text, plain);
}

TEST_F(CQVCryptoCipher, RoundTripsEverySizeWithEveryKeySize) {
  for (DWORD bits : {32u, 64u, 128u, 160u, 256u}) {
    void* context = Create(Pattern(32), bits);
    for (std::size_t size : {0u, 1u, 16u, 1000u, 262144u}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, " << size << " bytes");
      std::vector<BYTE> plain = Pattern(size), back;
      DWORD error = 0;
      std::vector<BYTE> stored = Encrypt(crypto_, context, plain);
      if (size >= 16) {
        EXPECT_NE(std::memcmp(stored.data() + 12, plain.data(), 16), 0);
      }
      ASSERT_TRUE(Decrypt(crypto_, context, stored, &back, &error)) << error;
      EXPECT_EQ(back, plain);
    }
  }
}

TEST_F(CQVCryptoCipher, EveryFlippedBitIsRefusedAndNoPlainTextIsLeft) {
  void* context = Create(Pattern(32), 256);
  const std::vector<BYTE> plain = Pattern(33);
  const std::vector<BYTE> stored = Encrypt(crypto_, context, plain);
  for (std::size_t bit = 0; bit < stored.size() * 8; ++bit) {
    SCOPED_TRACE(testing::Message() << "bit " << bit);
    std::vector<BYTE> changed = stored, after;
    changed[bit / 8] ^= static_cast<BYTE>(1u << (bit % 8));
    DWORD error = 0;
    ASSERT_FALSE(Decrypt(crypto_, context, changed, &after, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(after.size(), stored.size());
    EXPECT_TRUE(std::search(after.begin(), after.end(), plain.begin(), plain.begin() + 16) ==
                after.end());
  }
  // The context still works after refusals.
  std::vector<BYTE> back;
  DWORD error = 0;
  ASSERT_TRUE(Decrypt(crypto_, context, stored, &back, &error)) << error;
  EXPECT_EQ(back, plain);
}

TEST_F(CQVCryptoCipher, ShortOrTruncatedDataAndWrongKeysAreRefused) {
  void* context = Create(Pattern(32), 256);
  std::vector<BYTE> stored = Encrypt(crypto_, context, Pattern(10));
  std::vector<BYTE> out;
  DWORD error = 0;
  for (std::size_t size : {std::size_t{0}, std::size_t{27}, stored.size() - 1}) {
    SCOPED_TRACE(size);
    EXPECT_FALSE(Decrypt(crypto_, context, std::vector<BYTE>(stored.begin(), stored.begin() + size),
                         &out, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_DATA));
  }
  std::vector<BYTE> otherKey = Pattern(32);
  otherKey[31] ^= 1;
  EXPECT_FALSE(Decrypt(crypto_, Create(otherKey, 256), stored, &out, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_DATA));
  // An empty message still has its 28 bytes.
  std::vector<BYTE> empty = Encrypt(crypto_, context, {});
  EXPECT_TRUE(Decrypt(crypto_, context, empty, &out, &error));
  EXPECT_TRUE(out.empty());
}

TEST_F(CQVCryptoCipher, EveryEncryptionTakesAFreshNonce) {
  void* context = Create(Pattern(32), 256);
  const std::vector<BYTE> plain = Pattern(64);
  std::set<std::string> nonces, texts;
  for (int i = 0; i < 100; ++i) {
    std::vector<BYTE> stored = Encrypt(crypto_, context, plain);
    nonces.insert(ToHex(stored.data(), 12));
    texts.insert(ToHex(stored.data() + 12, 64));
  }
  EXPECT_EQ(nonces.size(), 100u);
  EXPECT_EQ(texts.size(), 100u);
}

// The SHA-256 of the 16 bytes 00..0f, made with
//   printf '000102030405060708090a0b0c0d0e0f' | xxd -r -p | sha256sum
TEST_F(CQVCryptoCipher, ShortKeysAreStretchedWithSha256) {
  const std::vector<BYTE> key = FromHex("000102030405060708090a0b0c0d0e0f");
  const std::vector<BYTE> stretched =
      FromHex("be45cb2605bf36bebde684841a28f0fd43c69850a3dce5fedba69928ee3a8991");
  std::vector<BYTE> plain = Pattern(50), back;
  std::vector<BYTE> stored = Encrypt(crypto_, Create(key, 128), plain);
  DWORD error = 0;
  ASSERT_TRUE(Decrypt(crypto_, Create(stretched, 256), stored, &back, &error)) << error;
  EXPECT_EQ(back, plain);
}

TEST_F(CQVCryptoCipher, OnlyTheKeysOwnBytesCount) {
  // A 32-bit key is its first 4 bytes; what follows in the buffer is not key.
  std::vector<BYTE> a = Pattern(32), b = Pattern(32), back;
  b[4] ^= 0xFF;
  b[31] ^= 0xFF;
  std::vector<BYTE> stored = Encrypt(crypto_, Create(a, 32), Pattern(20));
  DWORD error = 0;
  EXPECT_TRUE(Decrypt(crypto_, Create(b, 32), stored, &back, &error)) << error;
  b[3] ^= 1;
  EXPECT_FALSE(Decrypt(crypto_, Create(b, 32), stored, &back, &error));
  // 160 bits and 128 bits of the same buffer are different keys.
  EXPECT_FALSE(Decrypt(crypto_, Create(a, 160), Encrypt(crypto_, Create(a, 128), Pattern(5)), &back,
                       &error));
}

TEST_F(CQVCryptoCipher, RefusesUnknownAlgorithmsKeySizesAndBadHandles) {
  const std::vector<BYTE> key = Pattern(64);
  for (int algorithm : {0, 1, 2}) {
    SetLastError(0);
    EXPECT_EQ(crypto_.CryptoCreate(static_cast<QV_ENCRYPTION>(algorithm), key.data(), 256),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  }
  for (DWORD bits : {0u, 8u, 100u, 192u, 512u}) {
    SetLastError(0);
    EXPECT_EQ(crypto_.CryptoCreate(QV_ENCRYPTION_AES256GCM, key.data(), bits), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED)) << bits;
  }
  SetLastError(0);
  EXPECT_EQ(crypto_.CryptoCreate(QV_ENCRYPTION_AES256GCM, nullptr, 256), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  BYTE buffer[64] = {};
  void* hash = crypto_.HashCreate(QV_HASH_CRC32, nullptr, 0);
  for (void* bad : {static_cast<void*>(nullptr), hash}) {
    SetLastError(0);
    EXPECT_EQ(crypto_.GetDestinationBufferSize(bad, 10), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(crypto_.CryptoEncryptData(bad, buffer, buffer + 32, 4));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(crypto_.CryptoDecryptData(bad, buffer, 40, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  crypto_.CryptoDestroy(nullptr);
  BYTE digest[4];
  EXPECT_TRUE(crypto_.HashGetClose(hash, digest));
}

TEST_F(CQVCryptoCipher, RefusesMissingOverlappingAndOversizedBuffers) {
  void* context = Create(Pattern(32), 256);
  BYTE buffer[128] = {};
  auto expectRefused = [&](BOOL result) {
    EXPECT_FALSE(result);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
  };
  SetLastError(0);
  EXPECT_EQ(crypto_.GetDestinationBufferSize(context, 0xFFFFFFFFu), 0u);
  expectRefused(FALSE);
  EXPECT_EQ(crypto_.GetDestinationBufferSize(context, 0xFFFFFFFFu - 28), 0xFFFFFFFFu);
  expectRefused(crypto_.CryptoEncryptData(context, buffer, nullptr, 4));
  expectRefused(crypto_.CryptoEncryptData(context, nullptr, buffer, 4));
  expectRefused(crypto_.CryptoEncryptData(context, buffer, buffer, 4));
  expectRefused(crypto_.CryptoEncryptData(context, buffer + 20, buffer, 4));
  expectRefused(crypto_.CryptoDecryptData(context, nullptr, 40, nullptr));
  // Adjacent buffers do not overlap; a null input of no bytes is empty.
  EXPECT_TRUE(crypto_.CryptoEncryptData(context, buffer, buffer + 4, 4));
  EXPECT_TRUE(crypto_.CryptoEncryptData(context, nullptr, buffer, 0));
}

}  // namespace
