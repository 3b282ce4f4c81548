// The list file of partitions that are drive letters mapped to folder trees
// (walked, as no raw device stands behind them) and to the real FAT and NTFS
// images (read raw). What each section must hold is worked out from the
// files the test lays out, or from the tools' own listing of an image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_drive_mapping.h"
#include "engine/engine_file_list_test_util.h"
#include "engine/engine_list_file_reader.h"
#include "engine/engine_log_capture.h"
#include "engine/engine_profile_test_util.h"
#include "fileindex/volume_images.h"
#include "qvbackup/host.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtest {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string WithBackslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Lays out below `disk` the live files and folders of a sleuthkit body file
// (fls -m) and returns the files, '\'-separated, relative to the root.
// Deleted entries, the label and the tool's virtual entries carry "(" or a
// mode other than r and d; a named stream stands for its file.
std::set<std::string> LayOutListing(const fs::path& listing, const fs::path& disk) {
  std::set<std::string> files;
  std::ifstream in(listing);
  for (std::string line; std::getline(in, line);) {
    const std::size_t first = line.find('|'), second = line.find('|', first + 1), third = line.find('|', second + 1);
    std::string path = line.substr(first + 2, second - first - 2);
    const char mode = line[third + 1];
    if (path.find('(') != std::string::npos || (mode != 'r' && mode != 'd')) continue;
    path = path.substr(0, path.find(':'));
    const fs::path native = disk / fs::path(std::u8string(path.begin(), path.end()));
    if (mode == 'd') {
      fs::create_directories(native);
      continue;
    }
    fs::create_directories(native.parent_path());
    std::ofstream(native, std::ios::binary) << "x";
    files.insert(WithBackslashes(path));
  }
  return files;
}

std::string Extension(const std::string& path) {
  const std::size_t dot = path.find_last_of(".\\");
  return dot == std::string::npos || path[dot] != '.' ? std::string() : Lower(path.substr(dot + 1));
}

