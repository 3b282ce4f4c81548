// Items copied from one member into another archive: the copy restores to
// the same bytes and times, under any password of its own, keeps the
// entries' flags, and damage in the source stops the item, never the
// archive.
#include <gtest/gtest.h>

#include <vector>

#include "control/control_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

class ItemCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    files_ = {sources_.WriteFile("docs/a.txt", 3000), sources_.WriteFile("docs/deep/b.bin", 300000),
              sources_.WriteFile("empty.txt", 0)};
    from_.password = W("source password");
    CQVBackupControl control;
    ASSERT_TRUE(control.BeginBackup(from_.get())) << GetLastError();
    for (const fs::path& file : files_) ASSERT_TRUE(control.AddFileToArchive(DrivePathOf(file).c_str()));
    ASSERT_TRUE(control.EndBackup()) << GetLastError();
  }
  void OpenSource(CQVBackupControl& source) {
    ASSERT_TRUE(source.GetStorage().OpenArchive(from_.get())) << source.GetStorage().GetError();
    ASSERT_TRUE(source.LoadArchiveIndex()) << GetLastError();
  }
  DWORD EntryOf(CQVBackupControl& control, const fs::path& file) {
    return control.GetIndex().Add(DrivePathOf(file).c_str(), nullptr, QVFA_ADD_LOOKUP);
  }

  TempDir sources_, archives_, copies_, restored_;
  ArchiveDescription from_{archives_.DrivePath()};
  ArchiveDescription to_{copies_.DrivePath()};
  std::vector<fs::path> files_;
};

TEST_F(ItemCopyTest, CopiedItemsRestoreAsTheSourceSavedThem) {
  to_.password = W("another password");
  CQVBackupControl source;
  OpenSource(source);
  CQVBackupControl writer;
  ASSERT_TRUE(writer.BeginBackup(to_.get()));
  std::vector<DWORD> copied;
  for (const fs::path& file : files_) {
    const DWORD entry = EntryOf(source, file);
    ASSERT_NE(entry, 0u);
    copied.push_back(writer.CopySavedItem(source, entry));
    ASSERT_NE(copied.back(), 0u) << GetLastError();
  }
  // The same path again is the same entry, not a second copy of it.
  EXPECT_EQ(writer.GetIndex().GetPathName(copied[0]), source.GetIndex().GetPathName(EntryOf(source, files_[0])));
  // A folder known only from below holds nothing to copy.
  const DWORD folder = EntryOf(source, files_[1].parent_path());
  EXPECT_EQ(writer.CopySavedItem(source, folder), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ASSERT_TRUE(writer.EndBackup()) << GetLastError();
  RestoreAll(to_, restored_);
  for (const fs::path& file : files_) {
    const fs::path back = RestoredPath(restored_.path(), DrivePathOf(file));
    ASSERT_TRUE(fs::exists(back)) << back;
    EXPECT_EQ(ReadAll(back), ReadAll(file)) << file;
    EXPECT_EQ(fs::last_write_time(back), fs::last_write_time(file)) << file;
  }
}

TEST_F(ItemCopyTest, DamagedSourceBlockFailsTheItemAndTheArchiveStillEnds) {
  // One byte of the big file's content flipped on disk.
  CQVBackupControl probe;
  OpenSource(probe);
  DWORD size = 0;
  const BYTE* data = static_cast<const BYTE*>(probe.GetIndex().GetUserData(EntryOf(probe, files_[1]), &size));
  ASSERT_NE(data, nullptr);
  const ULONGLONG record = Qword(Bytes(data, data + size), 8);
  ASSERT_TRUE(probe.GetStorage().AbandonArchive());
  const fs::path volume = archives_.path() / "home.QVA";
  Bytes bytes = ReadAll(volume);
  ASSERT_GT(bytes.size(), record + 2000);
  bytes[record + 1500] ^= 0x5A;
  WriteAll(volume, bytes);

  CQVBackupControl source;
  OpenSource(source);
  CQVBackupControl writer;
  ASSERT_TRUE(writer.BeginBackup(to_.get()));
  EXPECT_NE(writer.CopySavedItem(source, EntryOf(source, files_[0])), 0u);
  EXPECT_EQ(writer.CopySavedItem(source, EntryOf(source, files_[1])), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_NE(writer.CopySavedItem(source, EntryOf(source, files_[2])), 0u);
  ASSERT_TRUE(writer.EndBackup()) << GetLastError();
  RestoreAll(to_, restored_);
  EXPECT_EQ(ReadAll(RestoredPath(restored_.path(), DrivePathOf(files_[0]))), ReadAll(files_[0]));
  EXPECT_FALSE(fs::exists(RestoredPath(restored_.path(), DrivePathOf(files_[1]))));
  EXPECT_TRUE(fs::exists(RestoredPath(restored_.path(), DrivePathOf(files_[2]))));
}

}  // namespace
}  // namespace qvtest
