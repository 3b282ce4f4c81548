// Blocks read ahead for a reader going through the archive in order: the
// reader gets the same blocks, offsets and errors as without workers,
// across volumes, with a password, past damage, and when it jumps about.
#include <gtest/gtest.h>

#include <string>

#include "storage/storage_test_util.h"

namespace qvtest {
namespace {

constexpr DWORD kBlock = 16384;
constexpr std::size_t kBlocks = 60;

// Blocks of every kind: short, full, compressible, incompressible; stored
// in fewer bytes than the reader opens itself (a few KiB) and in more,
// which go to the workers, one kind after the other.
std::vector<Bytes> MixedBlocks() {
  std::vector<Bytes> blocks;
  for (std::size_t i = 0; i < kBlocks; ++i) {
    const std::size_t size = i % 3 == 0 ? kBlock : 1 + (i * 977) % kBlock;
    blocks.push_back(i % 2 == 0 ? TextBytes(size) : RandomBytes(size, static_cast<unsigned>(i)));
  }
  return blocks;
}

// What one GetBlock gave the reader: the data or the error, and where the
// archive said it was after it.
struct Step {
  bool ok;
  Bytes data;
  DWORD error;
  ULONGLONG after;
  bool operator==(const Step& other) const {
    return ok == other.ok && data == other.data && error == other.error && after == other.after;
  }
};

std::string Describe(const std::vector<Step>& steps) {
  std::string text;
  for (const Step& step : steps) {
    text += step.ok ? std::to_string(step.data.size()) : "error " + std::to_string(step.error);
    text += " @" + std::to_string(step.after) + "; ";
  }
  return text;
}

Step Read(CQVStorage& reader, ULONGLONG offset) {
  Step step{false, {}, 0, 0};
  BYTE* data = nullptr;
  DWORD length = 0;
  step.ok = reader.GetBlock(offset, &data, &length) != FALSE;
  step.error = reader.GetError();
  if (step.ok) {
    step.data.assign(data, data + length);
    reader.DeleteFoundBlockData(data, length);
  }
  step.after = reader.GetArchiveOffset();
  return step;
}

class ReadAheadTest : public ::testing::TestWithParam<int> {
 protected:
  ReadAheadTest() : blocks_(MixedBlocks()) {
    desc_.info.dwBlockSize = kBlock;
    if (GetParam() & 1) desc_.password = W("read ahead");
    // Volumes a few blocks long, so that blocks cross from one to the next.
    if (GetParam() & 2) desc_.info.ullVolumeSize = 3 * kBlock + 517;
  }
  void SetUp() override {
    CQVStorage writer;
    ASSERT_TRUE(writer.BeginArchive(desc_.get())) << writer.GetError();
    for (const Bytes& data : blocks_) {
      ULONGLONG offset = 0;
      ASSERT_TRUE(writer.CreateBlock(data.data(), static_cast<DWORD>(data.size()), 0, &offset));
      offsets_.push_back(offset);
    }
    ASSERT_TRUE(writer.CloseArchive());
  }
  // Every block in order from the first, then on past the errors until the
  // data ends or `most` steps were taken.
  std::vector<Step> ReadInOrder(DWORD threads, std::size_t most = kBlocks + 8) {
    CQVStorage reader;
    reader.SetWorkerThreads(threads);
    EXPECT_TRUE(reader.OpenArchive(desc_.get())) << reader.GetError();
    std::vector<Step> steps;
    steps.push_back(Read(reader, offsets_[0]));
    while (steps.size() < most && (steps.back().ok || steps.back().error != ERROR_NO_MORE_ITEMS)) {
      steps.push_back(Read(reader, QVS_INVALID_OFFSET));
    }
    reader.CloseArchive();
    return steps;
  }

