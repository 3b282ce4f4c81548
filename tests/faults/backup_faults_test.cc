// Backups on a failing disk: a destination that fills up, writes that fail
// in the index or the closing record, a source file that cannot be read,
// and files that change between listing and saving.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "engine/engine_backup_test_util.h"
#include "engine/engine_log_capture.h"
#include "faults/faults_test_util.h"
#include "qvbackup/qvarchivelayout.h"

namespace {

namespace fs = std::filesystem;
using namespace qvtest;

class BackupFaultsTest : public ::testing::Test {
 protected:
  BackupFaultsTest() : archive_(destination_.DrivePath()) {
    archive_.password = W("fault pw");
    files_ = WriteTree(source_);
    before_ = Snapshot(source_.path());
  }

  // Runs the engine's backup of the whole tree, with `plan` installed when
  // given; returns the messages it sent.
  std::vector<DWORD> RunBackup(FaultPlan* plan) {
    BackupRecorder recorder;
    CQVBackupEngine engine(&recorder);
    for (const fs::path& file : files_) engine.InsertElement(DrivePathOf(file).c_str());
    engine.SizeOfBackup();
    if (plan != nullptr) {
      ScopedFaultInjection guard(*plan);
      engine.BackupControl(archive_.get());
    } else {
      engine.BackupControl(archive_.get());
    }
    return recorder.codes;
  }

  // The kinds of the archive's blocks, in stream order (one volume, no
  // program in front).
  std::vector<WORD> BlockKinds() const {
    const std::vector<fs::path> volumes = FilesBelow(destination_.path());
    EXPECT_EQ(volumes.size(), 1u);
    const Bytes stream = volumes.empty() ? Bytes() : ReadAll(volumes[0]);
    std::vector<WORD> kinds;
    for (std::size_t at = qvlayout::header::kSize; at + qvlayout::block::kSize <= stream.size();) {
      kinds.push_back(qvlayout::GetWord(stream.data(), static_cast<DWORD>(at + qvlayout::block::kKind)) &
                      qvlayout::block::kKindMask);
      at += qvlayout::block::kSize + qvlayout::GetDword(stream.data(), static_cast<DWORD>(at));
    }
    return kinds;
  }

  ULONGLONG ArchiveBytes() const {
    ULONGLONG total = 0;
    for (const fs::path& file : FilesBelow(destination_.path())) total += fs::file_size(file);
    return total;
  }

  TempDir source_;
  TempDir destination_;
  TempDir restored_;
  ArchiveDescription archive_;
  std::vector<fs::path> files_;
  std::map<std::string, Bytes> before_;
};

// The disk fills up at every stage of the archive: the header, a record,
// the data, the index, the closing record, the header rewritten at the
// end. The host hears of the failure, nothing of the new archive is left,
// the archive it would have replaced is byte for byte as it was, the source
// is untouched, and the engine can back up again.
TEST_F(BackupFaultsTest, DestinationFillingUpFailsTheRunAndKeepsThePreviousArchive) {
  archive_.info.dwBlockSize = 1000;
  RunBackup(nullptr);
  const std::vector<fs::path> kept = FilesBelow(destination_.path());
  ASSERT_EQ(kept.size(), 1u);
  Bytes previous = ReadAll(kept[0]);
  const ULONGLONG full = previous.size();
  ASSERT_GT(full, 30000u);
  const auto expectFailedAndKept = [&](FaultPlan& plan) {
    std::vector<DWORD> codes = RunBackup(&plan);
    EXPECT_GE(plan.Injected(), 1u);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), ENGINE_MSG_CREATE_FAILED), 1);
    EXPECT_EQ(FilesBelow(destination_.path()), kept);
    EXPECT_EQ(ReadAll(kept[0]), previous);
    EXPECT_EQ(Snapshot(source_.path()), before_);
  };
  // By bytes, up to well inside the index.
  for (ULONGLONG budget : {ULONGLONG{0}, ULONGLONG{100}, ULONGLONG{300}, full / 4, full / 2, full - 1500}) {
    SCOPED_TRACE(budget);
    FaultPlan plan;
    plan.LimitWrites(budget, destination_.DrivePath());
    expectFailedAndKept(plan);
  }
  // The last writes by their number: their place in bytes moves by a byte
  // with the folder times the index holds (other programs touch the temp
  // folder), their number does not. Counted on a whole run first.
  FaultPlan counter;
  counter.Record();
  std::vector<DWORD> codes = RunBackup(&counter);
  ASSERT_EQ(std::count(codes.begin(), codes.end(), ENGINE_MSG_CREATE_FAILED), 0);
  const std::vector<FaultCall> calls = counter.Calls();
  const auto writes = static_cast<ULONGLONG>(std::count_if(calls.begin(), calls.end(), [&](const FaultCall& call) {
    return call.op == FaultOp::kWrite && call.path.find(destination_.DrivePath()) == 0;
  }));
  ASSERT_GT(writes, 10u);
  previous = ReadAll(kept[0]);
  for (ULONGLONG back : {0, 1, 2, 3}) {
    SCOPED_TRACE(back);
    FaultPlan plan;
    plan.Fail(FaultOp::kWrite, destination_.DrivePath(), ERROR_DISK_FULL, writes - back);
    expectFailedAndKept(plan);
  }
  FaultPlan roomy;
  roomy.LimitWrites(full + 4096, destination_.DrivePath());
  codes = RunBackup(&roomy);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), ENGINE_MSG_CREATE_FAILED), 0);
  EXPECT_EQ(roomy.Injected(), 0u);
  RestoreAll(archive_, restored_);
  ExpectRestored(restored_.path(), files_);
}

