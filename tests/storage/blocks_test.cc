// Blocks: sizes, compression, encryption, passwords, walking, and damage.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <map>

#include "storage/storage_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

constexpr WORD kCompressed = QVS_BLOCK_COMPRESSED;
constexpr WORD kEncrypted = QVS_BLOCK_ENCRYPTED;

class BlocksTest : public ::testing::Test {
 protected:
  // Writes the blocks and closes; returns their offsets.
  std::vector<ULONGLONG> Write(const std::vector<Bytes>& blocks, DWORD options = 0) {
    CQVStorage storage;
    std::vector<ULONGLONG> offsets;
    EXPECT_TRUE(storage.BeginArchive(desc_.get())) << storage.GetError();
    for (const Bytes& data : blocks) {
      ULONGLONG offset = 0;
      EXPECT_TRUE(storage.CreateBlock(data.data(), static_cast<DWORD>(data.size()), options, &offset))
          << storage.GetError();
      offsets.push_back(offset);
    }
    EXPECT_TRUE(storage.CloseArchive());
    return offsets;
  }
  WORD KindAt(ULONGLONG offset) {
    Bytes file = ReadAll(temp_.path() / "home.QVA");
    return static_cast<WORD>(file[offset + 4] | file[offset + 5] << 8);
  }
  DWORD StoredAt(ULONGLONG offset) { return Dword(ReadAll(temp_.path() / "home.QVA"), offset); }

  TempDir temp_;
  ArchiveDescription desc_{temp_.DrivePath()};
};

TEST_F(BlocksTest, BlockOfTheBlockSizeFitsOneMoreByteDoesNot) {
  CQVStorage storage;
  ASSERT_TRUE(storage.BeginArchive(desc_.get()));
  Bytes full = RandomBytes(4097, 1);
  EXPECT_TRUE(storage.CreateBlock(full.data(), 4096, 0));
  EXPECT_FALSE(storage.CreateBlock(full.data(), 4097, 0));
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(storage.CreateBlock(full.data(), 0, 0));
  storage.CloseArchive();
  CQVStorage closed;
  EXPECT_FALSE(closed.CreateBlock(full.data(), 10, 0));
  EXPECT_EQ(closed.GetError(), static_cast<DWORD>(ERROR_INVALID_STATE));
}

TEST_F(BlocksTest, OnlyDataThatShrinksIsStoredCompressed) {
  std::vector<ULONGLONG> at = Write({TextBytes(4096), RandomBytes(4096, 2)});
  EXPECT_EQ(KindAt(at[0]), 1 | kCompressed);
  EXPECT_LT(StoredAt(at[0]), 4096u);
  EXPECT_EQ(KindAt(at[1]), 1);
  EXPECT_EQ(StoredAt(at[1]), 4096u);
  CQVStorage reader;
  ASSERT_TRUE(reader.OpenArchive(desc_.get()));
  EXPECT_EQ(BlockAt(reader, at[0]), TextBytes(4096));
  EXPECT_EQ(BlockAt(reader, at[1]), RandomBytes(4096, 2));
  reader.CloseArchive();
}

