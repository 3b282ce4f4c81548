// CQVBackupFile on POSIX: links and special files are not backed up, times
// keep their 100 ns, read-only is the write permission, and a write that
// fails half-way leaves nothing behind.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "qvbackup/host.h"
#include "services/backupfile_test_util.h"

namespace qvtest {
namespace {

using BackupFilePosix = BackupFileTest;

struct stat StatOf(const std::filesystem::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status;
}

// Keeps the files this process writes below `limit` bytes while it lives:
// a write past it fails with EFBIG, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit reduced = saved_;
    reduced.rlim_cur = limit;
    applied_ = ::setrlimit(RLIMIT_FSIZE, &reduced) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, previous_);
  }
  bool applied() const { return applied_; }

 private:
  struct rlimit saved_ {};
  void (*previous_)(int) = nullptr;
  bool applied_ = false;
};

// The modes of the files below `folder` named like a restore's temporary
// ("~qv...tmp").
std::vector<unsigned> TemporaryModesIn(const std::filesystem::path& folder) {
  std::vector<unsigned> modes;
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    const std::string name = item.path().filename().string();
    if (name.rfind("~qv", 0) == 0) modes.push_back(StatOf(item.path()).st_mode & 07777);
  }
  return modes;
}

// While its content is written a restored file is its owner's alone,
// whatever the umask; once in place it has the mode a new file of the
// process gets, without write permission when read-only.
TEST_F(BackupFilePosix, TheTemporaryIsTheOwnersOnlyAndTheFileGetsTheUmasksMode) {
  MakeSource("plain.bin", 3 * QVBF_CHUNK_SIZE);
  MakeSource("locked.bin", 100);
  ::chmod(Native("locked.bin").c_str(), 0444);
  for (mode_t mask : {022, 077, 0}) {
    SCOPED_TRACE(mask);
    for (const char* name : {"plain.bin", "locked.bin"}) {
      BackupRecorder recorder;
      ASSERT_TRUE(Backup(name, &recorder));
      RestoreReplayer replayer(recorder);
      std::vector<unsigned> seen;
      replayer.onRequest = [&](const RestoreReplayer::Request& request) {
        if (request.stage != 2) return;
        std::vector<unsigned> modes = TemporaryModesIn(Native(""));
        seen.insert(seen.end(), modes.begin(), modes.end());
      };
      const mode_t saved = ::umask(mask);
      const bool restored = Restore(std::string("back-") + name, &replayer, recorder.TotalBytes());
      ::umask(saved);
      ASSERT_TRUE(restored) << GetLastError();
      EXPECT_FALSE(seen.empty());
      for (unsigned mode : seen) EXPECT_EQ(mode, 0600u);
      const unsigned wanted = std::string(name) == "locked.bin" ? 0444u & ~mask : 0666u & ~mask;
      EXPECT_EQ(StatOf(Native(std::string("back-") + name)).st_mode & 07777, wanted) << name;
      std::filesystem::remove(Native(std::string("back-") + name));
    }
  }
}

