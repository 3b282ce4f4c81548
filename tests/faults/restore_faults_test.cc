// Restores on a failing disk: a volume that is missing or cannot be opened
// or read, and a destination that fills up.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>

#include "engine/engine_backup_test_util.h"
#include "faults/faults_test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace qvtest;

// What the container asked when a volume did not open, and what to answer.
struct VolumeAsker {
  std::vector<ULONGLONG> volumes;
  std::string lastPath;
  WString replacement;  // empty: give up

  static LONGLONG Answer(DWORD code, ULONGLONG user, ULONGLONG volume, LONGLONG buffer) {
    auto* self = reinterpret_cast<VolumeAsker*>(static_cast<std::uintptr_t>(user));
    if (code != QVS_PROGRESS_VOLUME_MISSING) return 0;
    auto* path = reinterpret_cast<WCHAR*>(static_cast<std::uintptr_t>(buffer));
    self->volumes.push_back(volume);
    self->lastPath = U8(path);
    if (self->replacement.empty()) return ERROR_CANCELLED;
    std::memcpy(path, self->replacement.c_str(), (self->replacement.size() + 1) * sizeof(WCHAR));
    return 0;
  }
};

class RestoreFaultsTest : public ::testing::Test {
 protected:
  // Six volumes: b.bin spans volumes 1 to 4, d.bin 4 to 6, the index
  // lies in the last.
  RestoreFaultsTest() : archive_(destination_.DrivePath()) {
    files_ = WriteTree(source_);
    archive_.info.dwBlockSize = 1000;
    archive_.info.ullVolumeSize = 6000;
    CQVBackupControl control;
    EXPECT_TRUE(control.BeginBackup(archive_.get()));
    for (const fs::path& file : files_) EXPECT_TRUE(control.AddFileToArchive(DrivePathOf(file).c_str()));
    EXPECT_TRUE(control.EndBackup());
  }

  fs::path Volume(int number) const { return destination_.path() / ("home." + std::to_string(number) + ".QVA"); }

  // No half-written temporary file is left anywhere below `root`.
  static void ExpectOnlyWholeFiles(const fs::path& root) {
    for (const fs::path& file : FilesBelow(root)) EXPECT_NE(file.filename().string().rfind("~qv", 0), 0u) << file;
  }

  TempDir source_;
  TempDir destination_;
  ArchiveDescription archive_;
  std::vector<fs::path> files_;
};

// Volume 3, gone or refused: the host is asked for it (code 2, with the
// volume index and the path that failed); giving up fails that file
// alone, pointing at a copy elsewhere restores everything.
TEST_F(RestoreFaultsTest, MissingOrRefusedVolumeAsksTheHost) {
  ASSERT_TRUE(fs::exists(Volume(6)));
  TempDir elsewhere;
  const fs::path moved = elsewhere.path() / "spare.QVA";
  for (bool missing : {true, false}) {
    SCOPED_TRACE(missing);
    FaultPlan plan;
    if (missing) {
      fs::rename(Volume(3), moved);
    } else {
      plan.Fail(FaultOp::kOpen, W("home.3.QVA"), ERROR_ACCESS_DENIED, 1, 0);
    }
    ScopedFaultInjection guard(plan);
    VolumeAsker giveUp;
    TempDir restored;
    std::map<std::string, DWORD> results = RestoreEach(archive_, restored, &VolumeAsker::Answer,
                                                       reinterpret_cast<std::uintptr_t>(&giveUp));
    EXPECT_EQ(results, (std::map<std::string, DWORD>{{"a.txt", 0}, {"b.bin", ERROR_CANCELLED}, {"c.txt", 0}, {"d.bin", 0}}));
    ASSERT_FALSE(giveUp.volumes.empty());
    EXPECT_EQ(giveUp.volumes.front(), 2u);
    EXPECT_EQ(giveUp.lastPath, U8(DrivePathOf(Volume(3))));
    ExpectRestored(restored.path(), {files_[0], files_[2], files_[3]});
    ExpectOnlyWholeFiles(restored.path());

    if (!missing) fs::copy_file(Volume(3), moved);
    VolumeAsker pointer;
    pointer.replacement = DrivePathOf(moved);
    TempDir all;
    RestoreEach(archive_, all, &VolumeAsker::Answer, reinterpret_cast<std::uintptr_t>(&pointer));
    EXPECT_EQ(pointer.volumes, std::vector<ULONGLONG>{2});
    ExpectRestored(all.path(), files_);
    if (missing) {
      fs::rename(moved, Volume(3));
    } else {
      fs::remove(moved);
    }
  }
}

// Volume 5 opens but cannot be read: the file in it fails with the read
// error, the others come back.
TEST_F(RestoreFaultsTest, UnreadableVolumeFailsOnlyTheFilesInIt) {
  FaultPlan plan;
  plan.Fail(FaultOp::kRead, W("home.5.QVA"), ERROR_CRC, 1, 0);
  ScopedFaultInjection guard(plan);
  TempDir restored;
  std::map<std::string, DWORD> results = RestoreEach(archive_, restored);
  EXPECT_EQ(results, (std::map<std::string, DWORD>{{"a.txt", 0}, {"b.bin", 0}, {"c.txt", 0}, {"d.bin", ERROR_CRC}}));
  ExpectRestored(restored.path(), {files_[0], files_[1], files_[2]});
}

