// Files and folders through the platform layer, on real temporary folders.
// These hold on both platforms; platform-only behaviour has its own files.
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "platform/wildcard.h"
#include "platform_test_util.h"

namespace qv::platform {
namespace {

using qvtest::DrivePathIn;
using qvtest::ListFolder;
using qvtest::SizeOf;
using qvtest::TempDir;
using qvtest::W;

std::set<std::string> NamesOf(const std::map<std::string, WIN32_FIND_DATAW>& items) {
  std::set<std::string> names;
  for (const auto& item : items) names.insert(item.first);
  return names;
}

class FileSystemTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(FileSystemTest, RegularFileReportsItsSizeAndNoFolderBit) {
  dir_.WriteFile("data.bin", 5000);
  FileInformation info;
  ASSERT_TRUE(GetFileInformation(DrivePathIn(dir_, "data.bin").c_str(), &info)) << GetLastError();
  EXPECT_EQ(info.size, 5000u);
  EXPECT_EQ(info.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(info.attributes & FILE_ATTRIBUTE_ARCHIVE, 0u);
  EXPECT_EQ(info.attributes & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_NE(qvtest::TicksOf(info.lastWriteTime), 0u);
}

TEST_F(FileSystemTest, FolderReportsTheFolderBitAndSizeZero) {
  dir_.WriteFile("sub/inner.txt", 10);
  FileInformation info;
  ASSERT_TRUE(GetFileInformation(DrivePathIn(dir_, "sub").c_str(), &info)) << GetLastError();
  EXPECT_NE(info.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(info.attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  EXPECT_EQ(info.size, 0u);
  ASSERT_TRUE(GetFileInformation((DrivePathIn(dir_, "sub") + W("\\")).c_str(), &info)) << "trailing backslash";
  EXPECT_NE(info.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(FileSystemTest, FileWithoutWritePermissionIsReadOnly) {
  std::filesystem::path file = dir_.WriteFile("locked.txt", 1);
  std::filesystem::permissions(file, std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                         std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  FileInformation info;
  ASSERT_TRUE(GetFileInformation(DrivePathIn(dir_, "locked.txt").c_str(), &info));
  EXPECT_NE(info.attributes & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(FileSystemTest, MissingItemAndMissingFolderGiveDifferentErrors) {
  FileInformation info;
  SetLastError(0);
  EXPECT_FALSE(GetFileInformation(DrivePathIn(dir_, "absent.txt").c_str(), &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(GetFileInformation(DrivePathIn(dir_, "absent\\file.txt").c_str(), &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FileSystemTest, ExistenceAndFolderQueriesTellFilesFromFolders) {
  dir_.WriteFile("f.txt", 1);
  dir_.MakeDir("d");
  EXPECT_TRUE(FileExists(DrivePathIn(dir_, "f.txt").c_str()));
  EXPECT_TRUE(FileExists(DrivePathIn(dir_, "d").c_str()));
  EXPECT_FALSE(FileExists(DrivePathIn(dir_, "none").c_str()));
  EXPECT_FALSE(IsDirectory(DrivePathIn(dir_, "f.txt").c_str()));
  EXPECT_TRUE(IsDirectory(DrivePathIn(dir_, "d").c_str()));
  EXPECT_FALSE(IsDirectory(DrivePathIn(dir_, "none").c_str()));
}

TEST_F(FileSystemTest, EmptyFolderIsEmptyUntilSomethingIsPutInIt) {
  dir_.MakeDir("empty");
  dir_.MakeDir("withFile");
  dir_.WriteFile("withFile/x", 0);
  dir_.MakeDir("withFolder/inner");
  dir_.WriteFile("plain.txt", 3);
  EXPECT_TRUE(IsDirectoryEmpty(DrivePathIn(dir_, "empty").c_str()));
  EXPECT_FALSE(IsDirectoryEmpty(DrivePathIn(dir_, "withFile").c_str()));
  EXPECT_FALSE(IsDirectoryEmpty(DrivePathIn(dir_, "withFolder").c_str()));
  EXPECT_FALSE(IsDirectoryEmpty(DrivePathIn(dir_, "plain.txt").c_str())) << "a file is not an empty folder";
  EXPECT_FALSE(IsDirectoryEmpty(DrivePathIn(dir_, "none").c_str()));
}

TEST_F(FileSystemTest, EnumeratorListsDotsNamesSizesAndKinds) {
  dir_.WriteFile("a.txt", 3);
  dir_.WriteFile("b.log", 0);
  dir_.WriteFile("sub/deep.txt", 9);
  auto items = ListFolder(DrivePathIn(dir_, "*"));
  EXPECT_EQ(NamesOf(items), (std::set<std::string>{".", "..", "a.txt", "b.log", "sub"}));
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(SizeOf(items["a.txt"]), 3u);
  EXPECT_EQ(SizeOf(items["b.log"]), 0u);
  EXPECT_EQ(items["a.txt"].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(items["sub"].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(items["."].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(items["a.txt"].cAlternateFileName[0], 0);
}

TEST_F(FileSystemTest, EnumeratorAgreesWithFileInformation) {
  dir_.WriteFile("same.bin", 1234);
  auto items = ListFolder(DrivePathIn(dir_, "same.bin"));
  ASSERT_EQ(items.size(), 1u);
  const WIN32_FIND_DATAW& found = items["same.bin"];
  FileInformation info;
  ASSERT_TRUE(GetFileInformation(DrivePathIn(dir_, "same.bin").c_str(), &info));
  EXPECT_EQ(found.dwFileAttributes, info.attributes);
  EXPECT_EQ(SizeOf(found), info.size);
  EXPECT_EQ(qvtest::TicksOf(found.ftLastWriteTime), qvtest::TicksOf(info.lastWriteTime));
  EXPECT_EQ(qvtest::TicksOf(found.ftCreationTime), qvtest::TicksOf(info.creationTime));
}

TEST_F(FileSystemTest, EnumeratorFiltersByMask) {
  dir_.WriteFile("one.txt", 1);
  dir_.WriteFile("two.TXT", 1);
  dir_.WriteFile("three.doc", 1);
  EXPECT_EQ(NamesOf(ListFolder(DrivePathIn(dir_, "*.txt"))), (std::set<std::string>{"one.txt", "two.TXT"}));
  EXPECT_EQ(NamesOf(ListFolder(DrivePathIn(dir_, "t??.*"))), (std::set<std::string>{"two.TXT"}));
  EXPECT_EQ(NamesOf(ListFolder(DrivePathIn(dir_, "THREE.DOC"))), (std::set<std::string>{"three.doc"}));
}

TEST_F(FileSystemTest, EnumeratorTellsAMissingFolderFromNoMatch) {
  dir_.WriteFile("only.txt", 1);
  DWORD error = 0;
  EXPECT_TRUE(ListFolder(DrivePathIn(dir_, "*.zzz"), &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(ListFolder(DrivePathIn(dir_, "missing\\*"), &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FileSystemTest, EnumeratorEndsWithNoMoreFilesAndCanStartAgain) {
  dir_.WriteFile("x.txt", 1);
  DirectoryEnumerator enumerator;
  WIN32_FIND_DATAW data;
  EXPECT_FALSE(enumerator.Next(&data)) << "nothing is open yet";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(enumerator.First(DrivePathIn(dir_, "*.txt").c_str(), &data));
    EXPECT_EQ(qvtest::U8(data.cFileName), "x.txt");
    EXPECT_FALSE(enumerator.Next(&data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  }
  enumerator.Close();
  enumerator.Close();
  EXPECT_FALSE(enumerator.Next(&data));
}

TEST_F(FileSystemTest, NonAsciiNamesAreListedAndOpenedByTheirListedName) {
  const std::string name = "\xC3\xA9t\xC3\xA9 \xE2\x98\x83 \xF0\x9F\x98\x80.txt";
  dir_.WriteFile(name, 42);
  auto items = ListFolder(DrivePathIn(dir_, "*.txt"));
  ASSERT_EQ(items.count(name), 1u);
  FileInformation info;
  ASSERT_TRUE(GetFileInformation((dir_.DrivePath() + W("\\") + items[name].cFileName).c_str(), &info));
  EXPECT_EQ(info.size, 42u);
}

TEST(ExecutablePathTest, NamesThisTestProgram) {
  WString path;
  ASSERT_TRUE(GetExecutablePath(&path));
  ASSERT_GT(path.size(), 3u);
  EXPECT_EQ(path[1], static_cast<WCHAR>(':'));
  EXPECT_EQ(path[2], static_cast<WCHAR>('\\'));
  WString name = path.substr(path.rfind(static_cast<WCHAR>('\\')) + 1);
  EXPECT_TRUE(PathMatchSpec(name.c_str(), W("qv_platform_tests;qv_platform_tests.exe").c_str())) << qvtest::U8(name);
  EXPECT_TRUE(FileExists(path.c_str()));
}

}  // namespace
}  // namespace qv::platform
