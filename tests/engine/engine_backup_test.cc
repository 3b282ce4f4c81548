// The backup run: the destination's room, the messages a run sends and the
// lines it logs, cancelling, and backups restored byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "engine/engine_backup_test_util.h"
#include "engine/engine_file_list_test_util.h"
#include "engine/engine_log_capture.h"
#include "platform/disk_space.h"
#include "services/qvvss.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

class CheckFreeSpaceTest : public ::testing::Test {
 protected:
  CapturedLog log_;
  CQVBackupEngine engine_{nullptr};
};

TEST_F(CheckFreeSpaceTest, ExactlyTheFreeBytesAreEnoughAndOneMoreIsNot) {
  FakeVolume volume(1000);
  EXPECT_TRUE(engine_.CheckFreeSpace(QVT("E:\\Backups"), 1000));
  EXPECT_FALSE(engine_.CheckFreeSpace(QVT("E:\\Backups"), 1001));
  // A fixed drive is measured at its root.
  EXPECT_EQ(volume.Asked(), (std::vector<WString>{W("E:\\"), W("E:\\")}));
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "ENTER CQVArchive::CheckFreeSpace(CQVString strTemp : E:\\Backups, "
                                   "__int64 BackupSize : 1000)"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "Drive NON CDROM"), 2);
  EXPECT_EQ(LinesEndingWith(lines, ": enough space on drive destination"), 1);
  EXPECT_EQ(LinesEndingWith(lines, ": Not enough space on drive destination"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "RETURNED 1"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "RETURNED 0"), 1);
}

TEST_F(CheckFreeSpaceTest, CdRomIsMeasuredAtTheFolderItself) {
  FakeVolume volume(700, qv::platform::kDriveTypeCdRom);
  EXPECT_TRUE(engine_.CheckFreeSpace(QVT("E:\\Backups"), 700));
  EXPECT_EQ(volume.Asked(), std::vector<WString>{W("E:\\Backups\\")});
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "Total space 4796"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "Free space 700"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "Drive NON CDROM"), 0);
}

TEST_F(CheckFreeSpaceTest, ShareIsMeasuredAsItIsAndHugeVolumesAreNeverShort) {
  // More free bytes than a signed figure holds still means "room".
  FakeVolume volume(std::numeric_limits<ULONGLONG>::max() - 4096);
  EXPECT_TRUE(engine_.CheckFreeSpace(QVT("\\\\server\\share"), std::numeric_limits<LONGLONG>::max()));
  EXPECT_EQ(volume.Asked(), std::vector<WString>{W("\\\\server\\share\\")});
}

TEST_F(CheckFreeSpaceTest, UnansweredQueryLetsTheBackupGoOn) {
  FakeVolume volume(0);
  volume.FailWith(ERROR_NOT_READY);
  EXPECT_TRUE(engine_.CheckFreeSpace(QVT("E:\\Backups"), 1));
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesHolding(lines, "ERROR : Free space of E:\\Backups\\ unknown, the backup goes on"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "RETURNED 1"), 1);
}

TEST_F(CheckFreeSpaceTest, RealFolderHasRoomForNothingButNotForEightExbibytes) {
  TempDir destination;
  EXPECT_TRUE(engine_.CheckFreeSpace(destination.DrivePath().c_str(), 0));
  EXPECT_FALSE(engine_.CheckFreeSpace(destination.DrivePath().c_str(), std::numeric_limits<LONGLONG>::max()));
  qv::platform::DiskSpace space;
  ASSERT_TRUE(qv::platform::GetDiskSpace((destination.DrivePath() + W("\\")).c_str(), &space)) << GetLastError();
  EXPECT_GT(space.totalBytes, 0u);
  EXPECT_LE(space.freeBytes, space.totalBytes);
  EXPECT_FALSE(qv::platform::GetDiskSpace((destination.DrivePath() + W("\\missing\\")).c_str(), &space));
  EXPECT_NE(GetLastError(), 0u);
}