  TempDir temp_;
  ArchiveDescription desc_{temp_.DrivePath()};
  std::vector<Bytes> blocks_;
  std::vector<ULONGLONG> offsets_;
};

TEST_P(ReadAheadTest, InOrderTheReaderGetsWhatItGetsAlone) {
  const std::vector<Step> alone = ReadInOrder(1);
  ASSERT_EQ(alone.size(), kBlocks + 1) << Describe(alone);
  for (std::size_t i = 0; i < kBlocks; ++i) {
    EXPECT_EQ(alone[i].data, blocks_[i]) << i;
    EXPECT_EQ(alone[i].after, i + 1 < kBlocks ? offsets_[i + 1] : alone[i].after) << i;
  }
  EXPECT_EQ(alone.back().error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  for (DWORD threads : {2u, 5u}) {
    const std::vector<Step> ahead = ReadInOrder(threads);
    EXPECT_TRUE(ahead == alone) << threads << " threads: " << Describe(ahead);
  }
}

// A damaged block fails as it does without workers, where it does, and the
// blocks after it still read; so does an archive cut short.
TEST_P(ReadAheadTest, DamageFailsTheSameBlockWithTheSameError) {
  if (GetParam() & 2) GTEST_SKIP() << "one volume is enough to damage";
  const std::filesystem::path file = temp_.path() / "home.QVA";
  Bytes bytes = ReadAll(file);
  const Bytes whole = bytes;
  bytes[offsets_[20] + 14 + 3] ^= 0x40;   // a payload byte
  bytes[offsets_[33] + 8] ^= 0x01;        // a data length
  WriteAll(file, bytes);
  const std::vector<Step> alone = ReadInOrder(1);
  EXPECT_FALSE(alone[20].ok);
  EXPECT_TRUE(alone[21].ok);
  EXPECT_EQ(alone[21].data, blocks_[21]);
  EXPECT_TRUE(ReadInOrder(3) == alone) << Describe(ReadInOrder(3));

  bytes = whole;
  bytes.resize(offsets_[45] + 20);
  WriteAll(file, bytes);
  const std::vector<Step> cut = ReadInOrder(1);
  ASSERT_GT(cut.size(), 45u);
  EXPECT_TRUE(cut[44].ok);
  EXPECT_FALSE(cut[45].ok);
  EXPECT_EQ(cut[45].error, static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_TRUE(ReadInOrder(3) == cut) << Describe(ReadInOrder(3));
}

// Jumps, seeks and walks between the reads in order: each read gives the
// block where the reader asked for it.
TEST_P(ReadAheadTest, AReaderThatJumpsGetsTheBlockWhereItAsks) {
  CQVStorage reader;
  reader.SetWorkerThreads(3);
  ASSERT_TRUE(reader.OpenArchive(desc_.get()));
  EXPECT_EQ(Read(reader, offsets_[0]).data, blocks_[0]);
  for (std::size_t i = 1; i < 10; ++i) EXPECT_EQ(Read(reader, QVS_INVALID_OFFSET).data, blocks_[i]) << i;
  // Its own next block asked by offset, then one far ahead, then back.
  EXPECT_EQ(Read(reader, offsets_[10]).data, blocks_[10]);
  EXPECT_EQ(Read(reader, offsets_[40]).data, blocks_[40]);
  EXPECT_EQ(Read(reader, QVS_INVALID_OFFSET).data, blocks_[41]);
  EXPECT_EQ(Read(reader, QVS_INVALID_OFFSET).data, blocks_[42]);
  EXPECT_EQ(Read(reader, offsets_[5]).data, blocks_[5]);
  EXPECT_EQ(Read(reader, QVS_INVALID_OFFSET).data, blocks_[6]);
  // A seek and a raw read move the reader as they did.
  EXPECT_EQ(reader.Seek(offsets_[30], 0, TRUE), offsets_[30]);
  EXPECT_EQ(Read(reader, QVS_INVALID_OFFSET).data, blocks_[30]);
  EXPECT_EQ(Read(reader, QVS_INVALID_OFFSET).data, blocks_[31]);
  BYTE header[14];
  ASSERT_TRUE(reader.ReadData(header, sizeof(header)));
  EXPECT_EQ(Dword(Bytes(header, header + 14), 0), offsets_[33] - offsets_[32] - 14);
  EXPECT_EQ(reader.GetArchiveOffset(), offsets_[32] + 14);
  EXPECT_EQ(reader.Seek(offsets_[33], 0, TRUE), offsets_[33]);
  EXPECT_EQ(Read(reader, QVS_INVALID_OFFSET).data, blocks_[33]);
  reader.CloseArchive();

  // A walk of every block sees each once, in order.
  CQVStorage walker;
  walker.SetWorkerThreads(2);
  ASSERT_TRUE(walker.OpenArchive(desc_.get()));
  BYTE* data = nullptr;
  DWORD length = 0;
  HANDLE find = walker.FindFirstDataBlock(&data, &length);
  ASSERT_NE(find, nullptr);
  std::size_t seen = 0;
  do {
    ASSERT_LT(seen, kBlocks);
    EXPECT_EQ(Bytes(data, data + length), blocks_[seen]) << seen;
    walker.DeleteFoundBlockData(data, length);
    ++seen;
  } while (walker.FindNextDataBlock(find, &data, &length));
  EXPECT_EQ(walker.GetError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(seen, kBlocks);
  walker.FindBlockClose(find);
  walker.CloseArchive();
}

std::string ArchiveKind(const ::testing::TestParamInfo<int>& info) {
  static const char* const kNames[] = {"Plain", "Password", "Volumes", "PasswordAndVolumes"};
  return kNames[info.param];
}

INSTANTIATE_TEST_SUITE_P(Archives, ReadAheadTest, ::testing::Values(0, 1, 2, 3), ArchiveKind);

}  // namespace
}  // namespace qvtest
