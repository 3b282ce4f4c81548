// What a restore does with an item already where it restores one, under
// each overwrite mode; restores to the paths items were saved from; what
// is already there, as the restore sees it; and the bytes it reports while
// a large file is written.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "control/control_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

struct ProgressLog : CQVEngineCallback {
  std::vector<ULONGLONG> bytes;
  void OnEngineMessage(DWORD code, ULONGLONG value1, ULONGLONG, ULONGLONG, ULONGLONG) override {
    if (code == ENGINE_MSG_RESTORE_PROGRESS) bytes.push_back(value1);
  }
};

// The source holds a.txt (saved with a last write time an hour ago),
// big.bin (three content chunks and a bit) and the empty folder empty.
class OverwriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_.WriteFile("a.txt", 1000);
    source_.WriteFile("big.bin", 3 * QVBF_CHUNK_SIZE + 12345);
    saved_ = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(source_.path() / "a.txt", saved_);
    CQVBackupControl control;
    ASSERT_TRUE(control.BeginBackup(desc_.get())) << GetLastError();
    for (const char* name : {"a.txt", "big.bin"}) {
      ASSERT_TRUE(control.AddFileToArchive((Source(name)).c_str())) << name;
    }
    ASSERT_TRUE(control.EndBackup()) << GetLastError();
    ASSERT_TRUE(restorer_.GetStorage().OpenArchive(desc_.get()));
    ASSERT_TRUE(restorer_.LoadArchiveIndex());
    restorer_.SetRestoreRoot(root_.DrivePath().c_str());
  }
  void TearDown() override { restorer_.EndRestore(); }

  WString Source(const std::string& name) const { return source_.DrivePath() + W("\\" + name); }
  fs::path Target(const std::string& name) const { return RestoredPath(root_.path(), Source(name)); }
  // Where a.txt goes, with `bytes` there already, last written at `when`.
  fs::path PlantTarget(const std::string& name, const Bytes& bytes, fs::file_time_type when) {
    const fs::path target = Target(name);
    fs::create_directories(target.parent_path());
    WriteAll(target, bytes);
    fs::last_write_time(target, when);
    return target;
  }
  DWORD EntryOf(const std::string& name) {
    CQVFileArray& index = restorer_.GetIndex();
    DWORD entry = 0;
    HANDLE search = index.FindFirstFileW(entry, nullptr);
    DWORD found = 0;
    do {
      if (index.GetPathName(entry) == CQVString(Source(name).c_str())) found = entry;
    } while (found == 0 && index.FindNextFileW(search, entry));
    index.FindClose(search);
    EXPECT_NE(found, 0u) << name;
    return found;
  }
  // The items of `folder` other than `keep`: what a restore left behind.
  static std::vector<std::string> Others(const fs::path& folder, const std::string& keep) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) {
      if (item.path().filename() != keep) names.push_back(item.path().filename().string());
    }
    return names;
  }

  TempDir source_, root_, archives_;
  ArchiveDescription desc_{archives_.DrivePath()};
  CQVBackupControl restorer_;
  fs::file_time_type saved_;
};

TEST_F(OverwriteTest, ByDefaultAnExistingFileIsReplaced) {
  EXPECT_EQ(restorer_.GetOverwriteMode(), static_cast<DWORD>(QVBC_OVERWRITE_ALWAYS));
  const fs::path target = PlantTarget("a.txt", TextBytes(5), fs::file_time_type::clock::now());
  EXPECT_EQ(restorer_.RestoreEntry(EntryOf("a.txt")), TRUE) << GetLastError();
  EXPECT_EQ(ReadAll(target), ReadAll(source_.path() / "a.txt"));
}

