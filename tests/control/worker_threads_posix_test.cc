// A disk that fills up half-way through a backup with worker threads: the
// run ends as it ends without them.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include "control/control_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

// While it lives, no file of the process may grow past `bytes`: every
// write beyond fails (EFBIG, ERROR_DISK_FULL), at the same place of the
// stream however the blocks were sealed.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    applied_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previous_);
  }
  bool applied() const { return applied_; }

 private:
  rlimit saved_ = {};
  void (*previous_)(int) = nullptr;
  bool applied_ = false;
};

struct FailedRun {
  std::vector<BOOL> results;
  std::vector<DWORD> errors;
  BOOL ended = TRUE;
  DWORD endError = 0;
};

FailedRun BackUpOntoFullDisk(const std::vector<fs::path>& files, DWORD threads) {
  TempDir archives;
  ArchiveDescription desc(archives.DrivePath());
  desc.info.dwBlockSize = 4096;
  desc.info.dwCompression = 0;
  CQVBackupControl control;
  control.SetWorkerThreads(threads);
  FailedRun run;
  FileSizeLimit limit(150000);
  EXPECT_TRUE(limit.applied());
  EXPECT_TRUE(control.BeginBackup(desc.get()));
  for (const fs::path& file : files) {
    run.results.push_back(control.AddFileToArchive(DrivePathOf(file).c_str()));
    run.errors.push_back(GetLastError());
  }
  run.ended = control.EndBackup();
  run.endError = GetLastError();
  return run;
}

TEST(WorkerThreadsPosixTest, DiskFillingUpEndsTheRunAsWithOneThread) {
  TempDir sources;
  std::vector<fs::path> files = {sources.WriteFile("first.bin", 40000), sources.WriteFile("big.bin", 0),
                                 sources.WriteFile("last.bin", 5000)};
  WriteAll(files[1], RandomBytes(400000, 3));
  const FailedRun alone = BackUpOntoFullDisk(files, 1);
  ASSERT_EQ(alone.results, (std::vector<BOOL>{TRUE, FALSE, FALSE}));
  EXPECT_EQ(alone.errors[1], static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(alone.errors[2], static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_FALSE(alone.ended);
  for (DWORD threads : {2u, 4u}) {
    SCOPED_TRACE(threads);
    const FailedRun workers = BackUpOntoFullDisk(files, threads);
    EXPECT_EQ(workers.results, alone.results);
    EXPECT_EQ(workers.errors, alone.errors);
    EXPECT_EQ(workers.ended, alone.ended);
    EXPECT_EQ(workers.endError, alone.endError);
  }
}

}  // namespace
}  // namespace qvtest