TEST_F(BackupFilePosix, ASymbolicLinkIsNotBackedUp) {
  MakeSource("real.txt", 10);
  std::filesystem::create_symlink(Native("real.txt"), Native("link.txt"));
  BackupRecorder recorder;
  DWORD error = 0;
  EXPECT_FALSE(Backup("link.txt", &recorder, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_CANT_RESOLVE_FILENAME));
  EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(BackupFilePosix, AFifoIsNotAFileAndDoesNotBlock) {
  ASSERT_EQ(::mkfifo(Native("pipe").c_str(), 0600), 0);
  BackupRecorder recorder;
  DWORD error = 0;
  EXPECT_FALSE(Backup("pipe", &recorder, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(BackupFilePosix, RestoredTimesKeepEvery100Nanoseconds) {
  MakeSource("a.bin", 10);
  BackupRecorder recorder;
  ASSERT_TRUE(Backup("a.bin", &recorder));
  RestoreReplayer replayer(recorder);
  ASSERT_TRUE(Restore("b.bin", &replayer, recorder.TotalBytes()));
  struct stat status = StatOf(Native("b.bin"));
  const long long kUnixEpochSeconds = 11644473600LL;
  EXPECT_EQ(status.st_mtim.tv_sec, static_cast<time_t>(kLastWriteTicks / 10000000 - kUnixEpochSeconds));
  EXPECT_EQ(status.st_mtim.tv_nsec, static_cast<long>(kLastWriteTicks % 10000000 * 100));
  EXPECT_EQ(status.st_atim.tv_sec, static_cast<time_t>(kLastAccessTicks / 10000000 - kUnixEpochSeconds));
  EXPECT_EQ(status.st_atim.tv_nsec, static_cast<long>(kLastAccessTicks % 10000000 * 100));
}

TEST_F(BackupFilePosix, ReadOnlyBecomesTheMissingWritePermission) {
  MakeSource("a.bin", 10);
  ASSERT_EQ(::chmod(Native("a.bin").c_str(), 0664), 0);
  BackupRecorder writable;
  ASSERT_TRUE(Backup("a.bin", &writable));
  ASSERT_EQ(::chmod(Native("a.bin").c_str(), 0444), 0);
  BackupRecorder readOnly;
  ASSERT_TRUE(Backup("a.bin", &readOnly));

  RestoreReplayer first(readOnly);
  ASSERT_TRUE(Restore("b.bin", &first, readOnly.TotalBytes()));
  EXPECT_EQ(StatOf(Native("b.bin")).st_mode & 0222, 0u);
  // Restored over the read-only copy, the writable one is writable again.
  RestoreReplayer second(writable);
  ASSERT_TRUE(Restore("b.bin", &second, writable.TotalBytes()));
  EXPECT_NE(StatOf(Native("b.bin")).st_mode & S_IWUSR, 0u);
}

TEST_F(BackupFilePosix, AWriteThatFailsHalfWayLeavesTheTargetAsItWas) {
  MakeSource("a.bin", 3 * kMiB);
  BackupRecorder recorder;
  ASSERT_TRUE(Backup("a.bin", &recorder));
  Bytes old = RandomBytes(100, 4);
  WriteBytes(Native("t.bin"), old);
  RestoreReplayer replayer(recorder);
  DWORD error = 0;
  bool restored = true;
  {
    FileSizeLimit limit(kMiB + kMiB / 2);
    ASSERT_TRUE(limit.applied());
    restored = Restore("t.bin", &replayer, recorder.TotalBytes(), &error);
  }
  EXPECT_FALSE(restored);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(Names(), (std::set<std::string>{"a.bin", "t.bin"}));
  EXPECT_TRUE(ReadBytes(Native("t.bin")) == old);
}

TEST_F(BackupFilePosix, ATargetOnAnUnmappedDriveDoesNotExist) {
  MakeSource("a.bin", 10);
  BackupRecorder recorder;
  ASSERT_TRUE(Backup("a.bin", &recorder));
  ASSERT_TRUE(QVSetDriveMapping('Q', nullptr, nullptr));
  CQVBackupFile file(QVT("Q:\\folder\\a.bin"));
  RestoreReplayer replayer(recorder);
  EXPECT_FALSE(file.RestoreFile(&RestoreReplayer::Callback, recorder.TotalBytes(), replayer.UserValue()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
}  // namespace qvtest

namespace qvtest {
namespace {

// A file of `size` bytes with `stretches` of data written at their offsets
// and holes elsewhere; returns its bytes as they read.
Bytes MakeSparse(const std::filesystem::path& path, ULONGLONG size,
                 const std::vector<std::pair<ULONGLONG, std::size_t>>& stretches) {
  { std::ofstream create(path, std::ios::binary); }
  std::filesystem::resize_file(path, size);
  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  unsigned seed = 5;
  for (const auto& [offset, length] : stretches) {
    Bytes data = RandomBytes(length, seed++);
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  }
  out.close();
  return ReadBytes(path);
}

TEST_F(BackupFilePosix, AFileWithHolesIsSavedAsItsRunsAndComesBackWithItsHoles) {
  const ULONGLONG size = 64 * kMiB + 123;
  const Bytes content =
      MakeSparse(Native("sparse.img"), size, {{0, 5000}, {8 * kMiB, 2 * kMiB + 17}, {64 * kMiB, 123}});
  if (static_cast<ULONGLONG>(StatOf(Native("sparse.img")).st_blocks) * 512 > 16 * kMiB) GTEST_SKIP() << "this file system keeps no holes";
  BackupRecorder recorder;
  ASSERT_TRUE(Backup("sparse.img", &recorder)) << GetLastError();
  EXPECT_EQ(ReadDword(recorder.calls.at(0).bytes, 12), 2u);  // content as runs
  EXPECT_EQ(ReadQword(recorder.calls.at(1).bytes, 16), size);
  // The runs hold the data and a 16-byte head each, never the holes; every
  // chunk but the last is a whole chunk.
  const Bytes runs = recorder.Content();
  EXPECT_LT(runs.size(), 3 * kMiB);
  EXPECT_EQ(ReadQword(runs, 0), 0u);
  std::vector<std::size_t> chunks = recorder.ChunkLengths();
  for (std::size_t i = 0; i + 1 < chunks.size(); ++i) EXPECT_EQ(chunks[i], QVBF_CHUNK_SIZE) << i;

  RestoreReplayer replayer(recorder);
  ASSERT_TRUE(Restore("back.img", &replayer, recorder.TotalBytes())) << GetLastError();
  EXPECT_TRUE(ReadBytes(Native("back.img")) == content);
  EXPECT_LT(static_cast<ULONGLONG>(StatOf(Native("back.img")).st_blocks) * 512, 16 * kMiB);
}

TEST_F(BackupFilePosix, SmallHolesAreSavedAsTheZerosTheyReadAs) {
  const Bytes content = MakeSparse(Native("few.img"), 600 * 1024, {{0, 4096}, {512 * 1024, 4096}});
  BackupRecorder recorder;
  ASSERT_TRUE(Backup("few.img", &recorder)) << GetLastError();
  EXPECT_EQ(ReadDword(recorder.calls.at(0).bytes, 12), 1u);  // one stream, as every reader knows
  EXPECT_TRUE(recorder.Content() == content);
}

TEST_F(BackupFilePosix, RunsThatDoNotFitTheFileAreRefusedAndLeaveNothing) {
  MakeSparse(Native("sparse.img"), 16 * kMiB, {{4 * kMiB, 1000}});
  BackupRecorder recorder;
  ASSERT_TRUE(Backup("sparse.img", &recorder)) << GetLastError();
  const std::size_t first = 2;  // the first content call
  ASSERT_EQ(ReadDword(recorder.calls.at(0).bytes, 12), 2u);
  // The run's offset moved past the file's size, then its length.
  for (std::size_t at : {std::size_t{0}, std::size_t{8}}) {
    SCOPED_TRACE(at);
    BackupRecorder damaged = recorder;
    Bytes& chunk = damaged.calls.at(first).bytes;
    chunk[at + 3] = 0x7F;
    RestoreReplayer replayer(damaged);
    DWORD error = 0;
    EXPECT_FALSE(Restore("back.img", &replayer, damaged.TotalBytes(), &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_FALSE(std::filesystem::exists(Native("back.img")));
    EXPECT_EQ(Names(), (std::set<std::string>{"sparse.img"}));
  }
}

}  // namespace
}  // namespace qvtest
