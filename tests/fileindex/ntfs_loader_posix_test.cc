// Loading real NTFS images (made by mkntfs and filled through ntfs-3g, see
// tests/data/ntfs/make_images.sh) and comparing the tree with what The
// Sleuth Kit's fls lists for the same image.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <sstream>

#include "common/test_util.h"
#include "fileindex/index_test_util.h"
#include "fileindex/volume_images.h"
#include "qvbackup/host.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

struct Item {
  ULONGLONG size;
  bool folder;
  long long mtime;  // seconds since 1970
};

fs::path Unpack(const std::string& name, const TempDir& temp) { return Unpack("ntfs", name, temp); }

// Live names from fls's body listing: paths below the volume's root, with
// their size, folder bit and last write time. Deleted names, the extra
// $FILE_NAME and named-stream rows and the tool's own $OrphanFiles are
// left out.
std::map<std::string, Item> Expected(const std::string& name) {
  std::map<std::string, Item> items;
  std::ifstream in(DataFile("ntfs", name + ".fls.txt"));
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, '|');) fields.push_back(field);
    if (fields.size() < 11) continue;
    const std::string& path = fields[1];
    if (path.find(" ($FILE_NAME)") != std::string::npos || path.find(" (deleted)") != std::string::npos ||
        path.rfind("/$OrphanFiles", 0) == 0) {
      continue;
    }
    Item item{std::stoull(fields[6]), fields[3].rfind("d/d", 0) == 0, std::stoll(fields[8])};
    std::size_t colon = path.find(':');
    if (colon != std::string::npos) {
      // A named stream: its file is listed on its own row, or, for a file
      // with no unnamed data (some metafiles), only through its streams.
      item.size = 0;
      items.emplace(path.substr(0, colon), item);
      continue;
    }
    items[path] = item;
  }
  return items;
}

std::map<std::string, Item> Loaded(CQVFileArray& index) {
  std::map<std::string, Item> items;
  DWORD entry = 0;
  HANDLE search = index.FindFirstFileW(entry, nullptr);
  while (search != nullptr) {
    std::string path = Str(index.GetPathName(entry));
    if (path.size() > 3) {
      std::string posix = path.substr(2);
      for (char& c : posix) c = c == '\\' ? '/' : c;
      WIN32_FIND_DATAW data;
      index.GetFileInfo(entry, &data);
      ULONGLONG time = QVTEST_TIME(data.ftLastWriteTime);
      items[posix] = {index.GetSize(entry), index.IsDirectory(entry) != 0,
                      static_cast<long long>(time / 10000000) - 11644473600LL};
    }
    if (!index.FindNextFileW(search, entry)) break;
  }
  index.FindClose(search);
  return items;
}

class NtfsLoaderTest : public ::testing::TestWithParam<std::string> {};

TEST_P(NtfsLoaderTest, TreeMatchesTheIndependentListing) {
  TempDir temp;
  fs::path image = Unpack(GetParam(), temp);
  ASSERT_TRUE(QVSetDriveMapping(u'E', nullptr, W(image.string()).c_str()));
  CQVFileArray index;
  ASSERT_TRUE(index.OpenDrive(u'E')) << GetLastError();
  EXPECT_EQ(index.GetFatSystem(), static_cast<DWORD>(QVFA_FS_NTFS));
  ASSERT_TRUE(index.AddNTFSVolume(QVT("E:\\"))) << GetLastError();
  index.CloseDrive();
  QVSetDriveMapping(u'E', nullptr, nullptr);

  std::map<std::string, Item> expected = Expected(GetParam());
  std::map<std::string, Item> loaded = Loaded(index);
  ASSERT_GT(expected.size(), 50u);
  for (const auto& [path, item] : expected) {
    auto found = loaded.find(path);
    if (found == loaded.end()) {
      ADD_FAILURE() << "missing " << path;
      continue;
    }
    EXPECT_EQ(found->second.folder, item.folder) << path;
    if (!item.folder) {
      EXPECT_EQ(found->second.size, item.size) << path;
    }
    // mkntfs leaves the $MFT record's own times at 0, which fls shows as a
    // date of its own making; every other time must agree to the second.
    if (path != "/$MFT") {
      EXPECT_EQ(found->second.mtime, item.mtime) << path;
    }
  }
  for (const auto& [path, item] : loaded) {
    if (!expected.count(path)) ADD_FAILURE() << "unexpected " << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsLoaderTest, ::testing::Values("ntfs1k", "ntfs4k"));

}  // namespace
}  // namespace qvtest

