// Folder walks over what only POSIX file systems have: symbolic links that
// form cycles, FIFOs, names Windows paths cannot hold.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "fileindex/index_test_util.h"

namespace qvtest {
namespace {

std::vector<std::string> LivePaths(CQVFileArray& index, const WString& prefix) {
  std::vector<std::string> paths;
  std::string start = U8(prefix) + "\\";
  for (DWORD offset = WordAt(index, 0); offset != 0;) {
    std::string path = Str(index.GetPathName(offset));
    if (path.compare(0, start.size(), start) == 0) paths.push_back(path.substr(start.size()));
    WORD step = WordAt(index, offset);
    offset = step == 0 ? 0 : offset + step;
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

TEST(DirectoryWalkerPosixTest, SymbolicLinkCyclesAreRecordedNotFollowed) {
  TempDir temp;
  temp.WriteFile("a/file", 5);
  std::filesystem::create_directory_symlink(temp.path() / "a", temp.path() / "a" / "loop");
  std::filesystem::create_directory_symlink(temp.path(), temp.path() / "up");
  std::filesystem::create_symlink(temp.path() / "a" / "file", temp.path() / "filelink");
  CQVFileArray index;
  ASSERT_TRUE(index.AddDirectory(temp.DrivePath().c_str()));
  EXPECT_EQ(LivePaths(index, temp.DrivePath()),
            (std::vector<std::string>{"a", "a\\file", "a\\loop", "filelink", "up"}));
  DWORD loop = index.Add((temp.DrivePath() + W("\\a\\loop")).c_str(), nullptr, QVFA_ADD_LOOKUP);
  EXPECT_EQ(index.GetAttributes(loop),
            static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
  DWORD link = index.Add((temp.DrivePath() + W("\\filelink")).c_str(), nullptr, QVFA_ADD_LOOKUP);
  EXPECT_TRUE(index.GetAttributes(link) & FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(index.GetSize(link), 0u);
}

TEST(DirectoryWalkerPosixTest, FifosAreNotFilesAndDoNotFillAFolder) {
  TempDir temp;
  temp.MakeDir("pipes");
  ASSERT_EQ(mkfifo((temp.path() / "pipes" / "p").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((temp.path() / "q").c_str(), 0600), 0);
  temp.WriteFile("real", 1);
  CQVFileArray index;
  index.AddDirectory(temp.DrivePath().c_str());
  EXPECT_EQ(LivePaths(index, temp.DrivePath()), (std::vector<std::string>{"pipes", "real"}));
}

TEST(DirectoryWalkerPosixTest, UnreadableFolderAddsNothingAndTheWalkGoesOn) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  TempDir temp;
  temp.WriteFile("closed/secret", 1);
  temp.WriteFile("open/visible", 1);
  std::filesystem::permissions(temp.path() / "closed", std::filesystem::perms::none);
  CQVFileArray index;
  index.AddDirectory(temp.DrivePath().c_str());
  EXPECT_EQ(LivePaths(index, temp.DrivePath()), (std::vector<std::string>{"open", "open\\visible"}));
}

TEST(DirectoryWalkerPosixTest, NamesWithColonsAndBackslashesSurvive) {
  TempDir temp;
  temp.WriteFile("10:30 notes.txt", 4);
  temp.WriteFile("back\\slash", 2);
  CQVFileArray index;
  index.AddDirectory(temp.DrivePath().c_str());
  std::vector<std::string> paths = LivePaths(index, temp.DrivePath());
  ASSERT_EQ(paths.size(), 2u);
  // Neither name splits into components: each is one entry below the folder.
  for (const std::string& path : paths) EXPECT_EQ(path.find('\\'), std::string::npos) << path;
  DWORD top = index.Add(temp.DrivePath().c_str(), nullptr, QVFA_ADD_LOOKUP);
  EXPECT_NE(EntryAt(index, top).dwFirstChild, EntryAt(index, top).dwLastChild);
}

}  // namespace
}  // namespace qvtest
