// Loading real FAT12/16/32 images (made by mkfs.fat and filled with mtools,
// see tests/data/fat/make_images.sh) and comparing the tree with what The
// Sleuth Kit's fls and mtools' mattrib list for the same image; then the
// same images with bytes edited to be hostile.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "common/test_util.h"
#include "fileindex/index_test_util.h"
#include "common/scoped_time_zone.h"
#include "fileindex/volume_images.h"
#include "qvbackup/host.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

constexpr ULONGLONG kTicksPerSecond = 10000000ull;
constexpr long long kSecondsFrom1601To1970 = 11644473600LL;

ULONGLONG TicksOf(long long unixSeconds) {
  return static_cast<ULONGLONG>(unixSeconds + kSecondsFrom1601To1970) * kTicksPerSecond;
}

// One file or folder: its path below the volume's root ("/docs/x.txt") and
// what the index or the listing says of it. Times are ticks since 1601.
struct Row {
  std::string path;
  ULONGLONG size = 0;
  bool folder = false;
  DWORD attributes = 0;
  ULONGLONG write = 0, creation = 0, access = 0;
};

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  for (std::string field; std::getline(stream, field, separator);) fields.push_back(field);
  return fields;
}

// fls's listing of live names, in its order (depth first, folder order):
// deleted names, the volume label, sleuthkit's own $MBR/$FATn/$OrphanFiles
// are left out. fls shows DOS dates past 2038 as 0; the one
// file dated so (2099-12-31 23:59:58 by the script) gets its known times.
std::vector<Row> FlsRows(const std::string& image) {
  std::vector<Row> rows;
  std::ifstream in(DataFile("fat", image + ".fls.txt"));
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields = Split(line, '|');
    if (fields.size() < 11) continue;
    const std::string& path = fields[1];
    const std::string& mode = fields[3];
    if (mode[0] == 'v' || mode[0] == 'V' || path.ends_with(" (deleted)") ||
        path.ends_with("(Volume Label Entry)")) {
      continue;
    }
    Row row;
    row.path = path;
    row.folder = mode.starts_with("d/d");
    row.size = row.folder ? 0 : std::stoull(fields[6]);
    row.access = TicksOf(std::stoll(fields[7]));
    row.write = TicksOf(std::stoll(fields[8]));
    row.creation = TicksOf(std::stoll(fields[10]));
    if (path == "/times/late.txt") {
      row.write = row.creation = TicksOf(4102444798LL);
      row.access = TicksOf(4102358400LL);
    }
    rows.push_back(row);
  }
  return rows;
}

// mattrib's listing: path and attribute bits (A 0x20, S 0x04, H 0x02,
// R 0x01), in its order; the root left out.
std::vector<std::pair<std::string, DWORD>> MattribRows(const std::string& image) {
  std::vector<std::pair<std::string, DWORD>> rows;
  std::ifstream in(DataFile("fat", image + ".attrib.txt"));
  for (std::string line; std::getline(in, line);) {
    std::size_t at = line.find("::/");
    if (at == std::string::npos || line.size() == at + 3) continue;
    std::string path = line.substr(at + 2);
    DWORD bits = 0;
    for (char letter : line.substr(0, at)) {
      if (letter == 'A') bits |= FILE_ATTRIBUTE_ARCHIVE;
      if (letter == 'S') bits |= FILE_ATTRIBUTE_SYSTEM;
      if (letter == 'H') bits |= FILE_ATTRIBUTE_HIDDEN;
      if (letter == 'R') bits |= FILE_ATTRIBUTE_READONLY;
    }
    rows.emplace_back(path, bits);
  }
  return rows;
}

// Every entry of the index in image order (the order the loader added
// them), the drive entry included with path "/".
std::vector<Row> IndexRows(CQVFileArray& index) {
  std::vector<Row> rows;
  DWORD entry = 0;
  HANDLE search = index.FindFirstFileW(entry, nullptr);
  while (search != nullptr) {
    std::string path = Str(index.GetPathName(entry));
    Row row;
    row.path = path.size() >= 2 ? path.substr(2) : path;
    for (char& c : row.path) c = c == '\\' ? '/' : c;
    WIN32_FIND_DATAW data;
    std::memset(&data, 0, sizeof(data));
    EXPECT_TRUE(index.GetFileInfo(entry, &data)) << path;
    row.size = index.GetSize(entry);
    row.folder = index.IsDirectory(entry) != 0;
    row.attributes = data.dwFileAttributes;
    row.write = QVTEST_TIME(data.ftLastWriteTime);
    row.creation = QVTEST_TIME(data.ftCreationTime);
    row.access = QVTEST_TIME(data.ftLastAccessTime);
    rows.push_back(row);
    if (!index.FindNextFileW(search, entry)) break;
  }
  index.FindClose(search);
  return rows;
}

