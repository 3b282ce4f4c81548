// Encrypted archives with keys of their own: equal passwords give unrelated
// keys and check values, every encrypted block is bound to its archive,
// member and place, and a damaged check value is told from a wrong
// password.
#include <gtest/gtest.h>

#include <algorithm>

#include "storage/storage_test_util.h"

namespace qvtest {
namespace {

constexpr std::size_t kCheckValue = 161;
constexpr std::size_t kCheckValueSize = 20;
constexpr std::size_t kKeyScheme = 134;
constexpr std::size_t kBlockBytes = 14 + 4096 + 28;  // random data: stored as it is, then sealed

class BoundBlocksTest : public ::testing::Test {
 protected:
  BoundBlocksTest() { desc_.password = W("one password"); }

  // Writes `blocks` as archive `name` (an increment of it when
  // `incremental`) with `threads` workers; returns their offsets.
  std::vector<ULONGLONG> Write(const WString& name, const std::vector<Bytes>& blocks, bool incremental = false,
                               DWORD threads = 1) {
    desc_.name = name;
    CQVStorage storage;
    storage.SetWorkerThreads(threads);
    std::vector<ULONGLONG> offsets(blocks.size());
    const BOOL begun = incremental ? storage.BeginIncrementalArchive(desc_.get()) : storage.BeginArchive(desc_.get());
    EXPECT_TRUE(begun) << storage.GetError();
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_TRUE(storage.CreateBlock(blocks[i].data(), static_cast<DWORD>(blocks[i].size()), 0, &offsets[i]))
          << storage.GetError();
    }
    EXPECT_TRUE(storage.FlushBlocks());
    EXPECT_TRUE(EndWithClosingRecord(storage));  // a whole member, which an increment can follow
    EXPECT_TRUE(storage.CloseArchive()) << storage.GetError();
    return offsets;
  }

  // The block at `offset` of archive `name` (increment `increment`), or
  // the error that refused it.
  std::pair<Bytes, DWORD> Read(const WString& name, ULONGLONG offset, DWORD increment = 0) {
    ArchiveDescription desc(temp_.DrivePath());
    desc.name = name;
    desc.password = desc_.password;
    desc.info.dwIncrementToOpen = increment;
    CQVStorage reader;
    if (!reader.OpenArchive(desc.get())) return {{}, reader.GetError()};
    BYTE* data = nullptr;
    DWORD length = 0;
    std::pair<Bytes, DWORD> result;
    if (reader.GetBlock(offset, &data, &length)) {
      result.first.assign(data, data + length);
      reader.DeleteFoundBlockData(data, length);
    } else {
      result.second = reader.GetError();
    }
    reader.CloseArchive();
    return result;
  }

  std::filesystem::path File(const char* name) { return temp_.path() / name; }

  // Archive "home" opened with another password fails as a wrong password,
  // never as damage.
  void ExpectAnotherPasswordRefused() {
    ArchiveDescription wrong(temp_.DrivePath());
    wrong.password = W("another password");
    CQVStorage refused;
    EXPECT_FALSE(refused.OpenArchive(wrong.get()));
    EXPECT_EQ(refused.GetError(), static_cast<DWORD>(ERROR_WRONG_PASSWORD));
    EXPECT_FALSE(refused.IsCheckValueDamaged());
  }