// A sync that fails (the disk reports an error when data is to reach it)
// fails the run like a failed write: nothing new is left, the previous
// archive stays. Each sync of the run in turn, from the first volume's to
// the folder's once the archive is in place.
TEST_F(BackupFaultsTest, FailingSyncFailsTheRunAndKeepsThePreviousArchive) {
  archive_.info.dwBlockSize = 1000;
  archive_.info.ullVolumeSize = 8000;
  RunBackup(nullptr);
  std::vector<fs::path> kept = FilesBelow(destination_.path());
  ASSERT_GT(kept.size(), 2u);
  std::map<fs::path, Bytes> previous;
  for (const fs::path& file : kept) previous[file] = ReadAll(file);
  int failedRuns = 0;
  for (ULONGLONG nth = 1;; ++nth) {
    SCOPED_TRACE(nth);
    ASSERT_LT(nth, 40u);
    FaultPlan plan;
    plan.Fail(FaultOp::kSync, destination_.DrivePath(), ERROR_IO_DEVICE, nth);
    std::vector<DWORD> codes = RunBackup(&plan);
    if (plan.Injected() == 0) break;  // past the run's last sync
    ++failedRuns;
    EXPECT_EQ(std::count(codes.begin(), codes.end(), ENGINE_MSG_CREATE_FAILED), 1);
    // Until the new archive is committed the old one stays as it was; a
    // failure after that (a folder's sync) leaves the new one, whole and in
    // place. Never anything half-made.
    const std::vector<fs::path> left = FilesBelow(destination_.path());
    bool old = left == kept;
    for (const fs::path& file : left) {
      EXPECT_EQ(file.string().find(".qv"), std::string::npos) << file;
      old = old && previous.count(file) != 0 && ReadAll(file) == previous[file];
    }
    EXPECT_TRUE(old || LoadsAsSound(archive_));
    if (!old) {
      // The new archive replaced the old one: it is what later runs replace.
      kept = left;
      previous.clear();
      for (const fs::path& file : kept) previous[file] = ReadAll(file);
    }
  }
  // One per volume, the header's, and the folder's around the renames.
  EXPECT_GE(failedRuns, 3 + 2);
  RestoreAll(archive_, restored_);
  ExpectRestored(restored_.path(), files_);
}

// The order that makes a run durable, as the platform layer sees it: each
// volume is synced after its last write and before it is renamed, the
// volume holding the header last; the folder is synced after the renames
// that put the archive in place, and again after the old files go.
TEST_F(BackupFaultsTest, VolumesAreSyncedBeforeTheyAreRenamedIntoPlace) {
  archive_.info.dwBlockSize = 1000;
  archive_.info.ullVolumeSize = 8000;
  RunBackup(nullptr);  // an archive to replace
  FaultPlan plan;
  plan.Record();
  RunBackup(&plan);
  const std::vector<FaultCall> calls = plan.Calls();
  const WString folder = destination_.DrivePath();
  const auto last = [&](FaultOp op, const WString& path) {
    std::ptrdiff_t at = -1;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].op == op && calls[i].path == path) at = static_cast<std::ptrdiff_t>(i);
    }
    return at;
  };
  std::vector<std::ptrdiff_t> renames;
  std::ptrdiff_t firstRename = -1;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].op == FaultOp::kRename && firstRename < 0) firstRename = static_cast<std::ptrdiff_t>(i);
  }
  ASSERT_GE(firstRename, 0);
  int volumes = 0;
  for (const fs::path& file : FilesBelow(destination_.path())) {
    const WString staged = DrivePathOf(file) + W(".qvtmp");
    SCOPED_TRACE(U8(staged));
    const std::ptrdiff_t wrote = last(FaultOp::kWrite, staged);
    const std::ptrdiff_t synced = last(FaultOp::kSync, staged);
    ASSERT_GE(wrote, 0);
    EXPECT_GT(synced, wrote);
    EXPECT_LT(synced, firstRename);
    ++volumes;
  }
  EXPECT_GE(volumes, 3);
  // The first volume, holding the header, takes its final name last.
  std::ptrdiff_t lastRename = -1;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].op == FaultOp::kRename) lastRename = static_cast<std::ptrdiff_t>(i);
  }
  EXPECT_EQ(U8(calls[static_cast<std::size_t>(lastRename)].target), U8(folder + W("\\home.1.QVA")));
  const std::ptrdiff_t folderSynced = last(FaultOp::kSync, folder);
  EXPECT_GT(folderSynced, lastRename);
}

