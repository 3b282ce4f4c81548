// Loading folder trees into the index.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fileindex/index_test_util.h"

namespace qvtest {
namespace {

// Records every callback and answers ERROR_CANCELLED for the paths it is
// told to skip.
struct ProgressLog {
  struct Call {
    DWORD code;
    std::string path;
    LONGLONG value;
  };
  std::vector<Call> calls;
  std::vector<std::string> skip;

  static LONGLONG Callback(DWORD code, ULONGLONG user, ULONGLONG value, LONGLONG extra) {
    auto* log = reinterpret_cast<ProgressLog*>(static_cast<std::uintptr_t>(user));
    std::string path = U8(reinterpret_cast<const WCHAR*>(static_cast<std::uintptr_t>(value)));
    log->calls.push_back({code, path, extra});
    for (const std::string& s : log->skip) {
      if (code == 1 && path == s) return ERROR_CANCELLED;
    }
    return 0;
  }

  ULONGLONG User() { return static_cast<ULONGLONG>(reinterpret_cast<std::uintptr_t>(this)); }

  int Count(DWORD code) const {
    int n = 0;
    for (const Call& call : calls) n += call.code == code;
    return n;
  }
};

// Full paths of the index's live entries below `prefix`, in image order.
std::vector<std::string> PathsBelow(CQVFileArray& index, const WString& prefix) {
  std::vector<std::string> paths;
  DWORD size = 0;
  index.GetRawData(&size);
  DWORD offset = WordAt(index, 0);
  std::string start = U8(prefix) + "\\";
  while (offset != 0) {
    std::string path = Str(index.GetPathName(offset));
    if (path.compare(0, start.size(), start) == 0) paths.push_back(path.substr(start.size()));
    WORD step = WordAt(index, offset);
    offset = step == 0 ? 0 : offset + step;
  }
  return paths;
}

TEST(DirectoryWalkerTest, AddsFilesAndEmptyFoldersWithTwoCallsEach) {
  TempDir temp;
  temp.WriteFile("a.txt", 1);
  temp.WriteFile("b.txt", 2);
  temp.MakeDir("E");
  CQVFileArray index;
  ProgressLog log;
  EXPECT_TRUE(index.AddDirectory(temp.DrivePath().c_str(), 0, 0, &ProgressLog::Callback, log.User()));
  std::vector<std::string> paths = PathsBelow(index, temp.DrivePath());
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{"E", "a.txt", "b.txt"}));
  EXPECT_EQ(log.Count(1), 3);
  EXPECT_EQ(log.Count(2), 3);
  // Each code-2 call follows the code-1 call of the same item and carries
  // the new entry's index.
  for (std::size_t i = 0; i < log.calls.size(); ++i) {
    if (log.calls[i].code != 2) continue;
    ASSERT_GT(i, 0u);
    EXPECT_EQ(log.calls[i - 1].code, 1u);
    EXPECT_EQ(log.calls[i - 1].path, log.calls[i].path);
    EXPECT_EQ(Str(index.GetPathName(static_cast<DWORD>(log.calls[i].value))), log.calls[i].path);
  }
  DWORD folder = index.Add((temp.DrivePath() + W("\\E")).c_str(), nullptr, QVFA_ADD_LOOKUP);
  EXPECT_TRUE(index.IsDirectory(folder));
  // The folder's own chain of entries leads down to it.
  DWORD top = index.Add(temp.DrivePath().c_str(), nullptr, QVFA_ADD_LOOKUP);
  EXPECT_EQ(Str(index.GetPathName(top)), U8(temp.DrivePath()));
}

TEST(DirectoryWalkerTest, NonEmptyFolderGetsItsEntryFromItsFirstFile) {
  TempDir temp;
  temp.WriteFile("S/f", 7);
  CQVFileArray index;
  ProgressLog log;
  index.AddDirectory(temp.DrivePath().c_str(), 0, 0, &ProgressLog::Callback, log.User());
  EXPECT_EQ(PathsBelow(index, temp.DrivePath()), (std::vector<std::string>{"S", "S\\f"}));
  ASSERT_EQ(log.Count(2), 1);
  EXPECT_EQ(log.calls.back().path, U8(temp.DrivePath() + W("\\S\\f")));
  EXPECT_EQ(log.Count(1), 2);  // S, then f
}

