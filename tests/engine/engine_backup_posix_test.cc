// The backup run where drive letters are mapped to folders: the free space
// of a mapped drive, a backup of a drive other than C restored below its
// letter, and the shadow-copy service, which POSIX systems do not have.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/engine_backup_test_util.h"
#include "engine/engine_file_list_test_util.h"
#include "engine/engine_log_capture.h"
#include "platform/disk_space.h"
#include "qvbackup/host.h"
#include "services/qvvss.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

// Maps E to `root` for the test's lifetime.
class DriveE {
 public:
  explicit DriveE(const fs::path& root) { EXPECT_TRUE(QVSetDriveMapping(u'E', W(root.string()).c_str(), nullptr)); }
  ~DriveE() { QVSetDriveMapping(u'E', nullptr, nullptr); }
  DriveE(const DriveE&) = delete;
  DriveE& operator=(const DriveE&) = delete;
};

TEST(DiskSpacePosixTest, MappedDriveIsMeasuredOnItsFolderAndUnknownPlacesFail) {
  TempDir folder;
  DriveE drive(folder.path());
  qv::platform::DiskSpace space;
  ASSERT_TRUE(qv::platform::GetDiskSpace(QVT("E:\\"), &space)) << GetLastError();
  fs::space_info expected = fs::space(folder.path());
  EXPECT_EQ(space.totalBytes, expected.capacity);
  EXPECT_LE(space.freeBytes, space.totalBytes);
  EXPECT_GE(space.freeBytes, expected.available);  // all free bytes, not only the caller's
  EXPECT_FALSE(qv::platform::GetDiskSpace(QVT("E:\\missing\\"), &space));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(qv::platform::GetDiskSpace(QVT("Q:\\"), &space));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(BackupRunPosixTest, FilesOfAMappedDriveComeBackBelowTheirLetter) {
  CapturedLog log;
  TempDir source;
  TempDir destination;
  TempDir restored;
  DriveE drive(source.path());
  std::vector<fs::path> files = {source.WriteFile("a.txt", 3), source.WriteFile("docs/b.bin", 70000)};
  WriteAll(files[1], RandomBytes(70000, 3));
  BackupRecorder recorder;
  CQVBackupEngine engine(&recorder);
  engine.CreateFilters(QVT("all"), CQVString(QVT("E:\\")), QVT(""), QVFF_RECURSE, QVT("*"));
  engine.MakeFileList();
  ASSERT_EQ(engine.m_setFileToBackup.size(), files.size());
  ArchiveDescription archive(destination.DrivePath());
  engine.BackupControl(archive.get());
  EXPECT_EQ(recorder.codes.front(), static_cast<DWORD>(ENGINE_MSG_SCAN_BEGIN));
  EXPECT_EQ(recorder.Count(ENGINE_MSG_PROGRESS), static_cast<int>(recorder.codes.size()) - 1);
  engine.SetRestoreRoot(restored.DrivePath().c_str());
  engine.RestoreFile(archive.get());
  for (const fs::path& file : files) {
    fs::path back = restored.path() / "Kelvar_E" / fs::relative(file, source.path());
    EXPECT_EQ(ReadAll(back), ReadAll(file)) << back;
  }
  EXPECT_EQ(FilesBelow(restored.path()).size(), files.size());
}

TEST(ShadowCopyPosixTest, ServiceIsNotAvailableAndTheSystemVolumeMapsToNothing) {
  CQVVss* service = GetVSSInstance();
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(service, GetVSSInstance());
  EXPECT_FALSE(service->InitializeBackup());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_FALSE(service->GatherWriterMetadata());
  EXPECT_FALSE(service->CreateSnapshot(QVT("C:\\"), 1));
  EXPECT_EQ(service->GetLastErrorCode(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_FALSE(service->HasSnapshot());
  WCHAR buffer[260] = {};
  EXPECT_FALSE(service->GetSnapshotVolumePath(buffer, 260));
  EXPECT_FALSE(service->GetSnapshotVolumeRoot(buffer, 260));
  EXPECT_EQ(buffer[0], 0);

  CapturedLog log;
  CQVBackupEngine engine(nullptr);
  EXPECT_EQ(engine.ShadowCopy(), 0u);
  ASSERT_EQ(engine.m_mapShadowVolume.size(), 1u);
  EXPECT_TRUE(engine.m_mapShadowVolume[QVT("C:\\")].IsEmpty());
  std::vector<WString> lines = log.Body();
  EXPECT_EQ(LinesEndingWith(lines, "CQVBackupEngine::ShadowCopy : Shadow copy has not worked"), 1);
  EXPECT_EQ(LinesHolding(lines, "ShadowVolume obtained"), 0);
}

}  // namespace
}  // namespace qvtest
