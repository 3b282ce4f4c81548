// Finding the master file table's run list on hand-made volumes held in
// memory: pieces of its $DATA in record 0, in extension records named by a
// resident or non-resident attribute list, and the damaged or hostile forms
// that must be refused without reading out of bounds or looping.
#include "fileindex/ntfs_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kCluster = 4096;
constexpr std::uint32_t kRecord = 1024;
constexpr std::uint64_t kClusters = 128;
// The MFT: 8 clusters (32 records), VCN 0..3 at LCN 2, VCN 4..7 at LCN 20.
constexpr std::uint64_t kFirstLcn = 2;
constexpr std::uint64_t kSecondLcn = 20;
constexpr std::uint64_t kMftBytes = 8 * kCluster;
constexpr std::uint64_t kListLcn = 40;  // where a non-resident list goes

void Put(Bytes& b, std::size_t at, std::uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A run list of (LCN, length) runs, each with a 1-byte length and a 2-byte
// LCN delta.
Bytes Runs(std::initializer_list<std::pair<std::int64_t, std::uint8_t>> runs) {
  Bytes list;
  std::int64_t previous = 0;
  for (auto [lcn, length] : runs) {
    std::int64_t delta = lcn - previous;
    previous = lcn;
    list.insert(list.end(), {0x21, length, static_cast<std::uint8_t>(delta), static_cast<std::uint8_t>(delta >> 8)});
  }
  list.push_back(0);
  return list;
}

// One attribute list entry: type, starting VCN, record referenced.
Bytes Entry(std::uint32_t type, std::uint64_t vcn, std::uint64_t record, std::uint8_t nameLength = 0) {
  Bytes e(32, 0);
  Put(e, 0, type, 4);
  Put(e, 4, e.size(), 2);
  e[6] = nameLength;
  e[7] = 26;
  Put(e, 8, vcn, 8);
  Put(e, 16, record | (std::uint64_t{1} << 48), 8);  // sequence 1
  if (nameLength != 0) Put(e, 26, 'x', 2);
  return e;
}

Bytes Join(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A 1024-byte file record, in use, built attribute by attribute and
// protected by the update sequence as on disk.
class RecordBuilder {
 public:
  RecordBuilder() : r_(kRecord, 0) {
    std::memcpy(r_.data(), "FILE", 4);
    Put(r_, 4, 48, 2);  // update sequence array
    Put(r_, 6, 3, 2);
    Put(r_, 16, 1, 2);  // sequence number
    Put(r_, 20, 56, 2);
    Put(r_, 22, 1, 2);  // in use
    Put(r_, 28, kRecord, 4);
  }
  // A non-resident unnamed $DATA piece; the sizes are those of the MFT.
  RecordBuilder& Data(std::uint64_t firstVcn, std::uint64_t lastVcn, const Bytes& runs,
                      std::uint64_t valid = kMftBytes) {
    std::size_t at = Append(0x80, 64 + runs.size(), true);
    Put(r_, at + 16, firstVcn, 8);
    Put(r_, at + 24, lastVcn, 8);
    Put(r_, at + 32, 64, 2);
    Put(r_, at + 40, kMftBytes, 8);
    Put(r_, at + 48, kMftBytes, 8);
    Put(r_, at + 56, valid, 8);
    std::copy(runs.begin(), runs.end(), r_.begin() + at + 64);
    return *this;
  }
  RecordBuilder& ResidentList(const Bytes& value) {
    std::size_t at = Append(0x20, 24 + value.size(), false);
    Put(r_, at + 16, value.size(), 4);
    Put(r_, at + 20, 24, 2);
    std::copy(value.begin(), value.end(), r_.begin() + at + 24);
    return *this;
  }
  RecordBuilder& NonResidentList(const Bytes& runs, std::uint64_t size) {
    std::size_t at = Append(0x20, 64 + runs.size(), true);
    std::uint64_t clusters = (size + kCluster - 1) / kCluster;
    Put(r_, at + 24, clusters - 1, 8);
    Put(r_, at + 32, 64, 2);
    Put(r_, at + 40, clusters * kCluster, 8);
    Put(r_, at + 48, size, 8);
    Put(r_, at + 56, size, 8);
    std::copy(runs.begin(), runs.end(), r_.begin() + at + 64);
    return *this;
  }
  Bytes Protected() const {
    Bytes r = r_;
    Put(r, end_, 0xFFFFFFFF, 4);
    Put(r, 24, end_ + 8, 4);
    for (std::size_t stride = 1; stride <= 2; ++stride) {
      std::size_t check = stride * 512 - 2;
      Put(r, 48 + 2 * stride, r[check] | r[check + 1] << 8, 2);
      Put(r, check, 0x0042, 2);
    }
    Put(r, 48, 0x0042, 2);
    return r;
  }

 private:
  std::size_t Append(std::uint32_t type, std::size_t length, bool nonResident) {
    length = (length + 7) / 8 * 8;
    std::size_t at = end_;
    Put(r_, at, type, 4);
    Put(r_, at + 4, length, 4);
    r_[at + 8] = nonResident ? 1 : 0;
    Put(r_, at + 10, nonResident ? 64 : 24, 2);  // name offset (no name)
    end_ += length;
    return at;
  }

  Bytes r_;
  std::size_t end_ = 56;
};

// The usual split MFT: record 0 holds VCN 0..3 and a list, record `number`
// holds the piece for VCN 4..7.
struct Split {
  std::vector<Bytes> entries = {Entry(0x10, 0, 0), Entry(0x80, 0, 0), Entry(0x80, 4, 3)};
  std::uint64_t number = 3;
  Bytes extension = RecordBuilder().Data(4, 7, Runs({{kSecondLcn, 4}})).Protected();
  bool nonResidentList = false;
  std::uint64_t valid = kMftBytes;

  // Puts the extension record, and the list entry naming it, at `record`.
  void Move(std::uint64_t record) {
    number = record;
    entries[2] = Entry(0x80, 4, record);
  }
};

class NtfsMftLayoutTest : public ::testing::Test {
 protected:
  NtfsMftLayoutTest() : volume_(kClusters * kCluster, 0) {
    boot_.bytesPerSector = 512;
    boot_.bytesPerCluster = kCluster;
    boot_.totalSectors = kClusters * 8;
    boot_.mftLcn = kFirstLcn;
    boot_.bytesPerFileRecord = kRecord;
    // Records 16..31 are marked, so reads through the layout can be checked.
    for (std::uint64_t n = 16; n < 32; ++n) Put(volume_, MftOffset(n) + 100, 0xC0DE0000 + n, 4);
  }

  static std::uint64_t MftOffset(std::uint64_t record) {
    std::uint64_t position = record * kRecord;
    std::uint64_t vcn = position / kCluster;
    std::uint64_t lcn = vcn < 4 ? kFirstLcn + vcn : kSecondLcn + (vcn - 4);
    return lcn * kCluster + position % kCluster;
  }
  void PutRecord(std::uint64_t record, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), volume_.begin() + MftOffset(record));
  }
  void Install(const Split& split) {
    RecordBuilder record0;
    record0.Data(0, 3, Runs({{kFirstLcn, 4}}), split.valid);
    Bytes list = Join(split.entries);
    if (split.nonResidentList) {
      std::copy(list.begin(), list.end(), volume_.begin() + kListLcn * kCluster);
      record0.NonResidentList(Runs({{kListLcn, 1}}), list.size());
    } else {
      record0.ResidentList(list);
    }
    PutRecord(0, record0.Protected());
    PutRecord(split.number, split.extension);
  }
  qv::ntfs::ReadAt Reader() {
    return [this](std::uint64_t offset, std::uint8_t* out, std::size_t size) {
      ++reads_[offset];
      if (offset > volume_.size() || size > volume_.size() - offset) return false;
      std::memcpy(out, volume_.data() + offset, size);
      return true;
    };
  }
  // Record 0 as the callers read it, then its layout.
  bool Load(qv::ntfs::MftLayout* layout) {
    Bytes record0(volume_.begin() + MftOffset(0), volume_.begin() + MftOffset(0) + kRecord);
    if (!qv::ntfs::ApplyFixup(record0, qv::ntfs::kFileSignature)) return false;
    return qv::ntfs::LoadMftLayout(record0, boot_, Reader(), layout);
  }
  // The mark of record `number`, read through `layout`.
  std::uint32_t MarkThrough(const qv::ntfs::MftLayout& layout, std::uint64_t number) {
    Bytes record(kRecord);
    if (!qv::ntfs::ReadRuns(layout.runs, kCluster, number * kRecord, record.data(), kRecord, Reader())) return 0;
    return qv::ntfs::Le32(record, 100);
  }
  void ExpectBothPieces(const qv::ntfs::MftLayout& layout) {
    ASSERT_GE(layout.runs.size(), 2u);
    EXPECT_EQ(layout.runs.front().vcn, 0u);
    EXPECT_EQ(layout.runs.front().lcn, kFirstLcn);
    EXPECT_EQ(layout.validLength, kMftBytes);
    EXPECT_EQ(MarkThrough(layout, 16), 0xC0DE0010u);
    EXPECT_EQ(MarkThrough(layout, 31), 0xC0DE001Fu);
  }

  Bytes volume_;
  qv::ntfs::BootSector boot_;
  std::map<std::uint64_t, int> reads_;
};