TEST(DirectoryWalkerTest, CancelledFolderIsNeitherAddedNorEntered) {
  TempDir temp;
  temp.WriteFile("skip/inner/x", 1);
  temp.WriteFile("keep/y", 1);
  temp.WriteFile("z", 1);
  CQVFileArray index;
  ProgressLog log;
  log.skip.push_back(U8(temp.DrivePath() + W("\\skip")));
  index.AddDirectory(temp.DrivePath().c_str(), 0, 0, &ProgressLog::Callback, log.User());
  std::vector<std::string> paths = PathsBelow(index, temp.DrivePath());
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{"keep", "keep\\y", "z"}));
  for (const auto& call : log.calls) EXPECT_EQ(call.path.find("inner"), std::string::npos);
}

TEST(DirectoryWalkerTest, TrailingBackslashMakesNoDifference) {
  TempDir temp;
  temp.WriteFile("d1/d2/deep.bin", 100);
  temp.WriteFile("top.bin", 10);
  temp.MakeDir("d1/empty");
  CQVFileArray plain, slashed;
  plain.AddDirectory(temp.DrivePath().c_str());
  slashed.AddDirectory((temp.DrivePath() + W("\\")).c_str());
  std::vector<std::string> paths = PathsBelow(plain, temp.DrivePath());
  EXPECT_EQ(paths.size(), 5u);  // d1, d2, deep.bin, empty, top.bin
  EXPECT_EQ(PathsBelow(slashed, temp.DrivePath()), paths);
  // Same entries with the same data (the first walk may touch the folders'
  // access times, so those are left out).
  for (const std::string& path : paths) {
    WString full = temp.DrivePath() + W("\\" + path);
    QVFA_FILEINFO a, b;
    ASSERT_TRUE(plain.GetFileInfo(plain.Add(full.c_str(), nullptr, QVFA_ADD_LOOKUP), &a)) << path;
    ASSERT_TRUE(slashed.GetFileInfo(slashed.Add(full.c_str(), nullptr, QVFA_ADD_LOOKUP), &b)) << path;
    // The record is packed: its fields are read into locals, never bound.
    ULONGLONG sizeA = a.ullSize, sizeB = b.ullSize;
    DWORD attributesA = a.dwFileAttributes, attributesB = b.dwFileAttributes;
    EXPECT_EQ(sizeA, sizeB) << path;
    EXPECT_EQ(attributesA, attributesB) << path;
    EXPECT_EQ(QVTEST_TIME(a.ftLastWriteTime), QVTEST_TIME(b.ftLastWriteTime)) << path;
    EXPECT_EQ(QVTEST_TIME(a.ftCreationTime), QVTEST_TIME(b.ftCreationTime)) << path;
  }
}

