// Building the list of files to save over drive letters mapped to folders
// and to volume images: whole drives scanned in turn, links skipped, and FAT
// and NTFS volumes read raw. An image's tree is also laid out on disk (from
// the tools' own listing, not from our loaders), since a listed file must
// exist there; files removed from the folder or added to it only then show
// that the list comes from the image and is checked against the disk.
#include <gtest/gtest.h>

#include <cctype>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "engine/engine_drive_mapping.h"
#include "engine/engine_file_list_test_util.h"
#include "engine/engine_log_capture.h"
#include "engine/system_file_names.h"
#include "fileindex/volume_images.h"
#include "qvbackup/host.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

fs::path Utf8Path(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

void Touch(const fs::path& path, std::size_t size = 1) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

// Lays out below `disk` the live files and folders of a sleuthkit body
// file (fls -m): names of deleted entries, the label, the tool's virtual
// entries and attribute names are left out; a named stream stands for its
// file. Returns the files' paths relative to the volume root,
// '\'-separated.
std::set<std::string> MirrorOnDisk(const fs::path& listing, const fs::path& disk) {
  std::set<std::string> files;
  std::ifstream in(listing);
  for (std::string line; std::getline(in, line);) {
    std::size_t first = line.find('|'), second = line.find('|', first + 1), third = line.find('|', second + 1);
    std::string path = line.substr(first + 2, second - first - 2);  // without the leading '/'
    std::string mode = line.substr(third + 1, 1);
    // "(deleted)", "($FILE_NAME)", "(Volume Label Entry)" are not names.
    if (path.find('(') != std::string::npos || (mode != "r" && mode != "d")) continue;
    path = path.substr(0, path.find(':'));  // a named stream's file
    if (mode == "d") {
      fs::create_directories(disk / Utf8Path(path));
      continue;
    }
    Touch(disk / Utf8Path(path));
    for (char& c : path) c = c == '/' ? '\\' : c;
    files.insert(path);
  }
  return files;
}

std::set<std::string> OnDrive(const std::string& drive, const std::set<std::string>& relatives) {
  std::set<std::string> paths;
  for (const std::string& relative : relatives) paths.insert(drive + relative);
  return paths;
}

class PosixFileListTest : public ::testing::Test {
 protected:
  PosixFileListTest() : engine_(&recorder_) {}
  void AddFilter(const char* base, const char* extension, DWORD flags, const char* mask) {
    engine_.CreateFilters(QVT("filter"), CQVString(W(base).c_str()), W(extension).c_str(), flags, W(mask).c_str());
  }

  CapturedLog log_;
  MessageRecorder recorder_;
  CQVBackupEngine engine_;
};

TEST_F(PosixFileListTest, DrivesOfAMultiplePartScanAreSearchedInTurnByFiltersWithoutBaseFolder) {
  TempDir c, d, e;
  c.WriteFile("c1.doc", 1);
  c.WriteFile("sub/c2.doc", 1);
  c.WriteFile("c.txt", 1);
  d.WriteFile("d1.doc", 2);
  d.WriteFile("notes.txt", 3);
  d.WriteFile("sub/x.bin", 4);
  d.WriteFile("Desktop.ini", 5);
  e.WriteFile("Data/e.txt", 1);
  e.WriteFile("Data/e.doc", 1);
  e.WriteFile("other.txt", 1);
  DriveMapping mapC(u'C', c.path()), mapD(u'D', d.path()), mapE(u'E', e.path());
  AddFilter("E:\\Data", "txt", QVFF_RECURSE, "*");
  AddFilter("", "doc", 0, "ignored.doc");  // without base folder the file mask is not used
  engine_.m_strMultiplePartScan = QVT("CD");

  engine_.MakeFileList();
  EXPECT_EQ(Listed(engine_),
            (std::set<std::string>{"E:\\Data\\e.txt", "C:\\c1.doc", "C:\\sub\\c2.doc", "D:\\d1.doc"}));
  EXPECT_EQ(U8(engine_.m_currentDiskScanned.GetString()), "D:\\");
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "m_strMultiplePartScan=CD"), 1);
  EXPECT_TRUE(EachOnceInOrder(lines, {"loading volume E:\\", "loading volume C:\\", "loading volume D:\\"}));

  // Afterwards the search record is all zeros: a flat search of the last
  // drive, taking every file that passes the tests.
  EXPECT_TRUE(engine_.GenerateBackupFileList());
  EXPECT_EQ(Listed(engine_), (std::set<std::string>{"E:\\Data\\e.txt", "C:\\c1.doc", "C:\\sub\\c2.doc", "D:\\d1.doc",
                                                    "D:\\notes.txt", "D:\\sub\\x.bin"}));
  EXPECT_EQ(PositionsOf(log_.Body(), "loading volume D:\\").size(), 2u);
}