TEST_F(NtfsMftLayoutTest, JoinsPiecesHeldInRecordZeroInVcnOrder) {
  // The later piece comes first and states other sizes: the piece at VCN 0
  // gives them.
  PutRecord(0, RecordBuilder()
                   .Data(4, 7, Runs({{kSecondLcn, 4}}), 0)
                   .Data(0, 3, Runs({{kFirstLcn, 4}}))
                   .Protected());
  qv::ntfs::MftLayout layout;
  ASSERT_TRUE(Load(&layout));
  ASSERT_EQ(layout.runs.size(), 2u);
  EXPECT_EQ(layout.runs[1].vcn, 4u);
  EXPECT_EQ(layout.runs[1].lcn, kSecondLcn);
  EXPECT_EQ(layout.dataSize, kMftBytes);
  EXPECT_EQ(layout.allocatedSize, kMftBytes);
  EXPECT_TRUE(reads_.empty());  // nothing beyond record 0 was needed
  ExpectBothPieces(layout);
}

TEST_F(NtfsMftLayoutTest, FollowsAResidentListToItsExtensionRecordOnce) {
  // Record 3 holds two pieces, each with its entry. The entries of another
  // attribute and of a named $DATA name empty records (9, 10), which must
  // not be read, and the entry for VCN 0 names record 0.
  Split split;
  split.extension =
      RecordBuilder().Data(4, 5, Runs({{kSecondLcn, 2}})).Data(6, 7, Runs({{kSecondLcn + 2, 2}})).Protected();
  split.entries = {Entry(0x10, 0, 0), Entry(0x30, 0, 9),    Entry(0x80, 0, 0),
                   Entry(0x80, 4, 3), Entry(0x80, 0, 10, 1), Entry(0x80, 6, 3)};
  Install(split);
  qv::ntfs::MftLayout layout;
  ASSERT_TRUE(Load(&layout));
  ASSERT_EQ(layout.runs.size(), 3u);
  EXPECT_EQ(layout.runs[2].vcn, 6u);
  ExpectBothPieces(layout);
  EXPECT_EQ(reads_[MftOffset(3)], 1);
  EXPECT_EQ(reads_.count(MftOffset(9)) + reads_.count(MftOffset(10)), 0u);
}