// What the walk takes from the folder listing is what opening each path
// tells: an index filled by Add(path), which opens every item, holds the
// same sizes, attributes and times. A second walk over the same folders,
// large ones among them, finds every entry again and adds none.
TEST(DirectoryWalkerTest, ListedEntriesEqualOpenedOnesAndASecondWalkAddsNothing) {
  TempDir temp;
  for (int f = 0; f < 120; ++f) temp.WriteFile("large/file" + std::to_string(f) + ".dat", f * 37);
  temp.WriteFile("a/b/deep.txt", 4000);
  temp.WriteFile(".hidden", 5);
  temp.WriteFile("readonly.txt", 12);
  std::filesystem::permissions(temp.path() / "readonly.txt", std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  temp.MakeDir("a/empty");
  CQVFileArray walked;
  ASSERT_TRUE(walked.AddDirectory(temp.DrivePath().c_str()));
  const std::vector<std::string> paths = PathsBelow(walked, temp.DrivePath());
  ASSERT_EQ(paths.size(), 120u + 7u);  // and large, a, b, deep.txt, empty, .hidden, readonly.txt
  CQVFileArray opened;
  for (const std::string& path : paths) {
    ASSERT_NE(opened.Add((temp.DrivePath() + W("\\" + path)).c_str(), nullptr, 0), 0u) << path;
  }
  for (const std::string& path : paths) {
    const WString full = temp.DrivePath() + W("\\" + path);
    const EntryFields a = EntryAt(walked, walked.Add(full.c_str(), nullptr, QVFA_ADD_LOOKUP));
    const EntryFields b = EntryAt(opened, opened.Add(full.c_str(), nullptr, QVFA_ADD_LOOKUP));
    EXPECT_EQ(a.dwAttributes, b.dwAttributes) << path;
    EXPECT_EQ(a.ullSize, b.ullSize) << path;
    EXPECT_EQ(a.ullLastWriteTime, b.ullLastWriteTime) << path;
    EXPECT_EQ(a.ullChangeTime, b.ullChangeTime) << path;
    EXPECT_EQ(a.ullCreationTime, b.ullCreationTime) << path;
    EXPECT_EQ(a.bUserDataSize, b.bUserDataSize) << path;
    EXPECT_NE(a.ullLastWriteTime, 0u) << path;
  }
  EXPECT_EQ(walked.GetSize(walked.Add((temp.DrivePath() + W("\\large\\file99.dat")).c_str(), nullptr,
                                      QVFA_ADD_LOOKUP)),
            99u * 37u);
  const DWORD before = walked.GetItemCount(TRUE);
  ASSERT_TRUE(walked.AddDirectory(temp.DrivePath().c_str()));
  EXPECT_EQ(walked.GetItemCount(TRUE), before);
  EXPECT_EQ(PathsBelow(walked, temp.DrivePath()), paths);
  std::filesystem::permissions(temp.path() / "readonly.txt", std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
}

TEST(DirectoryWalkerTest, MissingFolderAddsNothingAndSucceeds) {
  TempDir temp;
  CQVFileArray index;
  ProgressLog log;
  EXPECT_TRUE(index.AddDirectory((temp.DrivePath() + W("\\nothing")).c_str(), 0, 0,
                                 &ProgressLog::Callback, log.User()));
  EXPECT_EQ(index.GetItemCount(TRUE), 0u);
  EXPECT_TRUE(log.calls.empty());
}

TEST(DirectoryWalkerTest, FilesGetTheUserDataSizeAndEmptyFoldersNone) {
  TempDir temp;
  temp.WriteFile("f1", 1);
  temp.MakeDir("empty");
  CQVFileArray index;
  index.AddDirectory(temp.DrivePath().c_str(), 0, 18);
  DWORD file = index.Add((temp.DrivePath() + W("\\f1")).c_str(), nullptr, QVFA_ADD_LOOKUP);
  DWORD empty = index.Add((temp.DrivePath() + W("\\empty")).c_str(), nullptr, QVFA_ADD_LOOKUP);
  ASSERT_NE(file, 0u);
  ASSERT_NE(empty, 0u);
  EXPECT_EQ(EntryAt(index, file).bUserDataSize, 18);
  EXPECT_EQ(EntryAt(index, empty).bUserDataSize, 0);
}

TEST(DirectoryWalkerTest, CloneFlagGoesToEveryAdd) {
  TempDir temp;
  temp.WriteFile("one", 1);
  CQVFileArray index;
  index.AddDirectory(temp.DrivePath().c_str());
  DWORD first = index.Add((temp.DrivePath() + W("\\one")).c_str(), nullptr, QVFA_ADD_LOOKUP);
  index.AddDirectory(temp.DrivePath().c_str(), QVFA_ADD_CLONE);
  EXPECT_EQ(EntryAt(index, first).bState, QVFA_HASCLONES);
  DWORD second = EntryAt(index, first).dwNextSibling;
  ASSERT_NE(second, 0u);
  EXPECT_EQ(EntryAt(index, second).bState, QVFA_CLONE);
}

TEST(DirectoryWalkerTest, WideTreeKeepsEveryItem) {
  TempDir temp;
  for (int d = 0; d < 20; ++d) {
    for (int f = 0; f < 15; ++f) {
      temp.WriteFile("dir" + std::to_string(d) + "/file" + std::to_string(f) + ".txt", f);
    }
  }
  CQVFileArray index;
  index.AddDirectory(temp.DrivePath().c_str());
  EXPECT_EQ(PathsBelow(index, temp.DrivePath()).size(), 20u + 300u);
  DWORD file = index.Add((temp.DrivePath() + W("\\dir7\\file9.txt")).c_str(), nullptr, QVFA_ADD_LOOKUP);
  EXPECT_EQ(index.GetSize(file), 9u);
}

TEST(DirectoryWalkerTest, DeepTreeIsWalkedWhole) {
  TempDir temp;
  std::string relative;
  for (int depth = 0; depth < 60; ++depth) relative += "d" + std::to_string(depth % 10) + "/";
  temp.WriteFile(relative + "leaf", 3);
  CQVFileArray index;
  index.AddDirectory(temp.DrivePath().c_str());
  EXPECT_EQ(PathsBelow(index, temp.DrivePath()).size(), 61u);
}

}  // namespace
}  // namespace qvtest