// A run over files in source_ into an archive in destination_.
class BackupRunTest : public ::testing::Test {
 protected:
  BackupRunTest() : engine_(&recorder_), archive_(destination_.DrivePath()) {
    recorder_.engine = &engine_;
    archive_.password = W("secret");
  }

  // Writes the files and lists them in the engine, in list order.
  std::vector<fs::path> ListFiles(const std::vector<std::pair<std::string, std::size_t>>& files) {
    std::vector<fs::path> written;
    for (const auto& [name, size] : files) {
      written.push_back(source_.WriteFile(name, size));
      EXPECT_EQ(engine_.InsertElement(DrivePathOf(written.back()).c_str()), 0u);
    }
    engine_.SizeOfBackup();
    return written;
  }

  std::vector<WString> Lines() const { return log_.Body(); }

  CapturedLog log_;
  TempDir source_;
  TempDir destination_;
  TempDir restored_;
  BackupRecorder recorder_;
  CQVBackupEngine engine_;
  ArchiveDescription archive_;
};

TEST_F(BackupRunTest, EmptyListIsReportedBeforeMissingRoom) {
  FakeVolume volume(0);
  engine_.m_i64SizeOfBackup = 10;
  EXPECT_EQ(engine_.BackupControl(archive_.get()), 0u);
  EXPECT_EQ(recorder_.codes, std::vector<DWORD>{ENGINE_MSG_NO_FILES});
  std::vector<WString> lines = Lines();
  // The room is still measured and logged before the list is found empty.
  EXPECT_TRUE(EachOnceInOrder(lines, {": Not enough space on drive destination", ": No Files to Backup send message"}));
  EXPECT_EQ(LinesEndingWith(lines, "Size of file list 0"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "Destination has not enough space"), 0);
  EXPECT_EQ(LinesEndingWith(lines, "RETURNED CQVBackupEngine::TestBackupControl ()"), 1);
  EXPECT_TRUE(FilesBelow(destination_.path()).empty());
}

TEST_F(BackupRunTest, MissingRoomSendsNoSpaceAndWritesNothing) {
  ListFiles({{"a.txt", 1001}});
  FakeVolume volume(1000);
  engine_.BackupControl(archive_.get());
  EXPECT_EQ(recorder_.codes, std::vector<DWORD>{ENGINE_MSG_NO_SPACE});
  std::vector<WString> lines = Lines();
  EXPECT_TRUE(EachOnceInOrder(lines, {": Not enough space on drive destination", ": Destination has not enough space"}));
  EXPECT_TRUE(FilesBelow(destination_.path()).empty());
}

TEST_F(BackupRunTest, ArchiveThatCannotBeCreatedSendsCreateFailed) {
  ListFiles({{"a.txt", 10}});
  // No such folder; and no description at all.
  archive_.folder = destination_.DrivePath() + W("\\missing");
  engine_.BackupControl(archive_.get());
  engine_.BackupControl(nullptr);
  EXPECT_EQ(recorder_.codes, (std::vector<DWORD>{ENGINE_MSG_CREATE_FAILED, ENGINE_MSG_CREATE_FAILED}));
  std::vector<WString> lines = Lines();
  EXPECT_EQ(LinesHolding(lines, "ERROR : CREATE OF BACKUP FAILED ! : "), 2);
  EXPECT_EQ(LinesEndingWith(lines, "m_qvbc.m_Archivename=home"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "m_qvbc.dwEncryptionKeySize=256"), 1);
  EXPECT_EQ(LinesHolding(lines, "secret"), 0);
  EXPECT_TRUE(FilesBelow(destination_.path()).empty());
}