TEST_F(PosixFileListTest, LinksAreListedAsLinksAndNeverEntered) {
  TempDir e;
  e.WriteFile("Data/real.txt", 1);
  e.WriteFile("Target/t.txt", 1);
  e.MakeDir("Data/empty");
  fs::create_directory_symlink(e.path() / "Target", e.path() / "Data" / "link");
  fs::create_symlink(e.path() / "Data" / "real.txt", e.path() / "Data" / "flink.txt");
  fs::create_symlink(e.path() / "nowhere", e.path() / "Data" / "dangling");
  DriveMapping mapE(u'E', e.path());
  AddFilter("E:\\Data", "", QVFF_RECURSE, "*");
  engine_.MakeFileList();
  // Nothing of Target, which only the folder link leads to.
  const std::set<std::string> expected = {"E:\\Data\\dangling", "E:\\Data\\empty", "E:\\Data\\flink.txt",
                                          "E:\\Data\\link", "E:\\Data\\real.txt"};
  EXPECT_EQ(Listed(engine_), expected);
  EXPECT_EQ(LinesEndingWith(log_.Body(), "----JUNCTION !! skip----"), 0);

  engine_.ClearListofFileToBackup();
  engine_.ScanAndAddFolder(CQVString(QVT("E:\\Data")));
  EXPECT_EQ(Listed(engine_), expected);
}

TEST_F(PosixFileListTest, FatVolumeIsReadRawAndOnlyItsFilesStillOnDiskAreListed) {
  TempDir temp;
  fs::path image = Unpack("fat", "fat12", temp);
  std::set<std::string> files = MirrorOnDisk(DataFile("fat", "fat12.fls.txt"), temp.path() / "disk");
  ASSERT_TRUE(files.count("docs\\2021\\summary.txt"));
  fs::remove(temp.path() / "disk" / "docs" / "2021" / "summary.txt");
  Touch(temp.path() / "disk" / "docs" / "extra.txt");  // on disk, not in the volume
  DriveMapping mapF(u'F', temp.path() / "disk", image);
  AddFilter("F:\\docs", "txt", QVFF_RECURSE, "*");

  engine_.MakeFileList();
  EXPECT_EQ(Listed(engine_), std::set<std::string>{"F:\\docs\\2021\\q1\\deep\\report.txt"});
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "loading volume F:\\"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "Old School parsing method begin!!"), 0);
  EXPECT_EQ(LinesHolding(lines, "::LoadVolume ("), 0);
  // The whole volume was loaded, not only the base folder.
  EXPECT_NE(engine_.m_qvfaGroup.Add(QVT("F:\\lower\\MAKE.bat"), nullptr, QVFA_ADD_LOOKUP), 0u);
  EXPECT_EQ(engine_.m_qvfaGroup.Add(QVT("F:\\docs\\extra.txt"), nullptr, QVFA_ADD_LOOKUP), 0u);
}

TEST_F(PosixFileListTest, NtfsVolumeIsReadRawAndItsMetafilesAreNeverListed) {
  TempDir temp;
  fs::path image = Unpack("ntfs", "ntfs1k", temp);
  std::set<std::string> files = MirrorOnDisk(DataFile("ntfs", "ntfs1k.fls.txt"), temp.path() / "disk");
  ASSERT_TRUE(files.count("$MFT") && files.count("$Extend\\$Quota") && files.count("small.txt"));
  fs::remove(temp.path() / "disk" / "small.txt");
  DriveMapping mapN(u'N', temp.path() / "disk", image);
  AddFilter("", "", 0, "");
  engine_.m_strMultiplePartScan = QVT("N");

  engine_.MakeFileList();
  // Every file of the volume but the one gone from the disk and those whose
  // lowered name is a system name: most metafiles, though not $LogFile
  // (the list has "logfile") nor those in $Extend\$RmMetadata.
  std::set<std::string> expected;
  for (const std::string& file : files) {
    std::string name = file.substr(file.find_last_of('\\') + 1);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!qv::engine::IsSystemFileName(W(name)) && file != "small.txt") expected.insert(file);
  }
  // The image's empty folder is saved as one (the folder mapped to N: has it).
  expected.insert("empty");
  EXPECT_TRUE(expected.count("$LogFile"));
  EXPECT_FALSE(expected.count("$MFT"));
  ASSERT_GT(expected.size(), 50u);
  EXPECT_EQ(Listed(engine_), OnDrive("N:\\", expected));
  EXPECT_EQ(LinesEndingWith(log_.Body(), "Old School parsing method begin!!"), 0);
  EXPECT_EQ(recorder_.codes, std::vector<DWORD>{ENGINE_MSG_SCAN_BEGIN});
}

}  // namespace
}  // namespace qvtest
