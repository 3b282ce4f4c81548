// Reading a stream through its run list from a volume held in memory:
// fragments out of order, holes, the window the MFT readers go through.
#include "fileindex/ntfs_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Extent = qv::ntfs::Run;

constexpr std::uint32_t kCluster = 4096;

// A 2 MiB volume whose byte p is p * 7 + (p >> 12), and a stream of 160
// clusters: 64 at cluster 300, a hole of 16, 80 at cluster 20 (behind the
// first fragment, as a negative delta puts it).
class NtfsStreamTest : public ::testing::Test {
 protected:
  NtfsStreamTest() : volume_(2 << 20) {
    for (std::size_t p = 0; p < volume_.size(); ++p) volume_[p] = static_cast<std::uint8_t>(p * 7 + (p >> 12));
    runs_ = {Extent{0, 300, 64, false}, Extent{64, 0, 16, true}, Extent{80, 20, 80, false}};
  }
  qv::ntfs::ReadAt Reader() {
    return [this](std::uint64_t offset, std::uint8_t* out, std::size_t size) {
      ++reads_;
      if (offset + size > volume_.size() || offset == failAt_) return false;
      std::memcpy(out, volume_.data() + offset, size);
      return true;
    };
  }
  // The byte at `position` of the stream.
  std::uint8_t Expected(std::uint64_t position) const {
    std::uint64_t vcn = position / kCluster;
    if (vcn >= 64 && vcn < 80) return 0;
    std::uint64_t lcn = vcn < 64 ? 300 + vcn : 20 + (vcn - 80);
    return volume_[lcn * kCluster + position % kCluster];
  }
  void ExpectStreamBytes(const Bytes& got, std::uint64_t from) {
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], Expected(from + i)) << from + i;
  }

  Bytes volume_;
  std::vector<Extent> runs_;
  int reads_ = 0;
  std::uint64_t failAt_ = ~0ull;
};

TEST_F(NtfsStreamTest, ReadsAcrossFragmentsAndHoles) {
  // From the middle of the first fragment, through the hole, into the third.
  Bytes got(20 * kCluster);
  std::uint64_t from = 60 * kCluster + 100;
  ASSERT_TRUE(qv::ntfs::ReadRuns(runs_, kCluster, from, got.data(), got.size(), Reader()));
  ExpectStreamBytes(got, from);
  EXPECT_EQ(reads_, 2);  // the hole costs no read
  // Past the last run, a zero cluster size, an overflowing position.
  EXPECT_FALSE(qv::ntfs::ReadRuns(runs_, kCluster, 159 * kCluster, got.data(), 2 * kCluster, Reader()));
  EXPECT_FALSE(qv::ntfs::ReadRuns(runs_, 0, 0, got.data(), 1, Reader()));
  std::vector<Extent> far = {Extent{0, ~0ull / 2, 1, false}};
  EXPECT_FALSE(qv::ntfs::ReadRuns(far, kCluster, 0, got.data(), 1, Reader()));
}

TEST_F(NtfsStreamTest, WindowServesRecordsDownwardsFromFewReads) {
  const std::uint64_t valid = 150 * kCluster;  // the last 10 clusters are not valid yet
  qv::ntfs::StreamWindow window(runs_, kCluster, valid, Reader());
  Bytes record(1024);
  for (std::uint64_t number = valid / 1024; number-- > 0;) {
    ASSERT_TRUE(window.Read(number * 1024, record.data(), record.size())) << number;
    ExpectStreamBytes(record, number * 1024);
  }
  // 600 records in windows of 256 records, each window at most two
  // fragments: far fewer reads than records.
  EXPECT_LE(reads_, 8);
  EXPECT_FALSE(window.Read(valid - 512, record.data(), record.size()));  // ends past the valid length
  EXPECT_FALSE(window.Read(~0ull - 10, record.data(), record.size()));
}

TEST_F(NtfsStreamTest, AWindowThatCannotBeReadStillServesWhatCan) {
  // The read of the third fragment's window start fails, as a bad sector
  // would: records elsewhere in that window are still read one by one.
  failAt_ = 20ull * kCluster;
  qv::ntfs::StreamWindow window(runs_, kCluster, 160 * kCluster, Reader());
  Bytes record(1024);
  std::uint64_t inThird = 100 * kCluster;
  ASSERT_TRUE(window.Read(inThird, record.data(), record.size()));
  ExpectStreamBytes(record, inThird);
  EXPECT_FALSE(window.Read(80 * kCluster, record.data(), record.size()));  // the bad spot itself
}

}  // namespace