std::string Name(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

// `paths` in order, each behind `drive`.
std::vector<std::string> Sorted(const std::set<std::string>& paths, const std::string& drive = "") {
  std::vector<std::string> sorted;
  for (const std::string& path : paths) sorted.push_back(drive + path);
  return sorted;
}

// The three sections in order, and the counts in "Parameters" agreeing
// with the items of the others.
::testing::AssertionResult WellFormed(const ListFileSections& file) {
  if (file.size() != 3 || file[0].first != "Parameters" || file[1].first != "Selected" ||
      file[2].first != "Include") {
    return ::testing::AssertionFailure() << "sections are not Parameters, Selected, Include";
  }
  const std::vector<std::string> counts = {"Newerfiles=1", "Selected=" + std::to_string(file[1].second.size()),
                                           "include=" + std::to_string(file[2].second.size())};
  if (file[0].second != counts) return ::testing::AssertionFailure() << "Parameters do not count the items";
  return ::testing::AssertionSuccess();
}

// FILETIME of the system clock moved by `offset`.
FILETIME FileTimeFromNow(std::chrono::seconds offset) {
  const auto since1970 = std::chrono::system_clock::now().time_since_epoch() + offset;
  const unsigned long long ticks =
      static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::seconds>(since1970).count() +
                                      11644473600LL) * 10000000ULL;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

class PosixListFileTest : public ::testing::Test {
 protected:
  PosixListFileTest() : engine_(nullptr) {
    UseGroupFile(engine_, home_, GroupFileText({{"Pictures", {"jpg", "png"}},
                                                {"Music", {"mp3"}},
                                                {"Video", {"avi"}},
                                                {"Offices", {"doc", "JPG"}},  // a file in two groups is listed once
                                                {"Mail", {"txt"}}}));
  }

  // The items of "Selected" and "Include".
  struct ListItems {
    std::vector<std::string> selected, include;
  };

  // Builds the list "test.lst" and reads it back.
  ListItems Build(QV_ARCHIVE_PROFILE_BACKUP& profile) {
    EXPECT_EQ(engine_.BuildLSTFile(QVT("test.lst"), profile), 0u);
    ListFileSections file = ReadListFile(home_.path() / "test.lst");
    EXPECT_TRUE(WellFormed(file));
    return file.size() == 3 ? ListItems{file[1].second, file[2].second} : ListItems{};
  }

  TempDir home_;
  CapturedLog log_;
  CQVBackupEngine engine_;
};

// One file of the folder tree and what the run must make of it.
struct TreeFile {
  std::string path;  // below the drive root, '/'-separated
  bool category;     // of a checked category
  bool excluded;     // below the excluded folder, or of the excluded extension
};

const std::vector<TreeFile> kTree = {
    {"Photos/a.jpg", true, false},        {"Photos/B.JPG", true, false},
    {"Photos/pic.png", true, true},       {"Photos/other.Png", true, true},
    {"Music/song.mp3", true, false},      {"Video/clip.avi", false, false},
    {"Docs/report.doc", true, false},     {"Docs/notes.text", false, false},
    {"TEMP/skip.doc", true, true},        {"TEMP/deep/skip.bin", false, true},
    {"Temporary/keep.doc", true, false},  {"folder.jpg/inside.bin", false, false},
    {".hidden.mp3", true, false},         {"no extension", false, false},
};

// Lays out kTree below `root` (with an empty folder and a folder named like
// a picture) and excludes the folder "Temp" and the extension "PNG".
void LayOutTree(TempDir& root, CQVBackupEngine& engine, WCHAR letter) {
  for (const TreeFile& file : kTree) root.WriteFile(file.path, 4);
  root.MakeDir("empty");
  CQVStringArray folders(0), extensions(0);
  folders.Add(CQVString((WString(1, letter) + QVT(":\\Temp")).c_str()));
  extensions.Add(CQVString(QVT("PNG")));
  engine.SetFoldersExcludedList(folders);
  engine.SetExtensionsExcludedList(extensions);
}

std::set<std::string> TreePaths(char letter, bool categoryOnly) {
  std::set<std::string> paths;
  for (const TreeFile& file : kTree) {
    if (!file.excluded && (file.category || !categoryOnly)) {
      paths.insert(std::string(1, letter) + ":\\" + WithBackslashes(file.path));
    }
  }
  return paths;
}

TEST_F(PosixListFileTest, WithoutOthersTheCategoryFilesOfAWalkedTreeAreSelectedAndIncludeRepeatsThem) {
  TempDir tree;
  LayOutTree(tree, engine_, u'G');
  DriveMapping mapG(u'G', tree.path());
  // A name with a line break cannot be an item: it is left out, and the
  // numbers and the count must not notice.
  tree.WriteFile("Music/two\nlines.mp3", 1);
  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({1, 2, 4});  // Video and Mail not checked
  profile.strPartitionsToScan = QVT("G");

  const ListItems file = Build(profile);
  EXPECT_EQ(SortedPathsOf(file.selected), Sorted(TreePaths('G', true)));
  EXPECT_EQ(file.include, file.selected);
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesHolding(lines, "::LoadNTFSVolume ("), 1);
  EXPECT_EQ(LinesHolding(lines, "lines.mp3 cannot be listed"), 2);  // once per section
  EXPECT_TRUE(EachOnceInOrder(lines, {"partition to scan G ", "Sequential parsing method begin!!",
                                      "ENTER CQVBackupEngine::LSTFile_BuildSelectedSection", "Others non selected",
                                      "ENTER CQVBackupEngine::LSTFile_BuildIncludedSection"}));
  EXPECT_EQ(LinesEndingWith(lines, "Old School parsing method begin!!"), 0);
  EXPECT_EQ(LinesEndingWith(lines, "categorie others Checked !"), 0);
}