namespace qvtest {
namespace {

namespace fs = std::filesystem;

// Byte-level access to the first records of an image's MFT.
class MftEditor {
 public:
  explicit MftEditor(Bytes* image) : image_(*image) {
    DWORD sectorBytes = image_[11] | image_[12] << 8;
    DWORD cluster = sectorBytes * image_[13];
    mft_ = Qword(0x30) * cluster;
    int8_t perRecord = static_cast<int8_t>(image_[0x40]);
    recordSize_ = perRecord < 0 ? 1u << -perRecord : perRecord * cluster;
  }
  // The offset in the image of the $FILE_NAME value naming `name`.
  std::size_t FileNameValue(const std::string& name, ULONGLONG* record) {
    for (ULONGLONG r = 0; r < 512 && mft_ + (r + 1) * recordSize_ <= image_.size(); ++r) {
      std::size_t base = mft_ + r * recordSize_;
      if (std::memcmp(&image_[base], "FILE", 4) != 0) continue;
      for (std::size_t at = base + Word(base + 0x14); at + 8 < base + recordSize_;) {
        DWORD type = Dword(at), length = Dword(at + 4);
        if (type == 0xFFFFFFFFu || length == 0) break;
        if (type == 0x30 && image_[at + 8] == 0) {
          std::size_t value = at + Word(at + 20);
          std::string found;
          for (int i = 0; i < image_[value + 64]; ++i) found += static_cast<char>(Word(value + 66 + 2 * i));
          if (found == name) {
            *record = r;
            return value;
          }
        }
        at += length;
      }
    }
    return 0;
  }
  void SetParent(std::size_t value, ULONGLONG record) {
    ULONGLONG reference = (Qword(value) & 0xFFFF000000000000ull) | record;
    for (int i = 0; i < 8; ++i) image_[value + i] = static_cast<BYTE>(reference >> (8 * i));
  }
  // Spoils record `record`'s signature, as a bad sector would.
  void Damage(ULONGLONG record) { std::memcpy(&image_[mft_ + record * recordSize_], "BAAD", 4); }
  std::size_t mft() const { return mft_; }
  DWORD recordSize() const { return recordSize_; }

