// A real mkntfs image whose master file table is made to lie in two pieces,
// as on a heavily fragmented volume: the second half of its clusters is
// moved to free clusters elsewhere, record 0's $DATA keeps only the first
// half, and an attribute list in record 0 names an extension record that
// maps the second. Both NTFS loaders must read the same tree from it as
// from the untouched image.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/test_util.h"
#include "fileindex/index_test_util.h"
#include "fileindex/volume_images.h"
#include "qvbackup/host.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

std::uint64_t Get(const Bytes& b, std::size_t at, int width) {
  std::uint64_t v = 0;
  for (int i = 0; i < width; ++i) v |= std::uint64_t{b[at + i]} << (8 * i);
  return v;
}

void Set(Bytes& b, std::size_t at, std::uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<BYTE>(v >> (8 * i));
}

// Edits an image's MFT in place, record by record, with the update
// sequence undone while a record is edited and redone after.
class MftSurgeon {
 public:
  explicit MftSurgeon(Bytes* image) : image_(*image) {
    cluster_ = Get(image_, 11, 2) * image_[13];
    auto perRecord = static_cast<std::int8_t>(image_[0x40]);
    recordSize_ = perRecord < 0 ? std::uint64_t{1} << -perRecord : perRecord * cluster_;
    mft_ = Get(image_, 0x30, 8) * cluster_;
    mirror_ = Get(image_, 0x38, 8) * cluster_;
  }

  std::size_t Base(std::uint64_t record) const { return mft_ + record * recordSize_; }
  std::uint64_t cluster() const { return cluster_; }

  void Unprotect(std::uint64_t record) {
    std::size_t base = Base(record), usa = base + Get(image_, base + 4, 2);
    for (std::size_t i = 1; i <= recordSize_ / 512; ++i) {
      Set(image_, base + i * 512 - 2, Get(image_, usa + 2 * i, 2), 2);
    }
  }
  void Protect(std::uint64_t record) {
    std::size_t base = Base(record), usa = base + Get(image_, base + 4, 2);
    std::uint64_t sequence = Get(image_, usa, 2);
    for (std::size_t i = 1; i <= recordSize_ / 512; ++i) {
      Set(image_, usa + 2 * i, Get(image_, base + i * 512 - 2, 2), 2);
      Set(image_, base + i * 512 - 2, sequence, 2);
    }
  }

  // Offsets in the image of the attribute headers of an unprotected record.
  std::vector<std::size_t> Attributes(std::uint64_t record) const {
    std::vector<std::size_t> found;
    for (std::size_t at = Base(record) + Get(image_, Base(record) + 20, 2); Get(image_, at, 4) != 0xFFFFFFFF;
         at += Get(image_, at + 4, 4)) {
      found.push_back(at);
    }
    return found;
  }
  std::size_t Find(std::uint64_t record, std::uint32_t type) const {
    for (std::size_t at : Attributes(record)) {
      if (Get(image_, at, 4) == type && image_[at + 9] == 0) return at;
    }
    return 0;
  }

  // (LCN, length) runs of the non-resident attribute at `at`.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> Runs(std::size_t at) const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;
    std::int64_t lcn = 0;
    for (std::size_t p = at + Get(image_, at + 32, 2); image_[p] != 0;) {
      int lengthSize = image_[p] & 15, deltaSize = image_[p] >> 4;
      std::uint64_t length = Get(image_, p + 1, lengthSize);
      std::uint64_t delta = Get(image_, p + 1 + lengthSize, deltaSize);
      if (deltaSize > 0 && deltaSize < 8 && (delta >> (8 * deltaSize - 1)) != 0) delta |= ~0ull << (8 * deltaSize);
      lcn += static_cast<std::int64_t>(delta);
      runs.emplace_back(static_cast<std::uint64_t>(lcn), length);
      p += 1 + lengthSize + deltaSize;
    }
    return runs;
  }
  // Sets bit `bit` of the bitmap a non-resident attribute holds.
  void SetBit(std::size_t bitmap, std::uint64_t bit, bool on) {
    std::size_t at = Runs(bitmap).at(0).first * cluster_ + bit / 8;
    image_[at] = static_cast<BYTE>(on ? image_[at] | (1u << (bit % 8)) : image_[at] & ~(1u << (bit % 8)));
  }
  bool BitSet(std::size_t bitmap, std::uint64_t bit) const {
    return (image_[Runs(bitmap).at(0).first * cluster_ + bit / 8] >> (bit % 8)) & 1;
  }

  // Record 0, copied to the MFT mirror as well.
  void MirrorRecordZero() { std::copy_n(image_.begin() + Base(0), recordSize_, image_.begin() + mirror_); }
  std::uint64_t recordSize() const { return recordSize_; }

 private:
  Bytes& image_;
  std::uint64_t cluster_ = 0;
  std::uint64_t recordSize_ = 0;
  std::size_t mft_ = 0;
  std::size_t mirror_ = 0;
};

