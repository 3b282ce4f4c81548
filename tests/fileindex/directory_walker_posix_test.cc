// Folder walks over what only POSIX file systems have: symbolic links that
// form cycles, FIFOs, names Windows paths cannot hold.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <utility>

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

// Runs `check` in a child process as the user nobody when this one is root
// (whom permissions never hold back), else here; its result: 0 when all is
// well, else the number of the check that failed.
int AsUnprivileged(const std::function<int()>& check) {
  if (geteuid() != 0) return check();
  pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
    _exit(check());
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 101;
  return WEXITSTATUS(status);
}

struct UnlistedLog {
  std::vector<std::pair<std::string, LONGLONG>> folders;
  static LONGLONG Callback(DWORD code, ULONGLONG user, ULONGLONG value, LONGLONG extra) {
    if (code == 3) {
      reinterpret_cast<UnlistedLog*>(static_cast<std::uintptr_t>(user))
          ->folders.emplace_back(U8(reinterpret_cast<const WCHAR*>(static_cast<std::uintptr_t>(value))), extra);
    }
    return 0;
  }
};

TEST(DirectoryWalkerPosixTest, UnreadableFolderAddsNothingIsReportedAndTheWalkGoesOn) {
  TempDir temp;
  temp.WriteFile("closed/secret", 1);
  temp.WriteFile("open/visible", 1);
  std::filesystem::permissions(temp.path(), std::filesystem::perms::all);
  std::filesystem::permissions(temp.path() / "open", std::filesystem::perms::all);
  std::filesystem::permissions(temp.path() / "closed", std::filesystem::perms::none);
  const WString top = temp.DrivePath();
  int failed = AsUnprivileged([&] {
    CQVFileArray index;
    UnlistedLog log;
    index.AddDirectory(top.c_str(), 0, 0, &UnlistedLog::Callback, reinterpret_cast<std::uintptr_t>(&log));
    if (LivePaths(index, top) != std::vector<std::string>{"open", "open\\visible"}) return 1;
    if (log.folders.size() != 1 || log.folders[0].first != U8(top) + "\\closed") return 2;
    if (log.folders[0].second != ERROR_ACCESS_DENIED) return 3;
    // The folder given, unreadable itself: reported too; a missing one is not.
    UnlistedLog closed;
    index.AddDirectory((top + W("\\closed")).c_str(), 0, 0, &UnlistedLog::Callback,
                       reinterpret_cast<std::uintptr_t>(&closed));
    if (closed.folders.size() != 1) return 4;
    UnlistedLog missing;
    index.AddDirectory((top + W("\\missing")).c_str(), 0, 0, &UnlistedLog::Callback,
                       reinterpret_cast<std::uintptr_t>(&missing));
    if (!missing.folders.empty()) return 5;
    return 0;
  });
  std::filesystem::permissions(temp.path() / "closed", std::filesystem::perms::owner_all);
  EXPECT_EQ(failed, 0);
}

TEST(DirectoryWalkerPosixTest, NamesThatDifferOnlyInCaseAreAllKept) {
  TempDir temp;
  temp.WriteFile("readme.txt", 1);
  temp.WriteFile("README.txt", 2);
  temp.WriteFile("photos/a.jpg", 3);
  temp.WriteFile("Photos/a.jpg", 4);
  temp.WriteFile("Photos/b.jpg", 5);
  temp.MakeDir("EMPTY");
  temp.MakeDir("empty");
  CQVFileArray index;
  ASSERT_TRUE(index.AddDirectory(temp.DrivePath().c_str()));
  EXPECT_EQ(LivePaths(index, temp.DrivePath()),
            (std::vector<std::string>{"EMPTY", "Photos", "Photos\\a.jpg", "Photos\\b.jpg", "README.txt", "empty",
                                      "photos", "photos\\a.jpg", "readme.txt"}));
  for (const char* path : {"\\photos\\a.jpg", "\\Photos\\a.jpg", "\\readme.txt", "\\README.txt"}) {
    DWORD entry = index.Add((temp.DrivePath() + W(path)).c_str(), nullptr, QVFA_ADD_LOOKUP | QVFA_ADD_EXACT_CASE);
    ASSERT_NE(entry, 0u) << path;
    EXPECT_EQ(Str(index.GetPathName(entry)), U8(temp.DrivePath()) + path);
    std::string relative(path + 1);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    EXPECT_EQ(index.GetSize(entry), std::filesystem::file_size(temp.path() / relative));
  }
}

// In a folder large enough to be looked up through its table, names that
// differ only in case share a key: each is still found exactly, and a
// second walk adds neither again.
TEST(DirectoryWalkerPosixTest, CaseTwinsInALargeFolderAreFoundExactlyAndNotAddedTwice) {
  TempDir temp;
  for (int f = 0; f < 60; ++f) temp.WriteFile("big/f" + std::to_string(f), 1);
  temp.WriteFile("big/Twin.txt", 2);
  temp.WriteFile("big/twin.txt", 3);
  temp.WriteFile("big/TWIN.txt", 4);
  CQVFileArray index;
  ASSERT_TRUE(index.AddDirectory(temp.DrivePath().c_str()));
  const std::vector<std::string> paths = LivePaths(index, temp.DrivePath());
  EXPECT_EQ(paths.size(), 1u + 63u);
  ASSERT_TRUE(index.AddDirectory(temp.DrivePath().c_str()));
  EXPECT_EQ(LivePaths(index, temp.DrivePath()), paths);
  const std::pair<const char*, ULONGLONG> twins[] = {{"Twin.txt", 2}, {"twin.txt", 3}, {"TWIN.txt", 4}};
  for (const auto& [name, size] : twins) {
    const WString path = temp.DrivePath() + W("\\big\\") + W(name);
    const DWORD entry = index.Add(path.c_str(), nullptr, QVFA_ADD_LOOKUP | QVFA_ADD_EXACT_CASE);
    ASSERT_NE(entry, 0u) << name;
    EXPECT_EQ(index.GetSize(entry), size) << name;
  }
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