// EndBackup's writes, one failing at a time: each index block's header and
// payload, the closing record's, the header rewritten on close.
TEST_F(BackupFaultsTest, WriteFailingInTheIndexOrClosingRecordFailsEndBackup) {
  archive_.info.dwBlockSize = 1000;
  int failures = 0;
  for (ULONGLONG nth = 1;; ++nth) {
    SCOPED_TRACE(nth);
    ASSERT_LT(nth, 40u);
    // Installed before the archive is opened, so that its volume is
    // watched; the rule counts from its addition on.
    FaultPlan plan;
    ScopedFaultInjection guard(plan);
    CQVBackupControl control;
    ASSERT_TRUE(control.BeginBackup(archive_.get()));
    for (const fs::path& file : files_) ASSERT_TRUE(control.AddFileToArchive(DrivePathOf(file).c_str()));
    plan.Fail(FaultOp::kWrite, archive_.folder, ERROR_WRITE_FAULT, nth);
    const BOOL ended = control.EndBackup();
    if (plan.Injected() == 0) {
      // Past the last write of EndBackup: the archive is whole.
      EXPECT_TRUE(ended);
      break;
    }
    ++failures;
    EXPECT_FALSE(ended);
    // The error line EndBackup writes clears the last error: the archive
    // keeps the reason. What was written is gone.
    EXPECT_EQ(control.GetStorage().GetError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
    EXPECT_TRUE(FilesBelow(destination_.path()).empty());
  }
  // Two index blocks or more, the closing record, the header: one write each.
  EXPECT_GE(failures, 4);
  RestoreAll(archive_, restored_);
  ExpectRestored(restored_.path(), files_);
}

// A read error in one source file, at its first read and half-way through
// it: that file is logged and left out of the index, the others come back,
// and a marker after what was written of it tells a reader without the
// index that it is no whole file.
TEST_F(BackupFaultsTest, UnreadableSourceFileIsReportedAndSkipped) {
  WriteAll(files_[1], RandomBytes(QVBF_CHUNK_SIZE + 5000, 3));
  before_ = Snapshot(source_.path());
  RunBackup(nullptr);
  const std::vector<WORD> sound = BlockKinds();
  EXPECT_EQ(std::count(sound.begin(), sound.end(), qvlayout::block::kKindAbandoned), 0);
  for (ULONGLONG nth : {1, 2}) {
    SCOPED_TRACE(nth);
    CapturedLog log;
    FaultPlan plan;
    plan.Fail(FaultOp::kRead, W("b.bin"), ERROR_CRC, nth, 0);
    std::vector<DWORD> codes = RunBackup(&plan);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), ENGINE_MSG_CREATE_FAILED), 0);
    const std::string failed = U8(DrivePathOf(files_[1])) + "()  Echec of BackupFile";
    const std::vector<WString> lines = log.Body();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const WString& line) { return U8(line).find(failed) != std::string::npos; }),
              1);
    TempDir restored;
    std::map<std::string, DWORD> results = RestoreEach(archive_, restored);
    EXPECT_EQ(results["b.bin"], static_cast<DWORD>(ERROR_INVALID_PARAMETER));  // marked as not saved
    const std::vector<WORD> kinds = BlockKinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), qvlayout::block::kKindAbandoned), 1);
    ExpectRestored(restored.path(), {files_[0], files_[2], files_[3]});
    EXPECT_EQ(Snapshot(source_.path()), before_);
  }
}

// One listed file removed and one cut short after the list was made: the
// first is logged as missing, the second saved as it now is.
TEST_F(BackupFaultsTest, FilesDeletedOrTruncatedAfterListingAreHandled) {
  BackupRecorder recorder;
  CQVBackupEngine engine(&recorder);
  for (const fs::path& file : files_) engine.InsertElement(DrivePathOf(file).c_str());
  engine.SizeOfBackup();
  CapturedLog log;
  fs::remove(files_[0]);
  fs::resize_file(files_[1], 777);
  engine.BackupControl(archive_.get());
  EXPECT_EQ(std::count(recorder.codes.begin(), recorder.codes.end(), ENGINE_MSG_CREATE_FAILED), 0);
  const std::string missing = "File " + U8(DrivePathOf(files_[0])) + " missing on disk";
  const std::vector<WString> lines = log.Body();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [&](const WString& line) { return U8(line).find(missing) != std::string::npos; }),
            1);
  RestoreAll(archive_, restored_);
  ExpectRestored(restored_.path(), {files_[1], files_[2], files_[3]});
  EXPECT_EQ(fs::file_size(RestoredPath(restored_.path(), DrivePathOf(files_[1]))), 777u);
}

}  // namespace