constexpr std::uint32_t kAttributeList = 0x20;
constexpr std::uint32_t kData = 0x80;
constexpr std::uint32_t kBitmap = 0xB0;
constexpr std::uint64_t kVolumeBitmapRecord = 6;
constexpr std::uint64_t kExtensionRecord = 27;  // formatted, not in use, in the first piece

// A run list of one run: 2-byte length, 4-byte LCN.
Bytes OneRun(std::uint64_t lcn, std::uint64_t length) {
  Bytes runs(8, 0);
  runs[0] = 0x42;
  Set(runs, 1, length, 2);
  Set(runs, 3, lcn, 4);
  return runs;
}

// Finds `count` free clusters from `from` on in the volume bitmap and
// takes them; 0 when there are none.
std::uint64_t TakeFreeClusters(MftSurgeon& mft, std::uint64_t from, std::uint64_t count, std::uint64_t total) {
  std::size_t bitmap = mft.Find(kVolumeBitmapRecord, kData);
  for (std::uint64_t start = from; start + count <= total; ++start) {
    std::uint64_t free = 0;
    while (free < count && !mft.BitSet(bitmap, start + free)) ++free;
    if (free < count) continue;
    for (std::uint64_t c = start; c < start + count; ++c) mft.SetBit(bitmap, c, true);
    return start;
  }
  return 0;
}

// The extension record: in use, base record 0, one $DATA piece for VCN
// `first`..`last` at `lcn`.
void MakeExtensionRecord(Bytes& image, MftSurgeon& mft, std::uint64_t first, std::uint64_t last, std::uint64_t lcn) {
  mft.Unprotect(kExtensionRecord);
  std::size_t base = mft.Base(kExtensionRecord);
  std::size_t at = base + Get(image, base + 20, 2);
  std::fill(image.begin() + at, image.begin() + base + mft.recordSize(), 0);
  Set(image, base + 22, 1, 2);                       // in use
  Set(image, base + 0x20, std::uint64_t{1} << 48, 8);  // record 0, sequence 1
  Bytes runs = OneRun(lcn, last - first + 1);
  Set(image, at, kData, 4);
  Set(image, at + 4, 64 + runs.size(), 4);
  image[at + 8] = 1;
  Set(image, at + 10, 64, 2);
  Set(image, at + 14, Get(image, base + 0x28, 2), 2);  // attribute id
  Set(image, base + 0x28, Get(image, base + 0x28, 2) + 1, 2);
  Set(image, at + 16, first, 8);
  Set(image, at + 24, last, 8);
  Set(image, at + 32, 64, 2);
  std::copy(runs.begin(), runs.end(), image.begin() + at + 64);
  Set(image, at + 64 + runs.size(), 0xFFFFFFFF, 4);
  Set(image, base + 24, at + 64 + runs.size() + 8 - base, 4);
  mft.Protect(kExtensionRecord);
}