TEST_F(BackupRunTest, VanishedFileIsLoggedAndTheOthersAreSaved) {
  std::vector<fs::path> files = ListFiles({{"a.txt", 5000}, {"b.txt", 300}, {"c.txt", 12}});
  fs::remove(files[1]);
  engine_.BackupControl(archive_.get());
  for (DWORD code : recorder_.codes) EXPECT_EQ(code, static_cast<DWORD>(ENGINE_MSG_PROGRESS));
  EXPECT_EQ(LinesEndingWith(Lines(), ": File " + U8(DrivePathOf(files[1])) + " missing on disk"), 1);
  engine_.SetRestoreRoot(restored_.DrivePath().c_str());
  engine_.RestoreFile(archive_.get());
  ExpectRestored(restored_.path(), {files[0], files[2]});
}

TEST_F(BackupRunTest, CancelDuringAFileGivesTheArchiveUp) {
  // The first file comes in two chunks; the control looks at the cancel
  // word before the second.
  std::vector<fs::path> files = ListFiles({{"a.bin", QVBF_CHUNK_SIZE + 10}, {"b.bin", 3 * 4096}});
  recorder_.cancelAtProgress = 1;
  engine_.BackupControl(archive_.get());
  ASSERT_EQ(recorder_.Count(ENGINE_MSG_CANCELLED), 1);
  EXPECT_EQ(recorder_.codes.back(), static_cast<DWORD>(ENGINE_MSG_CANCELLED));
  std::vector<WString> lines = Lines();
  // The control gave the archive up: it is never finished, by it or by the
  // engine.
  EXPECT_EQ(LinesEndingWith(lines, "ENTER CQVBackupControl::EndBackup()"), 0);
  EXPECT_EQ(LinesEndingWith(lines, "bCancel = TRUE Cancelling"), 1);
  // The second file is not tried against the closed archive.
  EXPECT_EQ(LinesHolding(lines, "Echec of BackupFile"), 1);
  EXPECT_EQ(LinesHolding(lines, U8(DrivePathOf(files[0])) + "()  Echec of BackupFile"), 1);
  EXPECT_TRUE(FilesBelow(destination_.path()).empty());
  EXPECT_TRUE(engine_.m_bCancel);  // never reset by the engine
}

TEST_F(BackupRunTest, CancelAfterTheLastBlockStillGivesTheArchiveUp) {
  ListFiles({{"only.txt", 100}});
  recorder_.cancelAtProgress = 1;
  engine_.BackupControl(archive_.get());
  EXPECT_EQ(recorder_.codes, (std::vector<DWORD>{ENGINE_MSG_PROGRESS, ENGINE_MSG_CANCELLED}));
  EXPECT_EQ(LinesEndingWith(Lines(), "ENTER CQVBackupControl::EndBackup()"), 0);
  EXPECT_TRUE(FilesBelow(destination_.path()).empty());
}

// A cancelled run over an earlier archive of the same name leaves it as it
// was, and it still restores.
TEST_F(BackupRunTest, CancelledRunKeepsTheEarlierArchive) {
  std::vector<fs::path> files = ListFiles({{"a.bin", QVBF_CHUNK_SIZE + 10}, {"b.bin", 3 * 4096}});
  engine_.BackupControl(archive_.get());
  ASSERT_EQ(recorder_.Count(ENGINE_MSG_CANCELLED), 0);
  const std::vector<fs::path> before = FilesBelow(destination_.path());
  ASSERT_EQ(before.size(), 1u);
  const Bytes earlier = ReadAll(before[0]);
  recorder_.codes.clear();
  recorder_.percentages.clear();
  recorder_.cancelAtProgress = 1;
  engine_.BackupControl(archive_.get());
  ASSERT_EQ(recorder_.Count(ENGINE_MSG_CANCELLED), 1);
  EXPECT_EQ(FilesBelow(destination_.path()), before);
  EXPECT_EQ(ReadAll(before[0]), earlier);
  engine_.m_bCancel = FALSE;
  engine_.SetRestoreRoot(restored_.DrivePath().c_str());
  engine_.RestoreFile(archive_.get());
  for (const fs::path& file : files) EXPECT_EQ(ReadAll(RestoredFile(restored_.path(), DrivePathOf(file))), ReadAll(file));
}