TEST_F(PosixListFileTest, WithOthersIncludeHoldsEveryFileNotExcludedAndTheAgeFilterKeepsOnlyNewerFiles) {
  TempDir tree;
  LayOutTree(tree, engine_, u'G');
  DriveMapping mapG(u'G', tree.path());
  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({1, 2, 4});
  profile.bOthers = TRUE;
  profile.strPartitionsToScan = QVT("G");

  ListItems file = Build(profile);
  EXPECT_EQ(SortedPathsOf(file.selected), Sorted(TreePaths('G', true)));
  EXPECT_EQ(SortedPathsOf(file.include), Sorted(TreePaths('G', false)));
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesHolding(lines, "::LoadNTFSVolume ("), 2);
  EXPECT_TRUE(EachOnceInOrder(lines, {"Sequential parsing method begin!!", "strLetterToScan G:\\",
                                      "Old School parsing method begin!!", "after adddirectory!!",
                                      "categorie others Checked !"}));
  EXPECT_EQ(LinesEndingWith(lines, "Others non selected"), 0);

  // Files written an hour after the reference stay; every other file of the
  // tree was made and written before it, and goes.
  const std::set<std::string> newer = {"Photos/a.jpg", "Photos/pic.png", "Docs/notes.text", "TEMP/skip.doc"};
  for (const std::string& path : newer) {
    fs::last_write_time(tree.path() / path, fs::file_time_type::clock::now() + std::chrono::hours(2));
  }
  profile.bReferenceTimeFilter = TRUE;
  profile.ftReferenceTime = FileTimeFromNow(std::chrono::hours(1));
  file = Build(profile);
  EXPECT_EQ(SortedPathsOf(file.selected), (std::vector<std::string>{"G:\\Photos\\a.jpg"}));
  EXPECT_EQ(SortedPathsOf(file.include),
            (std::vector<std::string>{"G:\\Docs\\notes.text", "G:\\Photos\\a.jpg"}));
}

// The list file reloads the volume index: a search of the same volume
// afterwards must load it again rather than trust what was loaded before.
TEST_F(PosixListFileTest, AFileListAfterTheListFileLoadsTheVolumeAgain) {
  TempDir tree;
  tree.WriteFile("Docs/report.doc", 1);
  DriveMapping mapG(u'G', tree.path());
  engine_.m_currentDiskScanned = QVT("G:\\");
  ASSERT_TRUE(engine_.GenerateBackupFileList());  // loads G and lists it
  ASSERT_EQ(Listed(engine_), std::set<std::string>{"G:\\Docs\\report.doc"});
  engine_.ClearListofFileToBackup();
  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({4});
  profile.strPartitionsToScan = QVT("G");
  EXPECT_EQ(SortedPathsOf(Build(profile).selected), std::vector<std::string>{"G:\\Docs\\report.doc"});

  EXPECT_TRUE(engine_.GenerateBackupFileList());
  EXPECT_EQ(Listed(engine_), std::set<std::string>{"G:\\Docs\\report.doc"});
}

TEST_F(PosixListFileTest, PartitionsAreGatheredInTheirOrderAndALetterWithoutDriveAddsNothing) {
  TempDir first, second;
  LayOutTree(first, engine_, u'H');  // the excluded folder is H:\Temp: G's TEMP stays
  second.WriteFile("Music/tune.mp3", 1);
  second.WriteFile("readme.text", 1);
  second.WriteFile("Temp/dropped.doc", 1);
  DriveMapping mapH(u'H', second.path()), mapG(u'G', first.path());
  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({1, 2, 4});
  profile.bOthers = TRUE;
  profile.strPartitionsToScan = QVT("GQH");  // Q names no drive

  const ListItems file = Build(profile);
  std::set<std::string> selected = TreePaths('G', true);
  selected.insert({"G:\\TEMP\\skip.doc", "H:\\Music\\tune.mp3"});
  EXPECT_EQ(SortedPathsOf(file.selected), Sorted(selected));
  std::set<std::string> included = TreePaths('G', false);
  included.insert({"G:\\TEMP\\skip.doc", "G:\\TEMP\\deep\\skip.bin", "H:\\Music\\tune.mp3", "H:\\readme.text"});
  EXPECT_EQ(SortedPathsOf(file.include), Sorted(included));
  // In file order every file of G comes before every file of H.
  for (const std::vector<std::string>* section : {&file.selected, &file.include}) {
    const std::vector<std::string>& items = *section;
    const auto firstOfH = std::find_if(items.begin(), items.end(),
                                       [](const std::string& item) { return item.find("=H:\\") != std::string::npos; });
    EXPECT_TRUE(std::none_of(firstOfH, items.end(),
                             [](const std::string& item) { return item.find("=G:\\") != std::string::npos; }))
        << items.size();
  }
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "Sequential parsing method begin!!"), 3);
  EXPECT_EQ(LinesEndingWith(lines, "after adddirectory!!"), 3);
  EXPECT_EQ(LinesEndingWith(lines, "strLetterToScan Q:\\"), 1);
}

