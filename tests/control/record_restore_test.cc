// Restoring files from their record blocks alone, in an archive whose index
// cannot be loaded (its closing record damaged).
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <chrono>

#include "control/control_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

struct Block {
  ULONGLONG offset;
  DWORD length;  // the data length
};

bool HoldsAnyFile(const fs::path& folder) {
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    if (item.is_regular_file()) return true;
  }
  return false;
}

class RecordRestoreTest : public ::testing::Test {
 protected:
  // Saves `files` in order, uncompressed in 1000-byte blocks, then damages
  // the closing record so that the index cannot be loaded.
  void BackupWithoutIndex(const std::vector<fs::path>& files) {
    desc_.get()->dwBlockSize = 1000;
    desc_.get()->dwCompression = 0;
    CQVBackupControl control;
    ASSERT_TRUE(control.BeginBackup(desc_.get())) << GetLastError();
    for (const fs::path& file : files) ASSERT_TRUE(control.AddFileToArchive(DrivePathOf(file).c_str())) << file;
    ASSERT_TRUE(control.EndBackup()) << GetLastError();
    archive_ = ReadAll(archive());
    for (ULONGLONG at = QVS_HEADER_SIZE; at < archive_.size(); at += QVS_BLOCK_HEADER_SIZE + Dword(archive_, at)) {
      blocks_.push_back({at, Dword(archive_, at + 6)});
    }
    archive_[Qword(archive_, 181) + QVS_BLOCK_HEADER_SIZE] ^= 0x01;
    WriteAll(archive(), archive_);
  }

  // Opens the damaged archive in `restorer`, restoring below restored_.
  void Open(CQVBackupControl& restorer) {
    ASSERT_TRUE(restorer.GetStorage().OpenArchive(desc_.get())) << restorer.GetStorage().GetError();
    ASSERT_FALSE(restorer.LoadArchiveIndex());
    restorer.SetRestoreRoot(restored_.DrivePath().c_str());
  }

  // Replaces the payload of plain block `number` with `payload` (as long),
  // with its checksum.
  void Rewrite(std::size_t number, const Bytes& payload) {
    const ULONGLONG at = blocks_[number].offset;
    std::copy(payload.begin(), payload.end(), archive_.begin() + static_cast<std::ptrdiff_t>(at + QVS_BLOCK_HEADER_SIZE));
    const DWORD crc = static_cast<DWORD>(crc32(0, payload.data(), static_cast<uInt>(payload.size())));
    for (int i = 0; i < 4; ++i) archive_[at + 10 + i] = static_cast<BYTE>(crc >> (8 * i));
    WriteAll(archive(), archive_);
  }
  Bytes Payload(std::size_t number) {
    const auto from = archive_.begin() + static_cast<std::ptrdiff_t>(blocks_[number].offset + QVS_BLOCK_HEADER_SIZE);
    return Bytes(from, from + blocks_[number].length);
  }

  fs::path archive() const { return archives_.path() / "home.QVA"; }
  fs::path Restored(const fs::path& source) { return RestoredPath(restored_.path(), DrivePathOf(source)); }

  TempDir sources_, archives_, restored_;
  ArchiveDescription desc_{archives_.DrivePath()};
  Bytes archive_;
  std::vector<Block> blocks_;
};