// Maps drive E to `image`, opens it and loads it with LoadFATVolume.
// Returns what LoadFATVolume returned; the kind found is in *kind.
BOOL LoadImage(const fs::path& image, CQVFileArray& index, DWORD* kind = nullptr) {
  EXPECT_TRUE(QVSetDriveMapping(u'E', nullptr, W(image.string()).c_str()));
  BOOL loaded = FALSE;
  if (index.OpenDrive(u'E')) {
    if (kind != nullptr) *kind = index.GetFatSystem();
    loaded = index.LoadFATVolume(QVT("E:\\"));
  }
  DWORD error = GetLastError();
  index.CloseDrive();
  QVSetDriveMapping(u'E', nullptr, nullptr);
  SetLastError(error);
  return loaded;
}

std::vector<Row> LoadRows(const std::string& image, const char* zone) {
  ScopedTimeZone tz(zone);
  TempDir temp;
  CQVFileArray index;
  EXPECT_TRUE(LoadImage(Unpack("fat", image, temp), index)) << GetLastError();
  return IndexRows(index);
}

const Row* Find(const std::vector<Row>& rows, const std::string& path) {
  for (const Row& row : rows) {
    if (row.path == path) return &row;
  }
  return nullptr;
}

std::vector<std::string> PathsOf(const std::vector<Row>& rows) {
  std::vector<std::string> paths;
  for (const Row& row : rows) paths.push_back(row.path);
  return paths;
}

// The same paths in the same order; on a difference, what is missing, what
// is extra, and where the order first departs.
void ExpectSamePaths(const std::vector<std::string>& got, const std::vector<std::string>& want) {
  for (const std::string& path : want) {
    if (std::find(got.begin(), got.end(), path) == got.end()) ADD_FAILURE() << "missing " << path;
  }
  for (const std::string& path : got) {
    if (std::find(want.begin(), want.end(), path) == want.end()) ADD_FAILURE() << "unexpected " << path;
  }
  auto [g, w] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  if (g != got.end() || w != want.end()) {
    ADD_FAILURE() << "order departs at position " << (g - got.begin()) << ": got "
                  << (g != got.end() ? *g : "(end)") << ", expected " << (w != want.end() ? *w : "(end)");
  }
}

struct ImageCase {
  const char* name;
  DWORD kind;
};

void PrintTo(const ImageCase& image, std::ostream* out) { *out << image.name; }

class FatLoaderTest : public ::testing::TestWithParam<ImageCase> {};