TEST_F(NtfsMftLayoutTest, ReadsANonResidentList) {
  Split split;
  split.nonResidentList = true;
  Install(split);
  qv::ntfs::MftLayout layout;
  ASSERT_TRUE(Load(&layout));
  ExpectBothPieces(layout);
  EXPECT_EQ(reads_[kListLcn * kCluster], 1);
}

TEST_F(NtfsMftLayoutTest, EntriesNamingRecordZeroNeedNoRead) {
  PutRecord(0, RecordBuilder()
                   .Data(0, 3, Runs({{kFirstLcn, 4}}))
                   .Data(4, 7, Runs({{kSecondLcn, 4}}))
                   .ResidentList(Join({Entry(0x80, 0, 0), Entry(0x80, 4, 0), Entry(0x80, 4, 0)}))
                   .Protected());
  qv::ntfs::MftLayout layout;
  ASSERT_TRUE(Load(&layout));
  EXPECT_TRUE(reads_.empty());
  ExpectBothPieces(layout);
}

// Each change spoils the split volume in one way; all must be refused, as
// any of them leaves records out of reach or contradicts the list.
TEST_F(NtfsMftLayoutTest, RefusesWhatWouldLeaveRecordsOutOfReach) {
  auto piece = [](std::uint64_t first, std::uint64_t last, const Bytes& runs) {
    return RecordBuilder().Data(first, last, runs).Protected();
  };
  const std::vector<std::pair<std::string, std::function<void(Split&)>>> cases = {
      {"base reference not 0", [](Split& s) { Put(s.extension, 0x20, 7, 6); }},
      {"bad signature", [](Split& s) { std::memcpy(s.extension.data(), "BAAD", 4); }},
      {"torn fix-up", [](Split& s) { s.extension[1023] ^= 1; }},
      {"not in use", [](Split& s) { Put(s.extension, 22, 0, 2); }},
      {"overlap", [&](Split& s) { s.extension = piece(3, 7, Runs({{kSecondLcn - 1, 5}})); }},
      {"gap", [&](Split& s) { s.extension = piece(5, 7, Runs({{kSecondLcn + 1, 3}})); }},
      {"runs shorter than the range", [&](Split& s) { s.extension = piece(4, 9, Runs({{kSecondLcn, 4}})); }},
      {"ends short of the valid length", [&](Split& s) { s.extension = piece(4, 6, Runs({{kSecondLcn, 3}})); }},
      {"resident piece", [](Split& s) { s.extension[56 + 8] = 0; }},
      {"record in the unknown piece", [](Split& s) { s.Move(20); }},
      {"record past the valid length", [](Split& s) {
         s.valid = 12 * kRecord;
         s.Move(13);
       }},
      {"entry naming record 0 for a piece it lacks", [](Split& s) { s.entries[2] = Entry(0x80, 4, 0); }},
      {"zero-length entry", [](Split& s) { Put(s.entries[1], 4, 0, 2); }},
      {"entry longer than the list", [](Split& s) { Put(s.entries[2], 4, 40, 2); }},
      {"bytes too few for an entry", [](Split& s) { s.entries.push_back(Bytes(8, 0)); }},
  };
  for (const auto& [what, change] : cases) {
    SCOPED_TRACE(what);
    std::fill(volume_.begin(), volume_.end(), 0);
    Split split;
    change(split);
    Install(split);
    qv::ntfs::MftLayout layout;
    EXPECT_FALSE(Load(&layout));
  }
  // Record 0 itself: no piece at VCN 0, or a resident $DATA.
  PutRecord(0, RecordBuilder().Data(4, 7, Runs({{kSecondLcn, 4}})).Protected());
  qv::ntfs::MftLayout layout;
  EXPECT_FALSE(Load(&layout));
  Bytes resident = RecordBuilder().Data(0, 7, Runs({{kFirstLcn, 4}, {kSecondLcn, 4}})).Protected();
  resident[56 + 8] = 0;
  PutRecord(0, resident);
  EXPECT_FALSE(Load(&layout));
}

