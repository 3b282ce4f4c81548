// Counting per category over drive letters mapped to folders and to the FAT
// and NTFS volume images: which partitions are counted, with and without
// the pre-installation environment, totals that come from the images read
// raw (checked against the tools' own listings, the images' trees laid out
// on disk since a counted file must exist there), and the age filter's cut
// under time zones other than UTC.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/scoped_time_zone.h"
#include "engine/engine_drive_mapping.h"
#include "engine/engine_file_list_test_util.h"
#include "engine/engine_log_capture.h"
#include "engine/engine_profile_test_util.h"
#include "fileindex/volume_images.h"
#include "platform/preinstall_env.h"
#include "qvbackup/host.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

using Totals = std::vector<std::pair<LONGLONG, LONGLONG>>;  // {files, bytes} of categories 1 to 6

// The totals of the category messages, read during each call, when their
// addresses are valid.
struct TotalsRecorder : CQVEngineCallback {
  Totals totals;
  void OnEngineMessage(DWORD code, ULONGLONG, ULONGLONG category, ULONGLONG files, ULONGLONG bytes) override {
    if (code != ENGINE_MSG_CATEGORY_COUNT) return;
    DWORD number = 0;
    std::pair<LONGLONG, LONGLONG> sums;
    std::memcpy(&number, reinterpret_cast<const void*>(category), sizeof(number));
    std::memcpy(&sums.first, reinterpret_cast<const void*>(files), sizeof(sums.first));
    std::memcpy(&sums.second, reinterpret_cast<const void*>(bytes), sizeof(sums.second));
    EXPECT_EQ(number, totals.size() + 1);
    totals.push_back(sums);
  }
};

void WriteGroupFile(const fs::path& folder, const std::vector<Group>& groups) {
  fs::create_directories(folder);
  std::ofstream(folder / "GpExt.xml", std::ios::binary) << GroupFileText(groups);
}

// A regular file of a volume listing: its path below the root,
// '\'-separated, and its size.
struct ListedFile {
  std::string path;
  LONGLONG size;
};

fs::path Utf8Path(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

// Lays out below `disk` the live files and folders of a sleuthkit body
// listing (fls -m) and returns its files. Deleted names, the label, the
// tool's virtual entries and $FILE_NAME rows are left out; a named stream's
// row makes its file exist but lists nothing (the file has its own row
// when it has unnamed data).
std::vector<ListedFile> MirrorOnDisk(const fs::path& listing, const fs::path& disk) {
  std::vector<ListedFile> files;
  std::ifstream in(listing);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    for (std::size_t start = 0, bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1) {
      fields.push_back(line.substr(start, bar - start));
    }
    if (fields.size() < 7 || fields[1].find('(') != std::string::npos || fields[1].rfind("/$OrphanFiles", 0) == 0) {
      continue;
    }
    const std::string path = fields[1].substr(1), mode = fields[3].substr(0, 1);
    if (mode == "d") fs::create_directories(disk / Utf8Path(path));
    if (mode != "r") continue;
    const std::string file = path.substr(0, path.find(':'));
    fs::create_directories((disk / Utf8Path(file)).parent_path());
    std::ofstream(disk / Utf8Path(file), std::ios::binary) << 'x';
    if (file != path) continue;
    std::string windows = file;
    for (char& c : windows) c = c == '/' ? '\\' : c;
    files.push_back({windows, std::stoll(fields[6])});
  }
  return files;
}