// The restore folder fills up during c.txt: a.txt and b.bin stay whole, an
// older c.txt already there is left as it was, d.bin is not begun, and no
// temporary file stays behind.
TEST_F(RestoreFaultsTest, DestinationFillingUpKeepsWhatWasRestored) {
  TempDir restored;
  const fs::path oldC = RestoredPath(restored.path(), DrivePathOf(files_[2]));
  fs::create_directories(oldC.parent_path());
  WriteAll(oldC, TextBytes(12));
  FaultPlan plan;
  plan.LimitWrites(5000 + 20000 + 100, restored.DrivePath());
  ScopedFaultInjection guard(plan);
  std::map<std::string, DWORD> results = RestoreEach(archive_, restored);
  EXPECT_EQ(results, (std::map<std::string, DWORD>{
                         {"a.txt", 0}, {"b.bin", 0}, {"c.txt", ERROR_DISK_FULL}, {"d.bin", ERROR_DISK_FULL}}));
  EXPECT_EQ(ReadAll(RestoredPath(restored.path(), DrivePathOf(files_[0]))), ReadAll(files_[0]));
  EXPECT_EQ(ReadAll(RestoredPath(restored.path(), DrivePathOf(files_[1]))), ReadAll(files_[1]));
  EXPECT_EQ(ReadAll(oldC), TextBytes(12));
  EXPECT_FALSE(fs::exists(RestoredPath(restored.path(), DrivePathOf(files_[3]))));
  ExpectOnlyWholeFiles(restored.path());
}

// A restored file is synced before it takes its name, and the folders that
// received files are synced before the restore ends.
TEST_F(RestoreFaultsTest, RestoredFilesAreSyncedBeforeTheirRenameAndTheirFoldersAfter) {
  TempDir root;
  FaultPlan plan;
  plan.Record();
  {
    ScopedFaultInjection guard(plan);
    RestoreAll(archive_, root);
  }
  const std::vector<FaultCall> calls = plan.Calls();
  int renamed = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].op != FaultOp::kRename || calls[i].path.find(W("~qv")) == WString::npos) continue;
    ++renamed;
    bool synced = false;
    for (std::size_t j = 0; j < i; ++j) synced = synced || (calls[j].op == FaultOp::kSync && calls[j].path == calls[i].path);
    EXPECT_TRUE(synced) << U8(calls[i].path);
    const WString folder = calls[i].target.substr(0, calls[i].target.rfind(u'\\'));
    bool folderSynced = false;
    for (std::size_t j = i + 1; j < calls.size(); ++j) {
      folderSynced = folderSynced || (calls[j].op == FaultOp::kSync && calls[j].path == folder);
    }
    EXPECT_TRUE(folderSynced) << U8(folder);
  }
  EXPECT_EQ(renamed, static_cast<int>(files_.size()));
  ExpectRestored(root.path(), files_);
}

// The cancel word stops a restore inside a file: that file's temporary
// copy is removed, the files restored before it stay whole, the rest are
// not tried.
TEST_F(RestoreFaultsTest, CancelledRestoreRemovesTheFileBeingWrittenAndKeepsTheOthers) {
  TempDir root;
  volatile BOOL cancel = FALSE;
  MessageLog messages;
  CQVBackupControl restorer(&messages);
  ASSERT_TRUE(restorer.GetStorage().OpenArchive(archive_.get()));
  ASSERT_TRUE(restorer.LoadArchiveIndex());
  restorer.SetRestoreRoot(root.DrivePath().c_str());
  restorer.SetCancelFlag(&cancel);
  FaultPlan plan;
  plan.Record();
  BOOL restored = TRUE;
  {
    ScopedFaultInjection guard(plan);
    // The first file restored, then the cancel word raised for the second.
    CQVFileArray& index = restorer.GetIndex();
    std::vector<DWORD> entries;
    DWORD entry = 0;
    HANDLE search = index.FindFirstFileW(entry, nullptr);
    ASSERT_NE(search, nullptr);
    do {
      if (!index.IsDirectory(entry)) entries.push_back(entry);
    } while (index.FindNextFileW(search, entry));
    index.FindClose(search);
    ASSERT_TRUE(restorer.RestoreEntry(entries[0]));
    cancel = TRUE;
    EXPECT_FALSE(restorer.RestoreEntry(entries[1]));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
    restored = restorer.RestoreAllFiles();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
  }
  EXPECT_FALSE(restored);
  EXPECT_EQ(messages.codes.back(), static_cast<DWORD>(ENGINE_MSG_CANCELLED));
  ExpectOnlyWholeFiles(root.path());
  const std::vector<fs::path> left = FilesBelow(root.path());
  ASSERT_EQ(left.size(), 1u);
  for (const fs::path& file : files_) {
    if (file.filename() == left[0].filename()) {
      EXPECT_EQ(ReadAll(left[0]), ReadAll(file));
    }
  }
  bool createdTemporary = false;
  for (const FaultCall& call : plan.Calls()) {
    createdTemporary = createdTemporary || (call.op == FaultOp::kOpen && call.path.find(W("~qv")) != WString::npos);
  }
  EXPECT_TRUE(createdTemporary);
  restorer.EndRestore();
}

}  // namespace