TEST_F(OverwriteTest, NeverLeavesAnExistingFileAloneAndWritesNothing) {
  ASSERT_TRUE(restorer_.SetOverwriteMode(QVBC_OVERWRITE_NEVER));
  const Bytes local = TextBytes(5);
  const fs::path target = PlantTarget("a.txt", local, saved_ - std::chrono::hours(5));
  EXPECT_EQ(restorer_.RestoreEntry(EntryOf("a.txt")), QVBC_RESTORE_LEFT_ALONE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(ReadAll(target), local);
  EXPECT_TRUE(Others(target.parent_path(), "a.txt").empty());  // no temporary file stays
  // Where nothing is, the file comes back.
  EXPECT_EQ(restorer_.RestoreEntry(EntryOf("big.bin")), TRUE) << GetLastError();
  EXPECT_EQ(ReadAll(Target("big.bin")), ReadAll(source_.path() / "big.bin"));
}

TEST_F(OverwriteTest, OlderReplacesOnlyAFileWrittenBeforeTheSavedOne) {
  ASSERT_TRUE(restorer_.SetOverwriteMode(QVBC_OVERWRITE_OLDER));
  const fs::path target = PlantTarget("a.txt", TextBytes(5), saved_ - std::chrono::minutes(1));
  EXPECT_EQ(restorer_.RestoreEntry(EntryOf("a.txt")), TRUE) << GetLastError();
  EXPECT_EQ(ReadAll(target), ReadAll(source_.path() / "a.txt"));

  const Bytes newer = TextBytes(7);
  PlantTarget("a.txt", newer, saved_ + std::chrono::minutes(1));
  EXPECT_EQ(restorer_.RestoreEntry(EntryOf("a.txt")), QVBC_RESTORE_LEFT_ALONE);
  EXPECT_EQ(ReadAll(target), newer);
  // The same time is not older.
  PlantTarget("a.txt", newer, saved_);
  EXPECT_EQ(restorer_.RestoreEntry(EntryOf("a.txt")), QVBC_RESTORE_LEFT_ALONE);
}

TEST_F(OverwriteTest, AFolderInTheWayIsKeptOrFailsTheFileButIsNeverRemoved) {
  const fs::path target = Target("a.txt");
  fs::create_directories(target / "inside");
  WriteAll(target / "inside" / "kept.txt", TextBytes(3));
  for (DWORD mode : {QVBC_OVERWRITE_NEVER, QVBC_OVERWRITE_OLDER}) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(restorer_.SetOverwriteMode(mode));
    EXPECT_EQ(restorer_.RestoreEntry(EntryOf("a.txt")), QVBC_RESTORE_LEFT_ALONE);
  }
  ASSERT_TRUE(restorer_.SetOverwriteMode(QVBC_OVERWRITE_ALWAYS));
  EXPECT_EQ(restorer_.RestoreEntry(EntryOf("a.txt")), FALSE);
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(ReadAll(target / "inside" / "kept.txt"), TextBytes(3));
  EXPECT_TRUE(Others(target.parent_path(), "a.txt").empty());
}

TEST_F(OverwriteTest, AnUnknownModeIsRefusedAndTheModeStays) {
  ASSERT_TRUE(restorer_.SetOverwriteMode(QVBC_OVERWRITE_OLDER));
  EXPECT_FALSE(restorer_.SetOverwriteMode(3));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(restorer_.GetOverwriteMode(), static_cast<DWORD>(QVBC_OVERWRITE_OLDER));
}

TEST_F(OverwriteTest, ExistingTargetIsSeenWhereTheRestoreWouldPutTheItem) {
  ULONGLONG size = 1;
  EXPECT_FALSE(restorer_.GetExistingTarget(EntryOf("a.txt"), &size, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(fs::exists(Target("a.txt").parent_path()));  // looking makes nothing
  PlantTarget("a.txt", TextBytes(77), saved_);
  FILETIME when = {0, 0};
  DWORD attributes = 0;
  ASSERT_TRUE(restorer_.GetExistingTarget(EntryOf("a.txt"), &size, &when, &attributes)) << GetLastError();
  EXPECT_EQ(size, 77u);
  EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(when.dwHighDateTime, 0u);
  EXPECT_FALSE(restorer_.GetExistingTarget(0, &size, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(OverwriteTest, OriginalPathsPutTheFileBackWhereItWasSaved) {
  const fs::path original = source_.path() / "a.txt";
  const Bytes saved = ReadAll(original);
  fs::remove(original);
  restorer_.SetOriginalPaths(TRUE);
  restorer_.SetOverwriteMode(QVBC_OVERWRITE_NEVER);
  EXPECT_EQ(restorer_.RestoreEntry(EntryOf("a.txt")), TRUE) << GetLastError();
  EXPECT_EQ(ReadAll(original), saved);
  EXPECT_FALSE(fs::exists(Target("a.txt")));
  // Edited since: left alone.
  WriteAll(original, TextBytes(4));
  EXPECT_EQ(restorer_.RestoreEntry(EntryOf("a.txt")), QVBC_RESTORE_LEFT_ALONE);
  EXPECT_EQ(ReadAll(original), TextBytes(4));
  EXPECT_TRUE(restorer_.FlushRestoredFiles()) << GetLastError();
}

TEST_F(OverwriteTest, BytesWrittenAreToldWhileALargeFileIsRestored) {
  ProgressLog log;
  restorer_.SetCallback(&log);
  ASSERT_EQ(restorer_.RestoreEntry(EntryOf("big.bin")), TRUE) << GetLastError();
  const ULONGLONG size = fs::file_size(source_.path() / "big.bin");
  ASSERT_GE(log.bytes.size(), 4u);
  for (std::size_t i = 1; i < log.bytes.size(); ++i) EXPECT_LT(log.bytes[i - 1], log.bytes[i]);
  EXPECT_EQ(log.bytes.front(), static_cast<ULONGLONG>(QVBF_CHUNK_SIZE));
  EXPECT_EQ(log.bytes.back(), size);
  // The next file counts from 0 again.
  log.bytes.clear();
  ASSERT_EQ(restorer_.RestoreEntry(EntryOf("a.txt")), TRUE);
  ASSERT_EQ(log.bytes.size(), 1u);
  EXPECT_EQ(log.bytes[0], 1000u);
}

}  // namespace
}  // namespace qvtest