TEST_F(NtfsMftLayoutTest, BoundsTheListAndTheRecordsItNames) {
  // One entry more than the limit of extension records, all distinct: the
  // list is refused before any of them is read.
  Split split;
  split.nonResidentList = true;
  split.entries.clear();
  for (std::uint64_t n = 1; n <= qv::ntfs::kMaxMftExtensionRecords + 1; ++n) {
    split.entries.push_back(Entry(0x80, 4, n));
  }
  Bytes list = Join(split.entries);
  std::copy(list.begin(), list.end(), volume_.begin() + kListLcn * kCluster);
  std::uint8_t clusters = static_cast<std::uint8_t>((list.size() + kCluster - 1) / kCluster);
  PutRecord(0, RecordBuilder()
                   .Data(0, 3, Runs({{kFirstLcn, 4}}))
                   .NonResidentList(Runs({{kListLcn, clusters}}), list.size())
                   .Protected());
  qv::ntfs::MftLayout layout;
  EXPECT_FALSE(Load(&layout));
  EXPECT_EQ(reads_.size(), 1u);  // the list, in one read
  // A list beyond 256 KiB is not read at all.
  reads_.clear();
  PutRecord(0, RecordBuilder()
                   .Data(0, 3, Runs({{kFirstLcn, 4}}))
                   .NonResidentList(Runs({{kListLcn, 65}}), 65 * kCluster)
                   .Protected());
  EXPECT_FALSE(Load(&layout));
  EXPECT_TRUE(reads_.empty());
}