 private:
  DWORD Word(std::size_t at) const { return image_[at] | image_[at + 1] << 8; }
  DWORD Dword(std::size_t at) const { return Word(at) | Word(at + 2) << 16; }
  ULONGLONG Qword(std::size_t at) const { return Dword(at) | static_cast<ULONGLONG>(Dword(at + 4)) << 32; }
  Bytes& image_;
  std::size_t mft_ = 0;
  DWORD recordSize_ = 1024;
};

// Loads `image` as drive E: and walks every entry's path.
DWORD LoadAndWalk(const fs::path& image, CQVFileArray& index) {
  EXPECT_TRUE(QVSetDriveMapping(u'E', nullptr, W(image.string()).c_str()));
  DWORD paths = 0;
  if (index.OpenDrive(u'E') && index.AddNTFSVolume(QVT("E:\\"))) {
    DWORD entry = 0;
    QV_FINDFILTER filter;
    std::memset(&filter, 0, sizeof(filter));
    filter.dwFlags = QVFF_RECURSE;
    filter.pszBasePath = QVT("");
    HANDLE search = index.FindFirstFileW(entry, &filter);
    while (search != nullptr && paths < 100000) {
      index.GetPathName(entry);
      ++paths;
      if (!index.FindNextFileW(search, entry)) break;
    }
    index.FindClose(search);
  }
  index.CloseDrive();
  QVSetDriveMapping(u'E', nullptr, nullptr);
  return paths;
}

TEST(NtfsHostileTest, FoldersThatAreEachOthersParentsStillEnd) {
  TempDir temp;
  fs::path path = Unpack("ntfs1k", temp);
  Bytes image = ReadAllBytes(path);
  MftEditor mft(&image);
  ULONGLONG many = 0, other = 0;
  std::size_t manyName = mft.FileNameValue("many", &many);
  std::size_t otherName = mft.FileNameValue("System Volume Information", &other);
  ASSERT_NE(manyName, 0u);
  ASSERT_NE(otherName, 0u);
  mft.SetParent(manyName, other);
  mft.SetParent(otherName, many);
  WriteAllBytes(path, image);
  CQVFileArray index;
  DWORD paths = LoadAndWalk(path, index);
  EXPECT_GT(paths, 50u);
  EXPECT_LT(paths, 100000u);
  // Both folders are still there, and their paths end.
  DWORD folder = index.Add(QVT("many"), nullptr, QVFA_ADD_LOOKUP);
  DWORD nested = index.Add(QVT("System Volume Information\\many"), nullptr, QVFA_ADD_LOOKUP);
  EXPECT_TRUE(folder != 0 || nested != 0);
}

// A folder whose record cannot be read leaves its children without a
// parent: they become top-level, and what lies below them stays linked.
TEST(NtfsHostileTest, ChildrenOfAnUnreadableFolderBecomeTopLevel) {
  TempDir temp;
  fs::path path = Unpack("ntfs1k", temp);
  Bytes image = ReadAllBytes(path);
  MftEditor mft(&image);
  ULONGLONG dir1 = 0;
  ASSERT_NE(mft.FileNameValue("dir1", &dir1), 0u);
  mft.Damage(dir1);
  WriteAllBytes(path, image);
  for (bool raw : {false, true}) {
    SCOPED_TRACE(raw ? "raw" : "control codes");
    ASSERT_TRUE(QVSetDriveMapping(u'E', nullptr, W(path.string()).c_str()));
    CQVFileArray index;
    ASSERT_TRUE(index.OpenDrive(u'E'));
    ASSERT_TRUE(raw ? index.AddNTFSVolume2(QVT("E:\\")) : index.AddNTFSVolume(QVT("E:\\")));
    index.CloseDrive();
    QVSetDriveMapping(u'E', nullptr, nullptr);
    EXPECT_EQ(index.Add(QVT("E:\\dir1"), nullptr, QVFA_ADD_LOOKUP), 0u);
    DWORD medium = index.Add(QVT("medium.bin"), nullptr, QVFA_ADD_LOOKUP);
    ASSERT_NE(medium, 0u);
    EXPECT_EQ(index.GetSize(medium), 300000u);
    DWORD deep = index.Add(QVT("dir2\\dir3\\dir4\\deep.txt"), nullptr, QVFA_ADD_LOOKUP);
    ASSERT_NE(deep, 0u);
    EXPECT_EQ(Str(index.GetPathName(deep)), "dir2\\dir3\\dir4\\deep.txt");
    EXPECT_NE(index.Add(QVT("E:\\small.txt"), nullptr, QVFA_ADD_LOOKUP), 0u);  // the rest is untouched
  }
}

TEST(NtfsHostileTest, DamagedRecordsAreSkippedNeverReadPast) {
  TempDir temp;
  fs::path path = Unpack("ntfs1k", temp);
  const Bytes good = ReadAllBytes(path);
  MftEditor probe(const_cast<Bytes*>(&good));
  std::mt19937 random(7);
  for (int round = 0; round < 150; ++round) {
    Bytes bad = good;
    // A few bytes somewhere in the first 128 records.
    for (int flips = 0; flips < 4; ++flips) {
      std::size_t at = probe.mft() + random() % (128 * probe.recordSize());
      bad[at] ^= static_cast<BYTE>(1 + random() % 255);
    }
    WriteAllBytes(path, bad);
    CQVFileArray index;
    LoadAndWalk(path, index);  // must end, within the image, under ASan
  }
}

}  // namespace
}  // namespace qvtest