TEST_F(BackupRunTest, FolderTreeComesBackByteForByteBelowTheRestoreRoot) {
  std::vector<fs::path> files = {
      source_.WriteFile("top.txt", 1),        source_.WriteFile("docs/empty.txt", 0),
      source_.WriteFile("docs/big.bin", 9000), source_.WriteFile("docs/deep/er/n\xC3\xA9.txt", 4096),
  };
  WriteAll(files[2], RandomBytes(9000, 7));
  engine_.CreateFilters(QVT("all"), CQVString(source_.DrivePath().c_str()), QVT(""), QVFF_RECURSE, QVT("*"));
  engine_.MakeFileList();
  ASSERT_EQ(engine_.m_setFileToBackup.size(), files.size());
  engine_.BackupControl(archive_.get());
  EXPECT_EQ(recorder_.codes.front(), static_cast<DWORD>(ENGINE_MSG_SCAN_BEGIN));
  EXPECT_EQ(recorder_.Count(ENGINE_MSG_PROGRESS), static_cast<int>(recorder_.codes.size()) - 1);
  ASSERT_FALSE(recorder_.percentages.empty());
  EXPECT_TRUE(std::is_sorted(recorder_.percentages.begin(), recorder_.percentages.end()));
  EXPECT_EQ(recorder_.percentages.back(), 100u);
  EXPECT_EQ(LinesEndingWith(Lines(), "m_qvbc.m_ArchivePath=" + U8(destination_.DrivePath())), 1);

  CQVBackupEngine restorer(nullptr);
  restorer.SetRestoreRoot(restored_.DrivePath().c_str());
  EXPECT_EQ(restorer.RestoreFile(archive_.get()), 0u);
  ExpectRestored(restored_.path(), files);

  // A wrong password opens nothing: the index the control still holds from
  // the first archive is not walked, and what is on disk stays as it is.
  fs::path first = RestoredFile(restored_.path(), DrivePathOf(files[0]));
  WriteAll(first, TextBytes(3));
  archive_.password = W("wrong");
  restorer.RestoreFile(archive_.get());
  EXPECT_EQ(ReadAll(first), TextBytes(3));
  std::vector<WString> lines = Lines();
  EXPECT_EQ(LinesHolding(lines, "ERROR : CQVBackupEngine::RestoreFile : the archive cannot be opened"), 1);
  EXPECT_EQ(LinesHolding(lines, ": Restoring file "), static_cast<int>(files.size()));
}

TEST(ShadowCopyTest, LeavesOneEntryForTheSystemVolume) {
  CapturedLog log;
  CQVBackupEngine engine(nullptr);
  engine.m_mapShadowVolume[QVT("D:\\")] = QVT("stale");
  EXPECT_EQ(engine.ShadowCopy(), 0u);
  ASSERT_EQ(engine.m_mapShadowVolume.size(), 1u);
  ASSERT_EQ(engine.m_mapShadowVolume.count(QVT("C:\\")), 1u);
  WString shadow(engine.m_mapShadowVolume[QVT("C:\\")]);
  std::vector<WString> lines = log.Body();
  // Where the system makes snapshots the entry is the snapshot's path and a
  // backslash; elsewhere it is empty and the log says so.
  if (LinesEndingWith(lines, ": Shadow copy has not worked") == 1) {
    EXPECT_TRUE(shadow.empty());
  } else {
    ASSERT_FALSE(shadow.empty());
    EXPECT_EQ(LinesEndingWith(lines, "ShadowVolume obtained " + U8(shadow.substr(0, shadow.size() - 1))), 1);
    EXPECT_EQ(shadow.back(), QVT('\\'));
    GetVSSInstance()->ReleaseSnapshot();
  }
  EXPECT_EQ(LinesEndingWith(lines, "ENTER CQVBackupEngine::ShadowCopy"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "RETURNED 0"), 1);
}

}  // namespace
}  // namespace qvtest