// Blocks: 0 a's record, 1-3 its data (1000, 1000, 500); 4 e's record (an
// empty file); 5 m's record, 6-8 its data (three full blocks).
TEST_F(RecordRestoreTest, FilesComeBackByteForByteWithoutSavedTimesOrAttributes) {
  const fs::path a = sources_.WriteFile("a.txt", 2500);
  const fs::path e = sources_.WriteFile("e.txt", 0);
  const fs::path m = sources_.WriteFile("m.bin", 3000);
  const auto old = fs::last_write_time(a) - std::chrono::hours(24 * 365 * 10);
  fs::last_write_time(a, old);
  fs::permissions(m, fs::perms::owner_write, fs::perm_options::remove);
  BackupWithoutIndex({a, e, m});
  ASSERT_GE(blocks_.size(), 11u);
  ASSERT_EQ(blocks_[3].length, 500u);

  CQVBackupControl restorer;
  Open(restorer);
  EXPECT_TRUE(restorer.RestoreRecord(blocks_[0].offset, 2500)) << GetLastError();
  EXPECT_TRUE(restorer.RestoreRecord(blocks_[4].offset, 0)) << GetLastError();
  EXPECT_TRUE(restorer.RestoreRecord(blocks_[5].offset, 3000)) << GetLastError();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  restorer.EndRestore();
  for (const fs::path& file : {a, e, m}) EXPECT_EQ(ReadAll(Restored(file)), ReadAll(file)) << file;
  EXPECT_TRUE(fs::exists(Restored(e)));
  // The index held the saved time and the read-only attribute.
  EXPECT_GT(fs::last_write_time(Restored(a)), old + std::chrono::hours(24));
  EXPECT_NE(fs::status(Restored(m)).permissions() & fs::perms::owner_write, fs::perms::none);
  fs::permissions(m, fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(RecordRestoreTest, RefusesARecordPathLeavingTheRoot) {
  const fs::path a = sources_.WriteFile("up/a.txt", 2500);
  BackupWithoutIndex({a});
  Bytes record = Payload(0);
  const Bytes up = {'\\', 0, 'u', 0, 'p', 0, '\\', 0};
  auto at = std::search(record.begin(), record.end(), up.begin(), up.end());
  ASSERT_NE(at, record.end());
  at[2] = at[4] = '.';
  Rewrite(0, record);

  CQVBackupControl restorer;
  Open(restorer);
  EXPECT_FALSE(restorer.RestoreRecord(blocks_[0].offset, 2500));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_PATHNAME));
  restorer.EndRestore();
  EXPECT_FALSE(HoldsAnyFile(restored_.path()));
}

TEST_F(RecordRestoreTest, RefusesOffsetsThatHoldNoRecord) {
  const fs::path a = sources_.WriteFile("a.txt", 2500);
  BackupWithoutIndex({a});
  CQVBackupControl restorer;
  Open(restorer);
  EXPECT_FALSE(restorer.RestoreRecord(blocks_[1].offset, 1000));  // a data block
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_FALSE(restorer.RestoreRecord(blocks_[4].offset, 0));  // the index image
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_FALSE(restorer.RestoreRecord(blocks_[0].offset + 7, 2500));  // inside a block
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  restorer.EndRestore();
  EXPECT_FALSE(HoldsAnyFile(restored_.path()));
}

// Content that does not end where a block ends, or a damaged data block:
// the file fails and nothing is left, and an older file of that name stays.
TEST_F(RecordRestoreTest, FailureLeavesNoFileAndKeepsTheOlderOne) {
  const fs::path a = sources_.WriteFile("a.txt", 2500);
  const fs::path b = sources_.WriteFile("b.txt", 10);
  BackupWithoutIndex({a, b});
  {
    CQVBackupControl restorer;
    Open(restorer);
    EXPECT_FALSE(restorer.RestoreRecord(blocks_[0].offset, 2400));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_FALSE(restorer.RestoreRecord(blocks_[0].offset, 2510));  // into b's record
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    restorer.EndRestore();
  }
  EXPECT_FALSE(HoldsAnyFile(restored_.path()));

  const Bytes older = TextBytes(77);
  fs::create_directories(Restored(a).parent_path());
  WriteAll(Restored(a), older);
  archive_[blocks_[2].offset + QVS_BLOCK_HEADER_SIZE + 10] ^= 0x01;  // the checksum no longer matches
  WriteAll(archive(), archive_);
  CQVBackupControl restorer;
  Open(restorer);
  EXPECT_FALSE(restorer.RestoreRecord(blocks_[0].offset, 2500));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  restorer.EndRestore();
  EXPECT_EQ(ReadAll(Restored(a)), older);
  std::size_t files = 0;
  for (const auto& item : fs::recursive_directory_iterator(restored_.path())) files += item.is_regular_file();
  EXPECT_EQ(files, 1u);
}

}  // namespace
}  // namespace qvtest
