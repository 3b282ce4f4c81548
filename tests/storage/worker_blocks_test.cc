// Blocks sealed by worker threads: written in the order they were made,
// each offset filled in once its block is written, nothing lost on close.
#include <gtest/gtest.h>

#include "storage/storage_test_util.h"

namespace qvtest {
namespace {

constexpr DWORD kBlock = 4096;

// Blocks of every kind: short, full, compressible, incompressible.
std::vector<Bytes> MixedBlocks(std::size_t count) {
  std::vector<Bytes> blocks;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t size = i % 3 == 0 ? kBlock : 1 + (i * 977) % kBlock;
    blocks.push_back(i % 2 == 0 ? TextBytes(size) : RandomBytes(size, static_cast<unsigned>(i)));
  }
  return blocks;
}

class WorkerBlocksTest : public ::testing::Test {
 protected:
  WorkerBlocksTest() : blocks_(MixedBlocks(40)), offsets_(blocks_.size(), QVS_INVALID_OFFSET) {
    desc_.info.dwBlockSize = kBlock;
    desc_.password = W("block password");
  }
  // Creates blocks [from, to), each asking for its offset.
  void Create(CQVStorage& writer, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      ASSERT_TRUE(writer.CreateBlock(blocks_[i].data(), static_cast<DWORD>(blocks_[i].size()), 0, &offsets_[i]));
    }
  }
  // Every block reads back at its offset, in order, and nothing follows.
  void ExpectReadBack() {
    CQVStorage reader;
    ASSERT_TRUE(reader.OpenArchive(desc_.get()));
    EXPECT_EQ(offsets_[0], static_cast<ULONGLONG>(QVS_HEADER_SIZE));
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
      if (i > 0) {
        EXPECT_GT(offsets_[i], offsets_[i - 1]) << i;
      }
      EXPECT_EQ(BlockAt(reader, offsets_[i]), blocks_[i]) << i;
    }
    EXPECT_TRUE(BlockAt(reader, QVS_INVALID_OFFSET).empty());
    EXPECT_EQ(reader.GetError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    reader.CloseArchive();
  }

  TempDir temp_;
  ArchiveDescription desc_{temp_.DrivePath()};
  std::vector<Bytes> blocks_;
  std::vector<ULONGLONG> offsets_;
};

TEST_F(WorkerBlocksTest, FlushFillsEveryOffset) {
  CQVStorage writer;
  writer.SetWorkerThreads(3);
  ASSERT_TRUE(writer.BeginArchive(desc_.get()));
  Create(writer, 0, blocks_.size());
  ASSERT_TRUE(writer.FlushBlocks());
  for (ULONGLONG offset : offsets_) ASSERT_NE(offset, QVS_INVALID_OFFSET);
  ASSERT_TRUE(writer.CloseArchive());
  ExpectReadBack();
}

TEST_F(WorkerBlocksTest, CloseAndCountChangesWriteWhatIsQueued) {
  CQVStorage writer;
  writer.SetWorkerThreads(4);
  ASSERT_TRUE(writer.BeginArchive(desc_.get()));
  Create(writer, 0, 6);
  writer.SetWorkerThreads(1);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_NE(offsets_[i], QVS_INVALID_OFFSET) << i;
  writer.SetWorkerThreads(2);
  Create(writer, 6, blocks_.size());
  ASSERT_TRUE(writer.CloseArchive());
  EXPECT_FALSE(writer.CreateBlock(blocks_[0].data(), 1, 0));
  EXPECT_EQ(writer.GetError(), static_cast<DWORD>(ERROR_INVALID_STATE));
  ExpectReadBack();
}

}  // namespace
}  // namespace qvtest