// Record 0 rebuilt: its attributes in order with a resident attribute list
// after $STANDARD_INFORMATION, and its $DATA cut to VCN 0..`keep` - 1.
void RebuildRecordZero(Bytes& image, MftSurgeon& mft, std::uint64_t keep) {
  std::size_t base = mft.Base(0);
  std::size_t first = Get(image, base + 20, 2);
  std::uint64_t nextId = Get(image, base + 0x28, 2);
  std::uint64_t sequence = std::uint64_t{Get(image, base + 16, 2)} << 48;
  Bytes list;
  std::vector<Bytes> attributes;
  for (std::size_t at : mft.Attributes(0)) {
    Bytes attribute(image.begin() + at, image.begin() + at + Get(image, at + 4, 4));
    std::uint32_t type = static_cast<std::uint32_t>(Get(attribute, 0, 4));
    auto entry = [&](std::uint64_t vcn, std::uint64_t record, std::uint64_t id) {
      Bytes e(32, 0);
      Set(e, 0, type, 4);
      Set(e, 4, 32, 2);
      e[7] = 26;
      Set(e, 8, vcn, 8);
      Set(e, 16, record | sequence, 8);
      Set(e, 24, id, 2);
      list.insert(list.end(), e.begin(), e.end());
    };
    entry(0, 0, Get(attribute, 14, 2));
    if (type == kData && attribute[9] == 0) {
      Bytes runs = OneRun(mft.Runs(at).at(0).first, keep);
      ASSERT_GE(attribute.size(), 64 + runs.size());
      std::fill(attribute.begin() + 64, attribute.end(), 0);
      std::copy(runs.begin(), runs.end(), attribute.begin() + 64);
      Set(attribute, 24, keep - 1, 8);
      entry(keep, kExtensionRecord, 0);
    }
    attributes.push_back(std::move(attribute));
  }
  Bytes header(24 + list.size(), 0);
  Set(header, 0, kAttributeList, 4);
  Set(header, 4, header.size(), 4);
  Set(header, 14, nextId, 2);
  Set(header, 16, list.size(), 4);
  Set(header, 20, 24, 2);
  std::copy(list.begin(), list.end(), header.begin() + 24);
  attributes.insert(attributes.begin() + 1, header);  // after $STANDARD_INFORMATION

  std::size_t at = base + first;
  std::fill(image.begin() + at, image.begin() + base + mft.recordSize(), 0);
  for (const Bytes& attribute : attributes) {
    std::copy(attribute.begin(), attribute.end(), image.begin() + at);
    at += attribute.size();
  }
  Set(image, at, 0xFFFFFFFF, 4);
  Set(image, base + 24, at + 8 - base, 4);
  Set(image, base + 0x28, nextId + 1, 2);
  ASSERT_LE(at + 8 - base, mft.recordSize());
}

// Splits the MFT of `image` in two as described at the top; the first
// record of the moved piece goes to `*firstMoved`.
void SplitMft(Bytes& image, std::uint64_t* firstMoved) {
  MftSurgeon mft(&image);
  for (std::uint64_t record : {std::uint64_t{0}, kVolumeBitmapRecord}) mft.Unprotect(record);
  std::size_t data = mft.Find(0, kData);
  ASSERT_NE(data, 0u);
  auto runs = mft.Runs(data);
  ASSERT_EQ(runs.size(), 1u) << "mkntfs makes the MFT one run";
  const std::uint64_t lcn = runs[0].first, clusters = runs[0].second, keep = clusters / 2;
  const std::uint64_t moved = clusters - keep, cluster = mft.cluster();
  *firstMoved = keep * cluster / mft.recordSize();
  ASSERT_LT(kExtensionRecord, *firstMoved);  // it maps the moved piece, so it must stay

  std::uint64_t target = TakeFreeClusters(mft, lcn + clusters + 200, moved, image.size() / cluster);
  ASSERT_NE(target, 0u);
  std::copy_n(image.begin() + (lcn + keep) * cluster, moved * cluster, image.begin() + target * cluster);
  std::fill_n(image.begin() + (lcn + keep) * cluster, moved * cluster, 0);
  std::size_t volumeBitmap = mft.Find(kVolumeBitmapRecord, kData);
  for (std::uint64_t c = lcn + keep; c < lcn + clusters; ++c) mft.SetBit(volumeBitmap, c, false);
  mft.Protect(kVolumeBitmapRecord);

  MakeExtensionRecord(image, mft, keep, clusters - 1, target);
  mft.SetBit(mft.Find(0, kBitmap), kExtensionRecord, true);
  RebuildRecordZero(image, mft, keep);
  mft.Protect(0);
  mft.MirrorRecordZero();
}

struct Item {
  ULONGLONG size;
  bool folder;
  bool inUse;
  ULONGLONG written;
  bool operator==(const Item&) const = default;
};