std::string LowerExtension(const std::string& path) {
  std::string name = path.substr(path.find_last_of('\\') + 1);
  std::size_t dot = name.find_last_of('.');
  std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

// The totals of `groups` (in category order) over the listed files that
// `counted` keeps.
Totals Tally(const std::vector<ListedFile>& files, const std::vector<Group>& groups,
             const std::function<bool(const std::string&)>& counted) {
  Totals totals(6, {0, 0});
  for (const ListedFile& file : files) {
    if (!counted(file.path)) continue;
    for (std::size_t g = 0; g < groups.size(); ++g) {
      for (const std::string& extension : groups[g].extensions) {
        if (LowerExtension(file.path) == extension) {
          totals[g].first += 1;
          totals[g].second += file.size;
        }
      }
    }
  }
  return totals;
}

class PosixCountTest : public ::testing::Test {
 protected:
  PosixCountTest() : engine_(&recorder_) {}
  Totals Count(const WCHAR* baseFolder) {
    recorder_.totals.clear();
    engine_.GetCount(CQVString(baseFolder), profile_);
    return recorder_.totals;
  }

  CapturedLog log_;
  TotalsRecorder recorder_;
  CQVBackupEngine engine_;
  QV_ARCHIVE_PROFILE_BACKUP profile_ = ProfileWith({});
};

Totals PicturesAndOffices(std::pair<LONGLONG, LONGLONG> pictures, std::pair<LONGLONG, LONGLONG> offices) {
  return {pictures, {0, 0}, {0, 0}, offices, {0, 0}, {0, 0}};
}

TEST_F(PosixCountTest, DriveCBelowTheBaseFolderUnlessLettersAreGivenWhichAddUp) {
  TempDir c, d;
  c.WriteFile("base/a.jpg", 10);
  c.WriteFile("base/deep/b.JPG", 20);
  c.WriteFile("base/x.doc", 1);
  c.WriteFile("other/c.jpg", 40);
  c.WriteFile("d.jpg", 80);
  d.WriteFile("e.jpg", 160);
  d.WriteFile("base/f.jpg", 320);
  WriteGroupFile(c.path(), {{"Pictures", {"jpg"}}, {"Offices", {"doc"}}});
  DriveMapping mapC(u'C', c.path()), mapD(u'D', d.path());
  engine_.m_strEnvironementPath = QVT("C:\\");

  EXPECT_EQ(Count(QVT("C:\\base")), PicturesAndOffices({2, 30}, {1, 1}));
  EXPECT_EQ(Count(QVT("")), PicturesAndOffices({4, 150}, {1, 1}));
  // The base folder names a folder of another drive: C:\ holds none of it.
  EXPECT_EQ(Count(QVT("D:\\base")), PicturesAndOffices({0, 0}, {0, 0}));
  // Folder-mapped drives are not read raw: walked after the failure lines.
  EXPECT_EQ(LinesEndingWith(log_.Body(), "LoadNTFS impossible"), 3 * 6);

  engine_.m_strMultiplePartScan = QVT("DCQ");  // Q names no drive
  EXPECT_EQ(Count(QVT("C:\\base")), PicturesAndOffices({6, 630}, {1, 1}));
  // Each category counts the letters in their order.
  std::vector<std::string> roots =
      ValuesAfter(log_.Body(), "ENTER CQVBackupEngine::ComputeSizeInformationsOfCategory Part:");
  ASSERT_EQ(roots.size(), 3 * 6 + 3 * 6u);
  for (std::size_t i = 3 * 6; i < roots.size(); i += 3) {
    EXPECT_EQ(std::vector<std::string>(roots.begin() + i, roots.begin() + i + 3),
              (std::vector<std::string>{"D:\\", "C:\\", "Q:\\"}));
  }
}

TEST_F(PosixCountTest, PreinstallationEnvironmentCountsThePartitionsToScanEachTraced) {
  TempDir d, e, windows;
  d.WriteFile("a.jpg", 3);
  d.WriteFile("sub/b.jpg", 5);
  e.WriteFile("c.jpg", 7);
  e.WriteFile("m.doc", 11);
  WriteGroupFile(windows.path() / "WINDOWS" / "system32", {{"Pictures", {"jpg"}}, {"Offices", {"doc"}}});
  DriveMapping mapD(u'D', d.path()), mapE(u'E', e.path()), mapG(u'G', windows.path());
  PreinstallationEnvironment pe(true);
  profile_.strWindowsDrive = QVT("G:\\");
  profile_.strPartitionsToScan = QVT("DE");
  engine_.m_strMultiplePartScan = QVT("G");  // not used there

  EXPECT_EQ(Count(QVT("D:\\sub")), PicturesAndOffices({3, 15}, {1, 11}));
  std::vector<std::string> expected = {"1 i64NbFiles 2 i64Size 8 ", "1 i64NbFiles 1 i64Size 7 ",
                                       "2 i64NbFiles 0 i64Size 0 ", "2 i64NbFiles 0 i64Size 0 ",
                                       "3 i64NbFiles 0 i64Size 0 ", "3 i64NbFiles 0 i64Size 0 ",
                                       "4 i64NbFiles 0 i64Size 0 ", "4 i64NbFiles 1 i64Size 11 ",
                                       "5 i64NbFiles 0 i64Size 0 ", "5 i64NbFiles 0 i64Size 0 ",
                                       "6 i64NbFiles 0 i64Size 0 ", "6 i64NbFiles 0 i64Size 0 "};
  EXPECT_EQ(ValuesAfter(log_.Body(), "CQVBackupEngine::GetCount : !!!! Type"), expected);
}

TEST_F(PosixCountTest, FatImagesAreCountedFromTheirTablesAsTheirListingsSay) {
  const std::vector<Group> groups = {{"Pictures", {"bin"}}, {"Music", {"txt"}},       {"Video", {"dat"}},
                                     {"Offices", {"xlsx", "bat"}}, {"Mail", {"sys"}}};  // no Financial
  for (const char* name : {"fat12", "fat32"}) {
    SCOPED_TRACE(name);
    TempDir temp;
    const fs::path image = Unpack("fat", name, temp), disk = temp.path() / "disk";
    const std::vector<ListedFile> files = MirrorOnDisk(DataFile("fat", std::string(name) + ".fls.txt"), disk);
    // Gone from the disk since the volume was written: not counted. On the
    // disk but not in the volume: not counted either.
    ASSERT_TRUE(fs::remove(disk / "docs" / "2021" / "summary.txt"));
    std::ofstream(disk / "docs" / "extra.txt") << "not in the volume";
    WriteGroupFile(disk, groups);
    DriveMapping mapC(u'C', disk, image);
    engine_.m_strEnvironementPath = QVT("C:\\");
    const auto present = [](const std::string& path) { return path != "docs\\2021\\summary.txt"; };

    const Totals whole = Tally(files, groups, present);
    ASSERT_GT(whole[2].first, 100);  // the many .dat files
    EXPECT_EQ(Count(QVT("")), whole);
    const auto belowDocs = [&](const std::string& path) { return present(path) && path.rfind("docs\\", 0) == 0; };
    EXPECT_EQ(Count(QVT("C:\\docs")), Tally(files, groups, belowDocs));
    EXPECT_EQ(recorder_.totals[1], (std::pair<LONGLONG, LONGLONG>{1, 100}));
    EXPECT_EQ(LinesEndingWith(log_.Body(), "LoadNTFS impossible"), 0);
  }
}

TEST_F(PosixCountTest, NtfsImageOnAnotherLetterIsCountedAsItsListingSaysLessTheExclusions) {
  TempDir temp, config;
  const fs::path image = Unpack("ntfs", "ntfs1k", temp), disk = temp.path() / "disk";
  const std::vector<ListedFile> files = MirrorOnDisk(DataFile("ntfs", "ntfs1k.fls.txt"), disk);
  ASSERT_TRUE(fs::remove(disk / "small.txt"));
  const std::vector<Group> groups = {
      {"Pictures", {"bin"}}, {"Music", {"txt"}}, {"Video", {"text"}}, {"Offices", {"log"}}};
  UseGroupFile(engine_, config, GroupFileText(groups));
  DriveMapping mapN(u'N', disk, image);
  engine_.m_strMultiplePartScan = QVT("N");

  const Totals whole = Tally(files, groups, [](const std::string& path) { return path != "small.txt"; });
  ASSERT_GT(whole[1].first, 40);  // the hard links of "many"
  EXPECT_EQ(Count(QVT("N:\\dir1")), whole);  // letters given: the base folder is not used
  EXPECT_EQ(LinesEndingWith(log_.Body(), "LoadNTFS impossible"), 0);

  CQVStringArray folders(0), names(0);
  folders.Add(QVT("n:\\LINKS"));
  names.Add(QVT("N:\\many\\BASE.txt"));
  engine_.SetFoldersExcludedList(folders);
  engine_.SetFilesExcludedList(names);
  const Totals kept = Tally(files, groups, [](const std::string& path) {
    return path != "small.txt" && path.rfind("links\\", 0) != 0 && path != "many\\base.txt";
  });
  EXPECT_EQ(Count(QVT("")), kept);
  EXPECT_EQ(whole[1].first - kept[1].first, 6);
}

TEST_F(PosixCountTest, AgeFilterCutsAtTheReferenceInstantWhateverTheTimeZone) {
  TempDir tree;
  const auto reference =
      std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now() + std::chrono::hours(24));
  const auto ticks = (static_cast<ULONGLONG>(reference.time_since_epoch().count()) + 11644473600ULL) * 10000000ULL;
  profile_.bReferenceTimeFilter = TRUE;
  profile_.ftReferenceTime = FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  // Created now, before the reference: only the last write decides.
  fs::last_write_time(tree.WriteFile("before.txt", 1),
                      std::chrono::file_clock::from_sys(reference - std::chrono::minutes(1)));
  fs::last_write_time(tree.WriteFile("after.txt", 2),
                      std::chrono::file_clock::from_sys(reference + std::chrono::minutes(1)));
  CQVStringArray extensions(0);
  extensions.Add(QVT("txt"));
  for (const char* zone : {"<+05>-5", "<-07>7", "UTC0"}) {
    SCOPED_TRACE(zone);
    ScopedTimeZone inZone(zone);
    LONGLONG files = 0, bytes = 0;
    engine_.ComputeSizeInformationsOfCategory(QVT("C:\\"), CQVString(tree.DrivePath().c_str()), extensions, files,
                                              bytes, profile_);
    EXPECT_EQ(files, 1);
    EXPECT_EQ(bytes, 2);
  }
}

}  // namespace
}  // namespace qvtest