namespace qvtest {
namespace {

// The content the image script wrote: byte p of a file made with seed S is
// (S + 13p + p/512) mod 256.
BYTE Pattern(unsigned seed, std::size_t position) {
  return static_cast<BYTE>(seed + 13 * position + (position >> 9));
}

class NtfsRunsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = Unpack("ntfs1k", temp_);
    ASSERT_TRUE(QVSetDriveMapping(u'E', nullptr, W(image_.string()).c_str()));
    ASSERT_TRUE(index_.OpenDrive(u'E'));
    ASSERT_TRUE(index_.AddNTFSVolume(QVT("E:\\")));
    index_.CloseDrive();  // the run lists open the drive again themselves
  }
  void TearDown() override { QVSetDriveMapping(u'E', nullptr, nullptr); }
  DWORD Entry(const WCHAR* path) { return index_.Add(path, nullptr, QVFA_ADD_LOOKUP); }
  Bytes Read(DWORD entry, DWORD stream, DWORD size) {
    QVFA_ENTRYDATA* data = index_.FindEntryData(entry, stream);
    if (data == nullptr) return Bytes();
    Bytes bytes(size, 0xEE);
    EXPECT_TRUE(index_.ReadEntryData(data, bytes.data(), size));
    CQVFileArray::ReleaseEntryData(data);
    return bytes;
  }

  TempDir temp_;
  fs::path image_;
  CQVFileArray index_;
};

TEST_F(NtfsRunsTest, ResidentSmallFileLiesInsideTheMft) {
  DWORD small = Entry(QVT("E:\\small.txt"));
  ASSERT_NE(small, 0u);
  std::vector<QVFA_RUN> runs;
  ASSERT_EQ(index_.GetRunList(small, runs), 1u);
  EXPECT_EQ(runs[0].ullLength, 600u);
  Bytes data = Read(small, 0, 600);
  for (std::size_t p = 0; p < data.size(); ++p) ASSERT_EQ(data[p], Pattern(2, p)) << p;
  EXPECT_EQ(index_.FindEntryData(small, 1), nullptr);  // no named stream
}

TEST_F(NtfsRunsTest, FragmentedFileFollowsItsSignedDeltas) {
  DWORD file = Entry(QVT("E:\\fragmented.bin"));
  ASSERT_NE(file, 0u);
  std::vector<QVFA_RUN> runs;
  EXPECT_GE(index_.GetRunList(file, runs), 3u);
  ULONGLONG size = index_.GetSize(file);
  Bytes data = Read(file, 0, static_cast<DWORD>(size));
  ASSERT_EQ(data.size(), size);
  for (std::size_t p = 0; p < data.size(); ++p) ASSERT_EQ(data[p], Pattern(11, p)) << p;
}

TEST_F(NtfsRunsTest, SparseFileHasHolesAtOffsetZero) {
  DWORD file = Entry(QVT("E:\\sparse.bin"));
  ASSERT_NE(file, 0u);
  std::vector<QVFA_RUN> runs;
  ASSERT_GT(index_.GetRunList(file, runs), 1u);
  bool hole = false;
  for (const QVFA_RUN& run : runs) hole = hole || run.ullOffset == 0;
  EXPECT_TRUE(hole);
  Bytes data = Read(file, 0, 4194304);
  for (std::size_t p = 0; p < data.size(); ++p) {
    BYTE expected = (p >= 2097152 && p < 2097152 + 8192) ? Pattern(13, p) : 0;
    ASSERT_EQ(data[p], expected) << p;
  }
}