class PosixListFileImageTest : public PosixListFileTest {
 protected:
  // Unpacks tests/data/FOLDER/NAME, lays its files out on disk (a listed
  // file must exist there) and maps `letter` to both.
  std::set<std::string> Mount(const std::string& folder, const std::string& name, WCHAR letter) {
    const fs::path image = Unpack(folder, name, temp_);
    std::set<std::string> files = LayOutListing(DataFile(folder, name + ".fls.txt"), temp_.path() / "disk");
    mapping_ = std::make_unique<DriveMapping>(letter, temp_.path() / "disk", image);
    return files;
  }
  void ExpectReadRaw() {
    std::vector<WString> lines = log_.Body();
    EXPECT_EQ(LinesHolding(lines, "::LoadNTFSVolume ("), 0);
    EXPECT_EQ(LinesEndingWith(lines, "Sequential parsing method begin!!"), 0);
    EXPECT_EQ(LinesEndingWith(lines, "Old School parsing method begin!!"), 0);
    EXPECT_EQ(LinesEndingWith(lines, "after adddirectory!!"), 0);
    EXPECT_EQ(LinesEndingWith(lines, "categorie others Checked !"), 1);
  }

  TempDir temp_;
  std::unique_ptr<DriveMapping> mapping_;
};

TEST_F(PosixListFileImageTest, FatVolumeIsReadRawForBothSections) {
  std::set<std::string> files = Mount("fat", "fat12", u'F');
  ASSERT_TRUE(files.count("docs\\2021\\summary.txt") && files.count("lower\\notes.TXT") && files.count(".hidden"));
  fs::remove(temp_.path() / "disk" / "docs" / "2021" / "summary.txt");  // gone since the volume was made
  files.erase("docs\\2021\\summary.txt");
  std::ofstream(temp_.path() / "disk" / "extra.txt") << "on disk only";
  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({5});
  profile.bOthers = TRUE;
  profile.strPartitionsToScan = QVT("F");

  const ListItems file = Build(profile);
  std::set<std::string> texts;
  for (const std::string& path : files) {
    if (Extension(path) == "txt") texts.insert(path);
  }
  ASSERT_GT(texts.size(), 10u);
  EXPECT_EQ(SortedPathsOf(file.selected), Sorted(texts, "F:\\"));
  EXPECT_EQ(SortedPathsOf(file.include), Sorted(files, "F:\\"));
  ExpectReadRaw();
}

TEST_F(PosixListFileImageTest, NtfsVolumeIsReadRawAndItsMetafilesAreLeftOutOfInclude) {
  std::set<std::string> files = Mount("ntfs", "ntfs1k", u'N');
  ASSERT_TRUE(files.count("$MFT") && files.count("$Extend\\$Quota") && files.count("$dollar.txt"));
  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({5});
  profile.bOthers = TRUE;
  profile.strPartitionsToScan = QVT("N");

  const ListItems file = Build(profile);
  const std::set<std::string> metafiles = {"$upcase", "$secure",  "$badclus", "$boot", "$bitmap",
                                           "$attrdef", "$volume", "$logfile", "$mftmirr", "$reparse",
                                           "$objid",  "$quota",   "$mft"};
  std::set<std::string> texts, others;
  for (const std::string& path : files) {
    if (Extension(path) == "txt") texts.insert(path);
    if (!metafiles.count(Lower(Name(path)))) others.insert(path);
  }
  EXPECT_EQ(files.size() - others.size(), metafiles.size());  // each metafile once, so each goes
  EXPECT_TRUE(others.count("$dollar.txt"));
  EXPECT_EQ(SortedPathsOf(file.selected), Sorted(texts, "N:\\"));
  EXPECT_EQ(SortedPathsOf(file.include), Sorted(others, "N:\\"));
  ExpectReadRaw();
}

}  // namespace
}  // namespace qvtest