  TempDir temp_;
  ArchiveDescription desc_{temp_.DrivePath()};
};

TEST_F(BoundBlocksTest, EqualPasswordsGiveUnrelatedCheckValuesAndTheKeySchemeIsMarked) {
  Write(W("first"), {TextBytes(100)});
  Write(W("second"), {TextBytes(100)});
  Bytes first = ReadAll(File("first.QVA"));
  Bytes second = ReadAll(File("second.QVA"));
  EXPECT_EQ(first[kKeyScheme], 1);
  EXPECT_EQ(second[kKeyScheme], 1);
  EXPECT_NE(Bytes(first.begin() + 8, first.begin() + 24), Bytes(second.begin() + 8, second.begin() + 24));
  EXPECT_NE(Bytes(first.begin() + kCheckValue, first.begin() + kCheckValue + kCheckValueSize),
            Bytes(second.begin() + kCheckValue, second.begin() + kCheckValue + kCheckValueSize));
  // An archive without a password stays as archives always were.
  desc_.password.clear();
  Write(W("plain"), {TextBytes(100)});
  EXPECT_EQ(ReadAll(File("plain.QVA"))[kKeyScheme], 0);
}

TEST_F(BoundBlocksTest, SwappedOrMovedBlocksFailLikeDamagedOnes) {
  for (DWORD threads : {1u, 3u}) {
    SCOPED_TRACE(threads);
    const Bytes a = RandomBytes(4096, 1);
    const Bytes b = RandomBytes(4096, 2);
    std::vector<ULONGLONG> at = Write(W("home"), {a, b, TextBytes(50)}, false, threads);
    ASSERT_EQ(at[1] - at[0], kBlockBytes);
    EXPECT_EQ(Read(W("home"), at[0]).first, a);
    EXPECT_EQ(Read(W("home"), at[1]).first, b);
    const Bytes original = ReadAll(File("home.QVA"));
    // Swapped: each whole block (header, nonce, text and tag) in the
    // other's place.
    Bytes swapped = original;
    std::swap_ranges(swapped.begin() + at[0], swapped.begin() + at[0] + kBlockBytes, swapped.begin() + at[1]);
    WriteAll(File("home.QVA"), swapped);
    EXPECT_EQ(Read(W("home"), at[0]).second, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(Read(W("home"), at[1]).second, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(Read(W("home"), at[2]).first, TextBytes(50));
    // Moved: the first block copied over the second.
    Bytes moved = original;
    std::copy(original.begin() + at[0], original.begin() + at[0] + kBlockBytes, moved.begin() + at[1]);
    WriteAll(File("home.QVA"), moved);
    EXPECT_EQ(Read(W("home"), at[0]).first, a);
    EXPECT_EQ(Read(W("home"), at[1]).second, static_cast<DWORD>(ERROR_INVALID_DATA));
  }
}

TEST_F(BoundBlocksTest, ABlockTakenFromAnotherArchiveOrMemberFails) {
  const Bytes mine = RandomBytes(4096, 3);
  const Bytes theirs = RandomBytes(4096, 4);
  std::vector<ULONGLONG> at = Write(W("home"), {mine});
  std::vector<ULONGLONG> there = Write(W("other"), {theirs});
  ASSERT_EQ(at[0], there[0]);
  // Another archive of the same password, the block at the same offset.
  Bytes home = ReadAll(File("home.QVA"));
  const Bytes kept = home;
  const Bytes other = ReadAll(File("other.QVA"));
  ASSERT_GE(other.size(), there[0] + kBlockBytes);
  std::copy(other.begin() + there[0], other.begin() + there[0] + kBlockBytes, home.begin() + at[0]);
  WriteAll(File("home.QVA"), home);
  EXPECT_EQ(Read(W("home"), at[0]).second, static_cast<DWORD>(ERROR_INVALID_DATA));
  // An increment shares its base's identifier and key; its number still
  // tells its blocks from the base's.
  WriteAll(File("home.QVA"), kept);
  std::vector<ULONGLONG> next = Write(W("home"), {theirs}, true);
  ASSERT_EQ(next[0], at[0]);
  Bytes increment = ReadAll(File("home.I1.QVA"));
  ASSERT_GE(increment.size(), next[0] + kBlockBytes);
  EXPECT_EQ(Bytes(increment.begin() + kCheckValue, increment.begin() + kCheckValue + kCheckValueSize),
            Bytes(kept.begin() + kCheckValue, kept.begin() + kCheckValue + kCheckValueSize));
  EXPECT_EQ(Read(W("home"), next[0], 1).first, theirs);
  std::copy(kept.begin() + at[0], kept.begin() + at[0] + kBlockBytes, increment.begin() + next[0]);
  WriteAll(File("home.I1.QVA"), increment);
  EXPECT_EQ(Read(W("home"), next[0], 1).second, static_cast<DWORD>(ERROR_INVALID_DATA));
}

TEST_F(BoundBlocksTest, TheBlockHeaderIsCoveredToo) {
  std::vector<ULONGLONG> at = Write(W("home"), {TextBytes(3000)});
  const Bytes original = ReadAll(File("home.QVA"));
  // The kind (bits 0-11) changed from 1 to 3: a file's data read as the
  // metadata table.
  Bytes kind = original;
  kind[at[0] + 4] = 3;
  WriteAll(File("home.QVA"), kind);
  EXPECT_EQ(Read(W("home"), at[0]).second, static_cast<DWORD>(ERROR_INVALID_DATA));
  WriteAll(File("home.QVA"), original);
  EXPECT_EQ(Read(W("home"), at[0]).first, TextBytes(3000));
}

TEST_F(BoundBlocksTest, ADamagedCheckValueIsToldFromAWrongPassword) {
  for (std::size_t bit : {0u, 77u, 159u}) {
    SCOPED_TRACE(bit);
    std::vector<ULONGLONG> at = Write(W("home"), {TextBytes(700), RandomBytes(4096, 9)});
    Bytes file = ReadAll(File("home.QVA"));
    file[kCheckValue + bit / 8] ^= static_cast<BYTE>(1u << (bit % 8));
    WriteAll(File("home.QVA"), file);
    CQVStorage reader;
    ASSERT_TRUE(reader.OpenArchive(desc_.get())) << reader.GetError();
    EXPECT_TRUE(reader.IsCheckValueDamaged());
    EXPECT_EQ(BlockAt(reader, at[0]), TextBytes(700));
    EXPECT_EQ(BlockAt(reader, at[1]), RandomBytes(4096, 9));
    reader.CloseArchive();
    ExpectAnotherPasswordRefused();  // a wrong password is still one
  }
  // An intact archive is not called damaged.
  Write(W("home"), {TextBytes(10)});
  CQVStorage intact;
  ASSERT_TRUE(intact.OpenArchive(desc_.get()));
  EXPECT_FALSE(intact.IsCheckValueDamaged());
  intact.CloseArchive();
}

// The identifier and the scheme byte make the keys too: damage to either is
// damage, read past with the identifier's copy, not a wrong password.
TEST_F(BoundBlocksTest, ADamagedIdentifierOrSchemeIsReadWithTheCopy) {
  struct Flip {
    std::size_t at;
    BYTE mask;
  };
  for (Flip flip : {Flip{8, 0x01}, Flip{23, 0x80}, Flip{kKeyScheme, 0x01}}) {
    SCOPED_TRACE(flip.at);
    std::vector<ULONGLONG> at = Write(W("home"), {TextBytes(700)});
    Bytes file = ReadAll(File("home.QVA"));
    EXPECT_EQ(Bytes(file.begin() + 197, file.begin() + 213), Bytes(file.begin() + 8, file.begin() + 24));
    file[flip.at] ^= flip.mask;
    WriteAll(File("home.QVA"), file);
    CQVStorage reader;
    ASSERT_TRUE(reader.OpenArchive(desc_.get())) << reader.GetError();
    EXPECT_TRUE(reader.IsCheckValueDamaged());
    EXPECT_EQ(BlockAt(reader, at[0]), TextBytes(700));
    reader.CloseArchive();
    ExpectAnotherPasswordRefused();
  }
}

TEST_F(BoundBlocksTest, AKeySchemeThisReaderDoesNotKnowIsRefused) {
  Write(W("home"), {TextBytes(10)});
  Bytes file = ReadAll(File("home.QVA"));
  file[kKeyScheme] = 2;
  WriteAll(File("home.QVA"), file);
  CQVStorage reader;
  EXPECT_FALSE(reader.OpenArchive(desc_.get()));
  EXPECT_EQ(reader.GetError(), static_cast<DWORD>(ERROR_BAD_FORMAT));
  // Keys of its own on an archive without a password make no sense either.
  desc_.password.clear();
  Write(W("home"), {TextBytes(10)});
  file = ReadAll(File("home.QVA"));
  file[kKeyScheme] = 1;
  WriteAll(File("home.QVA"), file);
  EXPECT_FALSE(reader.OpenArchive(desc_.get()));
  EXPECT_EQ(reader.GetError(), static_cast<DWORD>(ERROR_BAD_FORMAT));
}

}  // namespace
}  // namespace qvtest