// Large blocks are judged from samples before zlib runs on them: random
// data is stored as it is, and a block that is half random, half text still
// shrinks.
TEST_F(BlocksTest, LargeBlocksAreCompressedWhenTheyShrinkAndStoredWhenNot) {
  constexpr DWORD kLarge = 64 * 1024;
  desc_.get()->dwBlockSize = kLarge;
  Bytes mixed = RandomBytes(kLarge / 2, 3);
  Bytes text = TextBytes(kLarge / 2);
  mixed.insert(mixed.end(), text.begin(), text.end());
  std::vector<Bytes> blocks = {RandomBytes(kLarge, 4), TextBytes(kLarge), mixed};
  std::vector<ULONGLONG> at = Write(blocks);
  EXPECT_EQ(KindAt(at[0]), 1);
  EXPECT_EQ(StoredAt(at[0]), kLarge);
  EXPECT_EQ(KindAt(at[1]), 1 | kCompressed);
  EXPECT_EQ(KindAt(at[2]), 1 | kCompressed);
  EXPECT_LT(StoredAt(at[2]), kLarge * 6 / 10);
  // Whichever compressor wrote them, the payloads are zlib streams that
  // zlib itself reads back.
  const Bytes file = ReadAll(temp_.path() / "home.QVA");
  for (std::size_t i : {std::size_t{1}, std::size_t{2}}) {
    Bytes back(kLarge);
    uLongf produced = kLarge;
    ASSERT_EQ(uncompress(back.data(), &produced, file.data() + at[i] + QVS_BLOCK_HEADER_SIZE, StoredAt(at[i])), Z_OK);
    EXPECT_EQ(produced, kLarge);
    EXPECT_EQ(back, blocks[i]) << i;
  }
  CQVStorage reader;
  ASSERT_TRUE(reader.OpenArchive(desc_.get()));
  for (std::size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(BlockAt(reader, at[i]), blocks[i]) << i;
  reader.CloseArchive();
}

// Code-like bytes: a small alphabet of four-byte words and random operands,
// which shrink to about half.
Bytes CodeLikeBytes(std::size_t size, unsigned seed) {
  const Bytes words = RandomBytes(256 * 4, seed);
  const Bytes operands = RandomBytes(size, seed + 1);
  Bytes out;
  for (std::size_t i = 0; out.size() < size; ++i) {
    const std::size_t word = operands[i % operands.size()] * 4u;
    out.insert(out.end(), words.begin() + static_cast<std::ptrdiff_t>(word),
               words.begin() + static_cast<std::ptrdiff_t>(word + 4));
    out.push_back(operands[(i * 7 + 1) % operands.size()]);
    out.push_back(operands[(i * 13 + 2) % operands.size()]);
    out.push_back(0);
    out.push_back(0);
  }
  out.resize(size);
  return out;
}

TEST_F(BlocksTest, EveryEffortWritesZlibStreamsWhateverTheThreadsAndBestIsSmallest) {
  constexpr DWORD kLarge = 256 * 1024;
  desc_.get()->dwBlockSize = kLarge;
  const std::vector<Bytes> blocks = {TextBytes(kLarge), CodeLikeBytes(kLarge, 5), TextBytes(4000),
                                     RandomBytes(kLarge, 6)};
  std::map<DWORD, Bytes> files;
  std::map<DWORD, std::vector<DWORD>> stored;
  for (DWORD effort : {QVS_EFFORT_FAST, QVS_EFFORT_DEFAULT, QVS_EFFORT_BEST}) {
    for (DWORD threads : {1u, 3u}) {
      CQVStorage storage;
      storage.SetWorkerThreads(threads);
      ASSERT_TRUE(storage.SetCompressionEffort(effort));
      EXPECT_EQ(storage.GetCompressionEffort(), effort);
      ASSERT_TRUE(storage.BeginArchive(desc_.get())) << storage.GetError();
      std::vector<ULONGLONG> at(blocks.size());
      for (std::size_t i = 0; i < blocks.size(); ++i) {
        ASSERT_TRUE(storage.CreateBlock(blocks[i].data(), static_cast<DWORD>(blocks[i].size()), 0, &at[i]));
      }
      ASSERT_TRUE(storage.CloseArchive()) << storage.GetError();
      const Bytes file = ReadAll(temp_.path() / "home.QVA");
      // The same blocks with workers as without (the header differs: each
      // archive has its own identifier).
      const Bytes written(file.begin() + QVS_HEADER_SIZE, file.end());
      if (threads == 1) {
        files[effort] = written;
      } else {
        EXPECT_EQ(written, files[effort]) << effort;
      }
      std::vector<DWORD> lengths;
      for (std::size_t i = 0; i < blocks.size(); ++i) {
        const DWORD length = StoredAt(at[i]);
        lengths.push_back(length);
        if (i == 3) {
          EXPECT_EQ(KindAt(at[i]), 1) << effort;  // random bytes stay as they are
          continue;
        }
        ASSERT_EQ(KindAt(at[i]), 1 | kCompressed) << effort << " " << i;
        Bytes back(blocks[i].size());
        uLongf produced = static_cast<uLongf>(back.size());
        ASSERT_EQ(uncompress(back.data(), &produced, file.data() + at[i] + QVS_BLOCK_HEADER_SIZE, length), Z_OK);
        EXPECT_EQ(produced, blocks[i].size());
        EXPECT_EQ(back, blocks[i]) << effort << " " << i;
      }
      stored[effort] = lengths;
      CQVStorage reader;
      ASSERT_TRUE(reader.OpenArchive(desc_.get()));
      for (std::size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(BlockAt(reader, at[i]), blocks[i]) << i;
      reader.CloseArchive();
    }
  }
  // Text pays back effort; the code-like block shrinks under every effort.
  EXPECT_LT(stored[QVS_EFFORT_BEST][0], stored[QVS_EFFORT_FAST][0]);
  EXPECT_LE(stored[QVS_EFFORT_BEST][0], stored[QVS_EFFORT_DEFAULT][0]);
  EXPECT_LE(stored[QVS_EFFORT_DEFAULT][0], stored[QVS_EFFORT_FAST][0]);
  for (DWORD effort : {QVS_EFFORT_FAST, QVS_EFFORT_DEFAULT, QVS_EFFORT_BEST}) {
    EXPECT_LT(stored[effort][1], kLarge * 7 / 10) << effort;
  }
}

TEST_F(BlocksTest, AnUnknownEffortIsRefusedAndTheEffortStays) {
  CQVStorage storage;
  ASSERT_TRUE(storage.SetCompressionEffort(QVS_EFFORT_BEST));
  EXPECT_FALSE(storage.SetCompressionEffort(3));
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(storage.GetCompressionEffort(), static_cast<DWORD>(QVS_EFFORT_BEST));
}

TEST_F(BlocksTest, EncryptedBlocksReadBackWithThePasswordOnly) {
  desc_.password = W("correct horse \xC3\xA9t\xC3\xA9");  // not only ASCII
  std::vector<ULONGLONG> at = Write({TextBytes(4096), RandomBytes(4096, 3), RandomBytes(17, 4)});
  EXPECT_EQ(KindAt(at[0]), 1 | kCompressed | kEncrypted);
  EXPECT_EQ(KindAt(at[1]), 1 | kEncrypted);
  EXPECT_EQ(StoredAt(at[1]), 4096u + QV_ENCRYPTION_OVERHEAD);  // a full block that does not shrink
  Bytes file = ReadAll(temp_.path() / "home.QVA");
  EXPECT_EQ(file[52], QV_KEY_256);
  // The plain text appears nowhere in the file.
  Bytes plain = RandomBytes(4096, 3);
  EXPECT_EQ(std::search(file.begin(), file.end(), plain.begin(), plain.begin() + 64), file.end());

  CQVStorage reader;
  ASSERT_TRUE(reader.OpenArchive(desc_.get())) << reader.GetError();
  EXPECT_EQ(BlockAt(reader, at[0]), TextBytes(4096));
  EXPECT_EQ(BlockAt(reader, at[1]), RandomBytes(4096, 3));
  EXPECT_EQ(BlockAt(reader, at[2]), RandomBytes(17, 4));
  reader.CloseArchive();

  ArchiveDescription wrong(temp_.DrivePath());
  wrong.password = W("Correct horse");
  CQVStorage refused;
  EXPECT_FALSE(refused.OpenArchive(wrong.get()));
  EXPECT_EQ(refused.GetError(), static_cast<DWORD>(ERROR_WRONG_PASSWORD));
  ArchiveDescription none(temp_.DrivePath());
  EXPECT_FALSE(refused.OpenArchive(none.get()));
  EXPECT_EQ(refused.GetError(), static_cast<DWORD>(ERROR_WRONG_PASSWORD));
}

TEST_F(BlocksTest, EncryptedArchiveWithAWipedCheckValueStillNeedsItsPassword) {
  desc_.password = W("pw");
  std::vector<ULONGLONG> at = Write({TextBytes(100)});
  // Zeros where the check value was do not make it a plain archive: the
  // header still names a key size.
  Bytes file = ReadAll(temp_.path() / "home.QVA");
  std::fill(file.begin() + 161, file.begin() + 181, 0);
  WriteAll(temp_.path() / "home.QVA", file);
  ArchiveDescription none(temp_.DrivePath());
  CQVStorage reader;
  EXPECT_FALSE(reader.OpenArchive(none.get()));
  EXPECT_EQ(reader.GetError(), static_cast<DWORD>(ERROR_WRONG_PASSWORD));
  // With the password its blocks open, and the damage is told.
  ASSERT_TRUE(reader.OpenArchive(desc_.get())) << reader.GetError();
  EXPECT_TRUE(reader.IsCheckValueDamaged());
  EXPECT_EQ(BlockAt(reader, at[0]), TextBytes(100));
  reader.CloseArchive();
}

TEST_F(BlocksTest, PlainOptionStoresUnchangedEvenWithPasswordAndCompression) {
  desc_.password = W("pw");
  std::vector<ULONGLONG> at = Write({TextBytes(1000)}, QVS_BLOCK_STORE_PLAIN);
  EXPECT_EQ(KindAt(at[0]), 1);
  Bytes file = ReadAll(temp_.path() / "home.QVA");
  EXPECT_EQ(Bytes(file.begin() + at[0] + 14, file.begin() + at[0] + 1014), TextBytes(1000));
}

TEST_F(BlocksTest, KeySizesAndTheCheckValue) {
  for (DWORD bits : {32u, 64u, 128u, 160u, 256u}) {
    SCOPED_TRACE(bits);
    TempDir temp;
    ArchiveDescription desc(temp.DrivePath());
    desc.password = W("pw");
    desc.get()->dwEncryptionKeySize = bits;
    CQVStorage storage;
    ASSERT_TRUE(storage.BeginArchive(&desc.info));
    Bytes data = TextBytes(500);
    ASSERT_TRUE(storage.CreateBlock(data.data(), 500, 0));
    ASSERT_TRUE(storage.CloseArchive());
    Bytes file = ReadAll(temp.path() / "home.QVA");
    EXPECT_EQ(file[52], storage.GetKeyType(bits));
    // A 160-bit archive keeps a 128-bit check value: four zero bytes follow.
    bool trailingZeros = file[177] == 0 && file[178] == 0 && file[179] == 0 && file[180] == 0;
    EXPECT_EQ(trailingZeros, bits == 160);
    CQVStorage reader;
    ASSERT_TRUE(reader.OpenArchive(desc.get()));
    EXPECT_EQ(BlockAt(reader, QVS_HEADER_SIZE), data);
    reader.CloseArchive();
  }
  CQVStorage storage;
  EXPECT_EQ(storage.GetKeyType(48), 0u);
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(storage.GetKeySize(3), 0u);
  EXPECT_EQ(storage.GetKeySize(QV_KEY_160), 160u);
}

TEST_F(BlocksTest, CheckValueNeverRevealsTheBlockKey) {
  desc_.password = W("same password");
  Write({TextBytes(10)});
  Bytes file = ReadAll(temp_.path() / "home.QVA");
  Bytes check(file.begin() + 161, file.begin() + 181);
  // The salt: the archive's fixed bytes, then its identifier.
  Bytes salt = {'~', 'K', 'd', '!', '4', 'p', '%', 'Z', 'r', '2', 'q'};
  salt.insert(salt.end(), file.begin() + 8, file.begin() + 24);
  EXPECT_EQ(file[134], 1);
  CQVCrypto crypto;
  BYTE key[32];
  ASSERT_TRUE(crypto.CryptoDeriveKey(desc_.password.c_str(), QV_KEY_256, key, salt.data(), 27));
  BYTE check160[20];
  ASSERT_TRUE(crypto.CryptoDeriveKey(desc_.password.c_str(), QV_KEY_160, check160, salt.data(), 27));
  EXPECT_EQ(check, Bytes(check160, check160 + 20));  // the check value is the 160-bit derivation
  EXPECT_NE(Bytes(key, key + 4), Bytes(check.begin(), check.begin() + 4));
  EXPECT_EQ(std::search(key, key + 32, check.begin(), check.begin() + 4), key + 32);
}

TEST_F(BlocksTest, WalkingThreeBlocksThenTheEnd) {
  Write({TextBytes(10), RandomBytes(4000, 5), TextBytes(3000)});
  CQVStorage reader;
  ASSERT_TRUE(reader.OpenArchive(desc_.get()));
  BYTE* data = nullptr;
  DWORD length = 0;
  HANDLE walk = reader.FindFirstDataBlock(&data, &length);
  ASSERT_NE(walk, nullptr);
  std::vector<Bytes> found;
  do {
    found.emplace_back(data, data + length);
    EXPECT_TRUE(reader.DeleteFoundBlockData(data, length));
    EXPECT_EQ(data, nullptr);
  } while (reader.FindNextDataBlock(walk, &data, &length));
  EXPECT_EQ(reader.GetError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(found, (std::vector<Bytes>{TextBytes(10), RandomBytes(4000, 5), TextBytes(3000)}));
  EXPECT_TRUE(reader.FindBlockClose(walk));
  EXPECT_FALSE(reader.FindBlockClose(walk));
  EXPECT_EQ(reader.GetError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(reader.DeleteFoundBlockData(data, 0));
  EXPECT_EQ(reader.GetError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  reader.CloseArchive();
}

// Every byte of a block, flipped, is caught: the header's lengths and marks
// by their checks, the payload by decompression, decryption or checksum.
// (The kind bits are the writer's label and carry no check of their own;
// their marks do.)
TEST_F(BlocksTest, EveryFlippedByteOfABlockIsDetected) {
  for (bool encrypted : {false, true}) {
    for (bool compressible : {false, true}) {
      SCOPED_TRACE(std::to_string(encrypted) + std::to_string(compressible));
      TempDir temp;
      ArchiveDescription desc(temp.DrivePath());
      if (encrypted) desc.password = W("pw");
      CQVStorage storage;
      ASSERT_TRUE(storage.BeginArchive(desc.get()));
      Bytes data = compressible ? TextBytes(600) : RandomBytes(600, 9);
      ULONGLONG offset = 0;
      ASSERT_TRUE(storage.CreateBlock(data.data(), 600, 0, &offset));
      ASSERT_TRUE(storage.CloseArchive());
      fs::path path = temp.path() / "home.QVA";
      Bytes good = ReadAll(path);
      CQVStorage reader;  // one object: its key derivations are remembered
      for (std::size_t at = offset; at < good.size(); ++at) {
        Bytes bad = good;
        if (at == offset + 4) continue;                        // kind, low bits
        bad[at] ^= at == offset + 5 ? (encrypted ? 0x20 : 0x10) : 0x04;  // the marks
        WriteAll(path, bad);
        ASSERT_TRUE(reader.OpenArchive(desc.get()));
        BYTE* out = nullptr;
        DWORD length = 0;
        EXPECT_FALSE(reader.GetBlock(offset, &out, &length)) << "byte " << at;
        EXPECT_EQ(out, nullptr);
        reader.CloseArchive();
      }
    }
  }
}

TEST_F(BlocksTest, TruncatedArchiveIsDamageNotTheEnd) {
  std::vector<ULONGLONG> at = Write({RandomBytes(3000, 6)});
  fs::resize_file(temp_.path() / "home.QVA", at[0] + 1000);
  CQVStorage reader;
  ASSERT_TRUE(reader.OpenArchive(desc_.get()));
  BYTE* out = nullptr;
  DWORD length = 0;
  EXPECT_FALSE(reader.GetBlock(at[0], &out, &length));
  EXPECT_EQ(reader.GetError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  reader.CloseArchive();
}

}  // namespace
}  // namespace qvtest