TEST_P(FatLoaderTest, TreeMatchesTheIndependentListing) {
  ScopedTimeZone utc("UTC");
  TempDir temp;
  CQVFileArray index;
  DWORD kind = 0;
  ASSERT_TRUE(LoadImage(Unpack("fat", GetParam().name, temp), index, &kind)) << GetLastError();
  EXPECT_EQ(kind, GetParam().kind);
  std::vector<Row> loaded = IndexRows(index);
  std::vector<Row> expected = FlsRows(GetParam().name);
  ASSERT_GT(expected.size(), 200u);
  ASSERT_FALSE(loaded.empty());
  // The drive entry comes first, then the tree in fls's order.
  EXPECT_EQ(loaded[0].path, "/");
  EXPECT_TRUE(loaded[0].folder);
  loaded.erase(loaded.begin());
  ExpectSamePaths(PathsOf(loaded), PathsOf(expected));
  for (const Row& want : expected) {
    const Row* got = Find(loaded, want.path);
    if (got == nullptr) continue;  // reported by the order check
    EXPECT_EQ(got->folder, want.folder) << want.path;
    EXPECT_EQ(got->size, want.size) << want.path;
    EXPECT_EQ((got->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, want.folder) << want.path;
    EXPECT_EQ(got->write, want.write) << want.path;
    EXPECT_EQ(got->creation, want.creation) << want.path;
    EXPECT_EQ(got->access, want.access) << want.path;
  }
}

TEST_P(FatLoaderTest, AttributesMatchMattrib) {
  std::vector<Row> loaded = LoadRows(GetParam().name, "UTC");
  std::vector<std::pair<std::string, DWORD>> expected = MattribRows(GetParam().name);
  ASSERT_GT(expected.size(), 200u);
  ASSERT_FALSE(loaded.empty());
  loaded.erase(loaded.begin());  // the drive entry
  // mattrib walks the tree in the same order as the loader.
  std::vector<std::string> paths;
  for (const auto& [path, bits] : expected) paths.push_back(path);
  ExpectSamePaths(PathsOf(loaded), paths);
  constexpr DWORD kChecked =
      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY;
  for (const auto& [path, bits] : expected) {
    const Row* row = Find(loaded, path);
    if (row != nullptr) {
      EXPECT_EQ(row->attributes & kChecked, bits) << path;
    }
  }
  const Row* all = Find(loaded, "/attrs/all.txt");
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(all->attributes & 0x3Fu, 0x27u);
  const Row* secret = Find(loaded, "/attrs/Secret");
  ASSERT_NE(secret, nullptr);
  EXPECT_EQ(secret->attributes & 0x3Fu, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
}

// Names as shown: a long name once and never its alias; short names with
// their case flags; nothing deleted, no label; a name that merely starts
// with a dot is a file like any other.
TEST_P(FatLoaderTest, NamesAreShownAsWrittenAndOnlyOnce) {
  std::vector<Row> loaded = LoadRows(GetParam().name, "UTC");
  auto count = [&](const std::string& path) {
    return std::count_if(loaded.begin(), loaded.end(), [&](const Row& row) { return row.path == path; });
  };
  EXPECT_EQ(count("/Quarterly report.xlsx"), 1);
  EXPECT_EQ(count("/README.TXT"), 1);
  EXPECT_EQ(count("/.hidden"), 1);
  EXPECT_EQ(count("/lower/readme.txt"), 1);
  EXPECT_EQ(count("/lower/notes.TXT"), 1);
  EXPECT_EQ(count("/lower/MAKE.bat"), 1);
  EXPECT_EQ(count("/lower/Mixed.Txt"), 1);
  EXPECT_EQ(count("/international/Café crème.txt"), 1);
  EXPECT_EQ(count("/international/Straße.txt"), 1);
  EXPECT_EQ(count("/international/日本語のファイル.txt"), 1);
  EXPECT_EQ(count("/international/Répertoire été/naïve café.txt"), 1);
  for (const Row& row : loaded) {
    std::string upper = row.path;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(upper.find('~'), std::string::npos) << row.path;  // no alias (QUARTE~1.XLS, _DELET~1.TXT)
    EXPECT_EQ(upper.find("DELETED"), std::string::npos) << row.path;
    EXPECT_EQ(upper.find("REMOVED"), std::string::npos) << row.path;
    EXPECT_EQ(upper.find("OLD FOLDER"), std::string::npos) << row.path;
    EXPECT_EQ(upper.find("QVTEST"), std::string::npos) << row.path;  // the label
    EXPECT_FALSE(row.path.ends_with("/.") || row.path.ends_with("/..")) << row.path;
  }
  // The folder spanning many clusters, its chain broken by a file between
  // its two batches, has all its names.
  EXPECT_EQ(std::count_if(loaded.begin(), loaded.end(),
                          [](const Row& row) { return row.path.starts_with("/many/member file number "); }),
            200);
}

// A folder comes right before its whole subtree, and the next name of its
// own folder right after it.
TEST_P(FatLoaderTest, FoldersAreFollowedByTheirWholeSubtree) {
  std::vector<std::string> paths = PathsOf(LoadRows(GetParam().name, "UTC"));
  auto at = [&](const std::string& path) {
    return std::find(paths.begin(), paths.end(), path) - paths.begin();
  };
  EXPECT_EQ(at("/"), 0);
  EXPECT_EQ(at("/README.TXT"), 1);
  EXPECT_EQ(at("/docs/2021"), at("/docs") + 1);
  EXPECT_EQ(at("/docs/2021/q1/deep/report.txt"), at("/docs/2021") + 3);
  EXPECT_EQ(at("/docs/2021/summary.txt"), at("/docs/2021/q1/deep/report.txt") + 1);
  EXPECT_EQ(at("/lower"), at("/docs/empty") + 1);
  EXPECT_EQ(at("/after_many.bin"), at("/many") + 201);
  // last.txt took the slot freed by a deleted name, before the label.
  EXPECT_EQ(at("/last.txt"), static_cast<std::ptrdiff_t>(paths.size()) - 1);
}

TEST_P(FatLoaderTest, LoadVolumeOpensLoadsAndCloses) {
  ScopedTimeZone utc("UTC");
  TempDir temp;
  fs::path image = Unpack("fat", GetParam().name, temp);
  ASSERT_TRUE(QVSetDriveMapping(u'E', nullptr, W(image.string()).c_str()));
  CQVFileArray index;
  BOOL loaded = index.LoadVolume(QVT("E:\\"));
  DWORD error = GetLastError();
  QVSetDriveMapping(u'E', nullptr, nullptr);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(index.GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(index.GetFatSystem(), static_cast<DWORD>(QVFA_FS_NONE));
  std::vector<Row> rows = IndexRows(index);
  ASSERT_FALSE(rows.empty());
  rows.erase(rows.begin());
  ExpectSamePaths(PathsOf(rows), PathsOf(FlsRows(GetParam().name)));
}

// DOS times carry no zone: creation and last write time are the machine's
// local time, so a zone three hours east moves them three hours earlier;
// the last access date is a date and stays at its midnight.
TEST_P(FatLoaderTest, LocalTimesFollowTheZoneAndAccessDatesDoNot) {
  std::vector<Row> utc = LoadRows(GetParam().name, "UTC");
  std::vector<Row> east = LoadRows(GetParam().name, "<+03>-3");
  ASSERT_EQ(PathsOf(utc), PathsOf(east));
  const ULONGLONG threeHours = 3 * 3600 * kTicksPerSecond;
  for (std::size_t i = 1; i < utc.size(); ++i) {
    EXPECT_EQ(east[i].write + threeHours, utc[i].write) << utc[i].path;
    EXPECT_EQ(east[i].creation + threeHours, utc[i].creation) << utc[i].path;
    EXPECT_EQ(east[i].access, utc[i].access) << utc[i].path;
    EXPECT_EQ(utc[i].access % (86400 * kTicksPerSecond), 0u) << utc[i].path;
  }
}

// Each date is read under that date's daylight rules, not today's.
TEST_P(FatLoaderTest, DaylightRulesOfTheFilesOwnDateApply) {
  std::vector<Row> utc = LoadRows(GetParam().name, "UTC");
  std::vector<Row> central = LoadRows(GetParam().name, "CET-1CEST,M3.5.0,M10.5.0/3");
  const ULONGLONG hour = 3600 * kTicksPerSecond;
  for (const auto& [path, shift] : {std::pair<std::string, ULONGLONG>{"/times/winter.txt", hour},
                                    {"/times/summer.txt", 2 * hour}}) {
    const Row* before = Find(utc, path);
    const Row* after = Find(central, path);
    ASSERT_NE(before, nullptr) << path;
    ASSERT_NE(after, nullptr) << path;
    EXPECT_EQ(after->write + shift, before->write) << path;
    EXPECT_EQ(after->creation + shift, before->creation) << path;
    EXPECT_EQ(after->access, before->access) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Images, FatLoaderTest,
                         ::testing::Values(ImageCase{"fat12", QVFA_FS_FAT12}, ImageCase{"fat16", QVFA_FS_FAT16},
                                           ImageCase{"fat32", QVFA_FS_FAT32},
                                           ImageCase{"fat16s4k", QVFA_FS_FAT16}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FatLoaderRefusalTest, NoVolumeOrNotFat) {
  CQVFileArray index;
  EXPECT_FALSE(index.LoadFATVolume(QVT("E:\\")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  TempDir temp;
  fs::path ntfs = Unpack("ntfs", "ntfs1k", temp);
  DWORD kind = 0;
  EXPECT_FALSE(LoadImage(ntfs, index, &kind));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(kind, static_cast<DWORD>(QVFA_FS_NTFS));
  EXPECT_EQ(index.GetItemCount(TRUE), 0u);
}

}  // namespace
}  // namespace qvtest

namespace qvtest {
namespace {

// Byte-level access to a FAT image, to damage it on purpose: its geometry
// from the boot sector, FAT entries and the 32-byte entries of folders
// found by their short names.
class FatImage {
 public:
  explicit FatImage(Bytes* image) : image_(*image) {
    sector_ = Word(11);
    clusterSectors_ = image_[13];
    reserved_ = Word(14);
    fats_ = image_[16];
    rootEntries_ = Word(17);
    fatSectors_ = Word(22) != 0 ? Word(22) : Dword(36);
    totalSectors_ = Word(19) != 0 ? Word(19) : Dword(32);
    kind_ = std::memcmp(&image_[82], "FAT32", 5) == 0 ? 32 : std::memcmp(&image_[54], "FAT12", 5) == 0 ? 12 : 16;
    rootCluster_ = kind_ == 32 ? Dword(44) : 0;
    DWORD rootSectors = (rootEntries_ * 32 + sector_ - 1) / sector_;
    rootStart_ = reserved_ + fats_ * fatSectors_;
    dataStart_ = rootStart_ + rootSectors;
    clusters_ = (totalSectors_ - dataStart_) / clusterSectors_;
  }

  int kind() const { return kind_; }
  DWORD rootCluster() const { return rootCluster_; }
  DWORD maxCluster() const { return clusters_ + 1; }
  std::size_t FatOffset(DWORD which) const { return (reserved_ + which * fatSectors_) * sector_; }
  std::size_t FatBytes() const { return fatSectors_ * sector_; }
  std::size_t DataOffset() const { return dataStart_ * sector_; }
  std::size_t ClusterOffset(DWORD cluster) const {
    return (dataStart_ + static_cast<std::size_t>(cluster - 2) * clusterSectors_) * sector_;
  }
  DWORD ClusterBytes() const { return clusterSectors_ * sector_; }

  DWORD FatEntry(DWORD cluster, DWORD which = 0) const {
    std::size_t base = FatOffset(which);
    if (kind_ == 12) {
      DWORD pair = Word(base + cluster * 3 / 2);
      return cluster % 2 != 0 ? pair >> 4 : pair & 0xFFF;
    }
    return kind_ == 16 ? Word(base + cluster * 2) : Dword(base + cluster * 4);
  }
  // Sets the entry in every FAT (they mirror each other).
  void SetFatEntry(DWORD cluster, DWORD value) {
    for (DWORD which = 0; which < fats_; ++which) {
      std::size_t base = FatOffset(which);
      if (kind_ == 12) {
        std::size_t at = base + cluster * 3 / 2;
        DWORD pair = Word(at);
        pair = cluster % 2 != 0 ? (pair & 0x000F) | (value << 4) : (pair & 0xF000) | (value & 0xFFF);
        SetWord(at, pair);
      } else if (kind_ == 16) {
        SetWord(base + cluster * 2, value);
      } else {
        SetWord(base + cluster * 4, value & 0xFFFF);
        SetWord(base + cluster * 4 + 2, value >> 16);
      }
    }
  }
  // The clusters of the chain starting at `first`, in order.
  std::vector<DWORD> Chain(DWORD first) const {
    std::vector<DWORD> chain;
    for (DWORD c = first; c >= 2 && c <= maxCluster() && chain.size() <= clusters_; c = FatEntry(c)) {
      chain.push_back(c);
    }
    return chain;
  }

  // The offset of the short entry of `path` ("DOCS/2021", short names as
  // stored, without their padding); 0 when not found.
  std::size_t Entry(const std::string& path) const {
    std::vector<std::size_t> folder = RootSlots();
    std::size_t found = 0;
    for (const std::string& name : Split(path, '/')) {
      found = Slot(folder, name);
      if (found == 0) return 0;
      folder = Slots(FirstCluster(found));
    }
    return found;
  }
  DWORD FirstCluster(std::size_t entry) const { return Word(entry + 26) | (kind_ == 32 ? Word(entry + 20) << 16 : 0); }
  void SetFirstCluster(std::size_t entry, DWORD cluster) {
    SetWord(entry + 26, cluster & 0xFFFF);
    if (kind_ == 32) SetWord(entry + 20, cluster >> 16);
  }
  // The offsets of the entries of the root folder, or of the folder
  // starting at `cluster`.
  std::vector<std::size_t> RootSlots() const {
    if (kind_ == 32) return Slots(rootCluster_);
    std::vector<std::size_t> slots;
    for (DWORD i = 0; i < rootEntries_; ++i) slots.push_back(rootStart_ * sector_ + i * 32);
    return slots;
  }
  std::vector<std::size_t> Slots(DWORD cluster) const {
    std::vector<std::size_t> slots;
    for (DWORD c : Chain(cluster)) {
      for (DWORD i = 0; i < ClusterBytes() / 32; ++i) slots.push_back(ClusterOffset(c) + i * 32);
    }
    return slots;
  }

  DWORD Word(std::size_t at) const { return image_[at] | image_[at + 1] << 8; }
  DWORD Dword(std::size_t at) const { return Word(at) | Word(at + 2) << 16; }
  void SetWord(std::size_t at, DWORD value) {
    image_[at] = static_cast<BYTE>(value);
    image_[at + 1] = static_cast<BYTE>(value >> 8);
  }
  void SetDword(std::size_t at, DWORD value) {
    SetWord(at, value & 0xFFFF);
    SetWord(at + 2, value >> 16);
  }

 private:
  // The slot whose 11-byte short name is `name` ("README.TXT") padded.
  std::size_t Slot(const std::vector<std::size_t>& slots, const std::string& name) const {
    std::size_t dot = name.find('.');
    std::string base = name.substr(0, dot), extension = dot == std::string::npos ? "" : name.substr(dot + 1);
    std::string padded = base + std::string(8 - base.size(), ' ') + extension + std::string(3 - extension.size(), ' ');
    for (std::size_t at : slots) {
      if (image_[at + 11] != 0x0F && std::memcmp(&image_[at], padded.data(), 11) == 0) return at;
    }
    return 0;
  }

  Bytes& image_;
  DWORD sector_, clusterSectors_, reserved_, fats_, rootEntries_, fatSectors_, totalSectors_;
  int kind_;
  DWORD rootCluster_, rootStart_, dataStart_, clusters_;
};

// An image edited in memory, written to a temporary file and loaded.
class FatHostileTest : public ::testing::Test {
 protected:
  void Open(const std::string& name) {
    path_ = Unpack("fat", name, temp_);
    bytes_ = ReadAllBytes(path_);
    image_.emplace(&bytes_);
  }
  // Writes the edited bytes and loads them; the rows of what was loaded.
  // The load's result and last error are kept in loaded_ and error_.
  std::vector<Row> Load(BOOL* loaded = nullptr) {
    WriteAllBytes(path_, bytes_);
    CQVFileArray index;
    BOOL result = LoadImage(path_, index);
    error_ = GetLastError();
    if (loaded != nullptr) *loaded = result;
    return IndexRows(index);
  }
  static std::size_t Members(const std::vector<Row>& rows) {
    return std::count_if(rows.begin(), rows.end(),
                         [](const Row& row) { return row.path.starts_with("/many/member file number "); });
  }

  ScopedTimeZone utc_{"UTC"};
  TempDir temp_;
  fs::path path_;
  Bytes bytes_;
  std::optional<FatImage> image_;
  DWORD error_ = 0;
};

TEST_F(FatHostileTest, LoopingFolderChainEndsWithEveryNameOnce) {
  for (const char* name : {"fat12", "fat32"}) {
    SCOPED_TRACE(name);
    Open(name);
    std::vector<DWORD> chain = image_->Chain(image_->FirstCluster(image_->Entry("MANY")));
    ASSERT_GE(chain.size(), 3u);
    image_->SetFatEntry(chain.back(), chain.front());  // the last cluster leads back to the first
    BOOL loaded = FALSE;
    std::vector<Row> rows = Load(&loaded);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(Members(rows), 200u);
    EXPECT_NE(Find(rows, "/times/summer.txt"), nullptr);
    // A loop into the middle of the chain.
    image_->SetFatEntry(chain.back(), chain[1]);
    rows = Load(&loaded);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(Members(rows), 200u);
    EXPECT_NE(Find(rows, "/last.txt"), nullptr);
  }
}

// A folder whose first cluster is its parent's, an older ancestor's or the
// root's would hold itself without end: it is there, but not entered again.
TEST_F(FatHostileTest, FolderThatIsItsOwnAncestorIsNotEnteredAgain) {
  for (const char* name : {"fat16", "fat32"}) {
    SCOPED_TRACE(name);
    Open(name);
    std::size_t deep = image_->Entry("DOCS/2021/Q1/DEEP"), empty = image_->Entry("DOCS/EMPTY");
    std::size_t secret = image_->Entry("ATTRS/SECRET");
    ASSERT_TRUE(deep != 0 && empty != 0 && secret != 0);
    image_->SetFirstCluster(deep, image_->FirstCluster(image_->Entry("DOCS")));
    image_->SetFirstCluster(secret, image_->FirstCluster(image_->Entry("ATTRS")));
    // On FAT32 the root is a cluster chain too; on FAT16 cluster 0 is what
    // ".." holds for the root.
    image_->SetFirstCluster(empty, image_->rootCluster());
    BOOL loaded = FALSE;
    std::vector<Row> rows = Load(&loaded);
    EXPECT_TRUE(loaded);
    for (const char* folder : {"/docs/2021/q1/deep", "/docs/empty", "/attrs/Secret"}) {
      const Row* row = Find(rows, folder);
      ASSERT_NE(row, nullptr) << folder;
      EXPECT_TRUE(row->folder) << folder;
    }
    EXPECT_EQ(Find(rows, "/docs/2021/q1/deep/2021"), nullptr);
    EXPECT_EQ(Find(rows, "/docs/empty/README.TXT"), nullptr);
    EXPECT_EQ(Find(rows, "/attrs/Secret/hidden.txt"), nullptr);
    // What the folders held before is out of reach.
    EXPECT_EQ(Find(rows, "/docs/2021/q1/deep/report.txt"), nullptr);
    EXPECT_EQ(Find(rows, "/attrs/Secret/inside.txt"), nullptr);
    EXPECT_NE(Find(rows, "/docs/2021/summary.txt"), nullptr);
    EXPECT_NE(Find(rows, "/attrs/all.txt"), nullptr);
    EXPECT_NE(Find(rows, "/lower/readme.txt"), nullptr);
    EXPECT_NE(Find(rows, "/last.txt"), nullptr);
    EXPECT_EQ(Members(rows), 200u);
    EXPECT_LT(rows.size(), 260u);
  }
}

TEST_F(FatHostileTest, ClusterNumbersBeyondTheVolumeEndOnlyTheirFolder) {
  for (const char* name : {"fat12", "fat16", "fat32", "fat16s4k"}) {
    SCOPED_TRACE(name);
    Open(name);
    // A folder starting past the last cluster: it is there, empty.
    image_->SetFirstCluster(image_->Entry("LOWER"), image_->maxCluster() + 1);
    // A folder chain leading past the last cluster: its first cluster is read.
    std::vector<DWORD> chain = image_->Chain(image_->FirstCluster(image_->Entry("MANY")));
    image_->SetFatEntry(chain[0], image_->maxCluster() + 3);
    std::vector<Row> rows = Load();
    const Row* lower = Find(rows, "/lower");
    ASSERT_NE(lower, nullptr);
    EXPECT_TRUE(lower->folder);
    EXPECT_EQ(Find(rows, "/lower/readme.txt"), nullptr);
    std::size_t perCluster = image_->ClusterBytes() / 32;
    EXPECT_GT(Members(rows), 0u);
    EXPECT_LE(Members(rows), perCluster / 3);
    EXPECT_NE(Find(rows, "/docs/2021/q1/deep/report.txt"), nullptr);
    EXPECT_NE(Find(rows, "/after_many.bin"), nullptr);
    EXPECT_NE(Find(rows, "/times/winter.txt"), nullptr);
  }
}

// The bad-cluster value and everything above it end a chain, as 0 does.
TEST_F(FatHostileTest, BadClusterValueEndsAChain) {
  for (const char* name : {"fat12", "fat16", "fat32"}) {
    SCOPED_TRACE(name);
    Open(name);
    DWORD bad = image_->kind() == 12 ? 0xFF7 : image_->kind() == 16 ? 0xFFF7 : 0x0FFFFFF7;
    std::vector<DWORD> chain = image_->Chain(image_->FirstCluster(image_->Entry("MANY")));
    ASSERT_GE(chain.size(), 3u);
    image_->SetFatEntry(chain[1], bad);
    std::vector<Row> rows = Load();
    std::size_t perCluster = image_->ClusterBytes() / 32;
    EXPECT_GT(Members(rows), 0u);
    EXPECT_LE(Members(rows), 2 * perCluster / 3);
    EXPECT_NE(Find(rows, "/after_many.bin"), nullptr);
    image_->SetFatEntry(chain[1], 0);
    EXPECT_LE(Members(Load()), 2 * perCluster / 3);
  }
}

// FAT32 entries are 28 bits: the top four are reserved and not part of
// the next cluster's number.
TEST_F(FatHostileTest, Fat32ReservedBitsAreNotPartOfTheLink) {
  Open("fat32");
  std::vector<DWORD> chain = image_->Chain(image_->FirstCluster(image_->Entry("MANY")));
  ASSERT_GE(chain.size(), 3u);
  for (std::size_t i = 0; i + 1 < chain.size(); ++i) image_->SetFatEntry(chain[i], 0xF0000000u | chain[i + 1]);
  std::vector<Row> rows = Load();
  EXPECT_EQ(Members(rows), 200u);
}

// With mirroring off (offset 40 bit 7) only the FAT its bits 0-3 name is
// read: the other one may hold anything.
TEST_F(FatHostileTest, Fat32ReadsTheActiveFatOnly) {
  Open("fat32");
  std::vector<std::string> all = PathsOf(Load());
  ASSERT_GT(all.size(), 200u);
  Bytes good = bytes_;
  for (DWORD active : {0u, 1u}) {
    SCOPED_TRACE(active);
    bytes_ = good;
    image_.emplace(&bytes_);
    image_->SetWord(40, 0x80 | active);
    std::fill_n(bytes_.begin() + image_->FatOffset(1 - active), image_->FatBytes(), 0);
    EXPECT_EQ(PathsOf(Load()), all);
  }
  // And with mirroring on, the first FAT is the one: emptied, every
  // multi-cluster folder ends after its first cluster.
  bytes_ = good;
  image_.emplace(&bytes_);
  image_->SetWord(40, 0x0001);
  std::fill_n(bytes_.begin() + image_->FatOffset(0), image_->FatBytes(), 0);
  EXPECT_LT(Members(Load()), 200u);
}

// A geometry that puts the FATs or the root region past the image's end is
// refused; a truncated image loads what it still holds.
TEST_F(FatHostileTest, RegionsPastTheEndOfTheImage) {
  struct Edit {
    const char* image;
    std::size_t at;
    DWORD value;
    bool dword;
  };
  for (const Edit& edit : {Edit{"fat12", 14, 0xFFF0, false},     // reserved sectors
                           Edit{"fat12", 22, 0xFFF0, false},     // sectors per FAT
                           Edit{"fat12", 17, 0xFFF0, false},     // root entries
                           Edit{"fat16", 22, 0xFFF0, false},     // sectors per FAT
                           Edit{"fat16", 14, 0xFFF0, false},     // reserved sectors
                           Edit{"fat16s4k", 14, 0x2000, false},  // reserved sectors
                           Edit{"fat32", 36, 0x00FFFFFF, true},  // sectors per FAT
                           Edit{"fat32", 44, 0x0FFFFFF0, true}}) {  // root cluster
    SCOPED_TRACE(std::string(edit.image) + " offset " + std::to_string(edit.at));
    Open(edit.image);
    if (edit.dword) {
      image_->SetDword(edit.at, edit.value);
    } else {
      image_->SetWord(edit.at, edit.value);
    }
    BOOL loaded = TRUE;
    Load(&loaded);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(error_, static_cast<DWORD>(ERROR_BAD_FORMAT));
  }
  for (const char* name : {"fat12", "fat16", "fat32"}) {
    SCOPED_TRACE(std::string(name) + " truncated");
    Open(name);
    bytes_.resize(image_->DataOffset() + 8 * image_->ClusterBytes());
    // It must end without reading past the file; whether a volume
    // shorter than its boot sector says is refused or read as far as it
    // goes is the reader's choice.
    BOOL loaded = FALSE;
    std::vector<Row> rows = Load(&loaded);
    if (loaded) {
      EXPECT_NE(Find(rows, "/README.TXT"), nullptr);  // the root's first part is whole
    } else {
      EXPECT_EQ(error_, static_cast<DWORD>(ERROR_BAD_FORMAT));
    }
  }
}

// The fields of one entry land where they belong: the creation time and
// the access date edited apart from the write time, every attribute bit,
// and each case flag alone.
TEST_F(FatHostileTest, EntryFieldsMapToTheirOwnValues) {
  Open("fat16");
  std::size_t readme = image_->Entry("README.TXT");
  ASSERT_NE(readme, 0u);
  image_->SetWord(readme + 14, (4 << 11) | (5 << 5) | 3);         // 04:05:06
  image_->SetWord(readme + 16, ((2001 - 1980) << 9) | (2 << 5) | 3);  // 2001-02-03
  image_->SetWord(readme + 18, ((2002 - 1980) << 9) | (3 << 5) | 4);  // 2002-03-04
  bytes_[readme + 11] = 0x27;
  bytes_[readme + 12] = 0x08;  // lower-case base only
  std::size_t summary = image_->Entry("DOCS/2021/SUMMARY.TXT");
  ASSERT_NE(summary, 0u);
  bytes_[summary + 12] = 0x10;  // lower-case extension only
  std::vector<Row> rows = Load();
  const Row* file = Find(rows, "/readme.TXT");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->creation, TicksOf(981173106LL));  // 2001-02-03 04:05:06 UTC
  EXPECT_EQ(file->access, TicksOf(1015200000LL));   // 2002-03-04 00:00:00
  EXPECT_EQ(file->write, TicksOf(1614834368LL));    // as mtools wrote it
  EXPECT_EQ(file->attributes & 0x3Fu, 0x27u);
  EXPECT_NE(Find(rows, "/docs/2021/SUMMARY.txt"), nullptr);
}

// Random bytes changed in the FATs and in folders: each load ends, never
// reads outside the image (ASan) and adds no more entries than there are
// slots.
TEST_F(FatHostileTest, RandomDamageInFatsAndFoldersEnds) {
  std::mt19937 random(11);
  for (const char* name : {"fat12", "fat16", "fat32"}) {
    SCOPED_TRACE(name);
    Open(name);
    const Bytes good = bytes_;
    std::vector<std::size_t> targets;  // the bytes worth damaging
    for (std::size_t at = image_->FatOffset(0); at < image_->FatOffset(0) + 2048; ++at) targets.push_back(at);
    for (const char* folder : {"MANY", "DOCS", "DOCS/2021", "LOWER", "ATTRS"}) {
      for (std::size_t slot : image_->Slots(image_->FirstCluster(image_->Entry(folder)))) {
        for (std::size_t i = 0; i < 32; ++i) targets.push_back(slot + i);
      }
    }
    for (std::size_t slot : image_->RootSlots()) {
      for (std::size_t i = 0; i < 32; ++i) targets.push_back(slot + i);
    }
    for (int round = 0; round < 60; ++round) {
      bytes_ = good;
      for (int flip = 0; flip < 6; ++flip) bytes_[targets[random() % targets.size()]] ^= 1 + random() % 255;
      std::vector<Row> rows = Load();
      EXPECT_LT(rows.size(), good.size() / 32) << round;
    }
  }
}

}  // namespace
}  // namespace qvtest