// Loads `image` as drive E: through the control codes or raw; every entry
// by path. Empty, with `*error`, when the load fails.
std::map<std::string, Item> LoadTree(const fs::path& image, bool raw, DWORD* error) {
  std::map<std::string, Item> items;
  EXPECT_TRUE(QVSetDriveMapping(u'E', nullptr, W(image.string()).c_str()));
  CQVFileArray index;
  bool loaded = index.OpenDrive(u'E') &&
                (raw ? index.AddNTFSVolume2(QVT("E:\\")) : index.AddNTFSVolume(QVT("E:\\")));
  *error = loaded ? ERROR_SUCCESS : GetLastError();
  index.CloseDrive();
  QVSetDriveMapping(u'E', nullptr, nullptr);
  if (!loaded) return items;
  DWORD entry = 0;
  HANDLE search = index.FindFirstFileW(entry, nullptr);
  while (search != nullptr) {
    WIN32_FIND_DATAW data;
    index.GetFileInfo(entry, &data);
    items[Str(index.GetPathName(entry))] = {index.GetSize(entry), index.IsDirectory(entry) != 0,
                                            index.IsInUse(entry) != 0, QVTEST_TIME(data.ftLastWriteTime)};
    if (!index.FindNextFileW(search, entry)) break;
  }
  index.FindClose(search);
  return items;
}

class FragmentedMftTest : public ::testing::Test {
 protected:
  void SetUp() override {
    original_ = UnpackedImage("ntfs", "ntfs1k");
    ASSERT_GT(original_.size(), 1u << 20);
    split_ = original_;
    ASSERT_NO_FATAL_FAILURE(SplitMft(split_, &firstMoved_));
    WriteAllBytes(temp_.path() / "original.img", original_);
  }
  fs::path WriteSplit() {
    fs::path path = temp_.path() / "split.img";
    WriteAllBytes(path, split_);
    return path;
  }

  TempDir temp_;
  Bytes original_;
  Bytes split_;
  std::uint64_t firstMoved_ = 0;
};

TEST_F(FragmentedMftTest, BothLoadersReadTheSameTreeAsFromTheWholeMft) {
  fs::path split = WriteSplit();
  for (bool raw : {false, true}) {
    SCOPED_TRACE(raw ? "raw" : "control codes");
    DWORD error = 0;
    std::map<std::string, Item> expected = LoadTree(temp_.path() / "original.img", raw, &error);
    ASSERT_GT(expected.size(), 50u) << error;
    std::map<std::string, Item> loaded = LoadTree(split, raw, &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
    for (const auto& [path, item] : expected) {
      auto found = loaded.find(path);
      if (found == loaded.end()) {
        ADD_FAILURE() << "missing " << path;
      } else {
        EXPECT_EQ(found->second, item) << path;
      }
    }
    EXPECT_EQ(loaded.size(), expected.size());
    // The files' records (64 and up) lie in the moved piece.
    EXPECT_EQ(loaded.count("E:\\large.bin"), 1u);
    EXPECT_EQ(loaded.count("E:\\many\\link_number_40_with_a_rather_long_name.txt"), 1u);
  }
  EXPECT_LE(firstMoved_, 64u);
}

// An extension record that no longer names record 0 as its base leaves the
// second piece unknown: the volume is refused rather than half its files
// dropped. Opening the drive already asks the control codes for the volume
// data, so the raw loader's own check is reached by spoiling the record
// once the drive is open.
TEST_F(FragmentedMftTest, AnUntrustworthyExtensionRecordFailsTheLoad) {
  fs::path path = WriteSplit();
  MftSurgeon mft(&split_);
  mft.Unprotect(kExtensionRecord);
  Set(split_, mft.Base(kExtensionRecord) + 0x20, 5, 6);
  mft.Protect(kExtensionRecord);
  const std::size_t base = mft.Base(kExtensionRecord);

  ASSERT_TRUE(QVSetDriveMapping(u'E', nullptr, W(path.string()).c_str()));
  CQVFileArray index;
  ASSERT_TRUE(index.OpenDrive(u'E')) << GetLastError();
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(base));
    file.write(reinterpret_cast<const char*>(split_.data() + base), static_cast<std::streamsize>(mft.recordSize()));
  }
  EXPECT_FALSE(index.AddNTFSVolume2(QVT("E:\\")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(index.GetHandle(), INVALID_HANDLE_VALUE);  // the drive is closed on failure
  EXPECT_FALSE(index.OpenDrive(u'E'));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  QVSetDriveMapping(u'E', nullptr, nullptr);
}

}  // namespace
}  // namespace qvtest