TEST_F(NtfsMftLayoutTest, BoundsTheRunsItGathers) {
  // Record 0 maps VCN 0..39 (records 0..159); records 1..150 each map the
  // next 440 clusters as 440 one-cluster holes: a gap-free MFT, but with
  // more runs in all than are accepted.
  constexpr std::uint64_t kRecords = 150, kHoles = 440, kFirst = 40;
  Bytes holes;
  for (std::uint64_t i = 0; i < kHoles; ++i) holes.insert(holes.end(), {0x01, 0x01});
  holes.push_back(0);
  std::vector<Bytes> entries = {Entry(0x80, 0, 0)};
  for (std::uint64_t n = 1; n <= kRecords; ++n) {
    std::uint64_t first = kFirst + (n - 1) * kHoles;
    Bytes record = RecordBuilder().Data(first, first + kHoles - 1, holes).Protected();
    std::copy(record.begin(), record.end(), volume_.begin() + kFirstLcn * kCluster + n * kRecord);
    entries.push_back(Entry(0x80, first, n));
  }
  ASSERT_GT(kRecords * kHoles, qv::ntfs::kMaxMftRuns);
  Bytes list = Join(entries);
  std::copy(list.begin(), list.end(), volume_.begin() + 100 * kCluster);
  PutRecord(0, RecordBuilder()
                   .Data(0, kFirst - 1, Runs({{kFirstLcn, kFirst}}), kFirst * kCluster)
                   .NonResidentList(Runs({{100, 2}}), list.size())
                   .Protected());
  qv::ntfs::MftLayout layout;
  EXPECT_FALSE(Load(&layout));
}

// Random damage to record 0, the list and the extension record: whatever
// is accepted is still a gap-free run list from VCN 0 covering the valid
// length, and nothing reads out of bounds (checked under the sanitizers).
TEST_F(NtfsMftLayoutTest, RandomDamageGivesAConsistentLayoutOrNone) {
  Split split;
  split.nonResidentList = true;
  Install(split);
  const Bytes good = volume_;
  const std::uint64_t spots[] = {MftOffset(0), MftOffset(3), kListLcn * kCluster};
  std::mt19937 random(11);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    volume_ = good;
    for (int flips = 0; flips < 3; ++flips) {
      std::uint64_t at = spots[random() % 3] + random() % 512;
      volume_[at] ^= static_cast<std::uint8_t>(1 + random() % 255);
    }
    qv::ntfs::MftLayout layout;
    if (!Load(&layout)) continue;
    ++accepted;
    std::uint64_t next = 0;
    for (const qv::ntfs::Run& run : layout.runs) {
      ASSERT_EQ(run.vcn, next);
      next = run.vcn + run.length;
    }
    ASSERT_GE(next * kCluster, layout.validLength);
  }
  EXPECT_GT(accepted, 0);  // damage to unused bytes is harmless
}

}  // namespace