TEST_F(NtfsRunsTest, NamedStreamIsTheSecondStream) {
  DWORD file = Entry(QVT("E:\\streams.txt"));
  ASSERT_NE(file, 0u);
  QVFA_ENTRYDATA* named = index_.FindEntryData(file, 1);
  EXPECT_NE(named, nullptr);
  CQVFileArray::ReleaseEntryData(named);
  std::vector<QVFA_RUN> runs;
  EXPECT_GE(index_.GetRunList(file, runs), 2u);
  EXPECT_EQ(index_.FindEntryData(file, 2), nullptr);
  EXPECT_EQ(index_.GetRunList(12345, runs), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
}  // namespace qvtest

namespace qvtest {
namespace {

void ExpectProgressSteps(const std::vector<ULONGLONG>& steps);

struct ProgressSteps {
  std::vector<ULONGLONG> steps;
  static LONGLONG Callback(DWORD code, ULONGLONG user, ULONGLONG step, LONGLONG) {
    auto* self = reinterpret_cast<ProgressSteps*>(static_cast<std::uintptr_t>(user));
    EXPECT_EQ(code, 0u);
    self->steps.push_back(step);
    return 0;
  }
  ULONGLONG User() { return static_cast<ULONGLONG>(reinterpret_cast<std::uintptr_t>(this)); }
};

// The raw variant reads the same live tree, plus the names of records no
// longer in use, which it marks as such; progress climbs from 0 while
// reading and from 851 while linking.
TEST(NtfsRawVariantTest, SameLiveTreeAndDeletedNamesWithoutInUse) {
  for (const char* name : {"ntfs1k", "ntfs4k"}) {
    SCOPED_TRACE(name);
    TempDir temp;
    fs::path image = Unpack(name, temp);
    ASSERT_TRUE(QVSetDriveMapping(u'E', nullptr, W(image.string()).c_str()));
    CQVFileArray control, raw;
    ASSERT_TRUE(control.OpenDrive(u'E'));
    ASSERT_TRUE(control.AddNTFSVolume(QVT("E:\\")));
    control.CloseDrive();
    ProgressSteps progress;
    ASSERT_TRUE(raw.OpenDrive(u'E'));
    ASSERT_TRUE(raw.AddNTFSVolume2(QVT("E:\\"), ProgressSteps::Callback, progress.User())) << GetLastError();
    EXPECT_EQ(raw.GetHandle(), INVALID_HANDLE_VALUE);  // the raw variant closes the volume
    QVSetDriveMapping(u'E', nullptr, nullptr);

    std::map<std::string, Item> live;
    DWORD entry = 0;
    DWORD inUse = QVFA_INUSE;
    QV_FINDFILTER filter;
    std::memset(&filter, 0, sizeof(filter));
    filter.pdwStateSet = &inUse;
    HANDLE search = raw.FindFirstFileW(entry, &filter);
    while (search != nullptr) {
      std::string path = Str(raw.GetPathName(entry));
      if (path.size() > 3) live[path.substr(2)] = {raw.GetSize(entry), raw.IsDirectory(entry) != 0, 0};
      if (!raw.FindNextFileW(search, entry)) break;
    }
    raw.FindClose(search);
    std::map<std::string, Item> expected = Loaded(control);
    expected.erase("/$MFT");  // the raw variant starts below record 0, the MFT's own
    ASSERT_EQ(live.size(), expected.size());
    for (auto& [path, item] : expected) {
      std::string windows = path;
      for (char& c : windows) c = c == '/' ? '\\' : c;
      auto found = live.find(windows);
      ASSERT_NE(found, live.end()) << path;
      EXPECT_EQ(found->second.size, item.size) << path;
    }
    DWORD deleted = raw.Add(QVT("E:\\deleted_small.txt"), nullptr, QVFA_ADD_LOOKUP);
    if (deleted != 0) {
      EXPECT_EQ(raw.IsInUse(deleted), 0u);
    }
    ExpectProgressSteps(progress.steps);
  }
}

// Records are read from 0 up to at most 850, one step at a time; linking
// goes on from 852, one step at a time, to at most about 1000.
void ExpectProgressSteps(const std::vector<ULONGLONG>& steps) {
  ASSERT_GE(steps.size(), 3u);
  EXPECT_EQ(steps.front(), 0u);
  std::size_t i = 1;
  for (; i < steps.size() && steps[i] <= 850; ++i) EXPECT_EQ(steps[i], i) << i;
  EXPECT_GT(i, 1u) << "no reading steps";
  ASSERT_LT(i, steps.size()) << "no linking steps";
  EXPECT_EQ(steps[i], 852u);
  for (std::size_t j = i + 1; j < steps.size(); ++j) EXPECT_EQ(steps[j], steps[j - 1] + 1) << j;
  EXPECT_LE(steps.back(), 1002u);
}

TEST(NtfsProgressTest, ControlCodeVariantStepsThroughReadingThenLinking) {
  TempDir temp;
  fs::path image = Unpack("ntfs4k", temp);
  ASSERT_TRUE(QVSetDriveMapping(u'E', nullptr, W(image.string()).c_str()));
  CQVFileArray index;
  ProgressSteps progress;
  ASSERT_TRUE(index.OpenDrive(u'E'));
  ASSERT_TRUE(index.AddNTFSVolume(QVT("E:\\"), ProgressSteps::Callback, progress.User()));
  index.CloseDrive();
  QVSetDriveMapping(u'E', nullptr, nullptr);
  ExpectProgressSteps(progress.steps);
}

}  // namespace
}  // namespace qvtest
