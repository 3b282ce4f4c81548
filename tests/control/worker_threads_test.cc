// Backups with worker threads: the archive, the messages and the way a
// backup ends are those of a backup without them.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "control/control_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kBlock = 32768;

// Files that exercise every kind of block: empty, one short compressible
// block, incompressible blocks (judged and not), and a file of many more
// blocks than the workers keep in flight.
std::vector<fs::path> WriteMixedTree(TempDir& dir) {
  std::vector<fs::path> files = {dir.WriteFile("empty.txt", 0), dir.WriteFile("short.txt", 0),
                                 dir.WriteFile("noise.bin", 0), dir.WriteFile("sub/long.txt", 0),
                                 dir.WriteFile("sub/mixed.bin", 0)};
  WriteAll(files[1], TextBytes(700));
  WriteAll(files[2], RandomBytes(3 * kBlock + 5, 7));
  WriteAll(files[3], TextBytes(60 * kBlock + 123));
  Bytes mixed = TextBytes(20 * kBlock);
  Bytes noise = RandomBytes(40 * 1024, 8);
  mixed.insert(mixed.begin() + 5 * kBlock, noise.begin(), noise.end());
  WriteAll(files[4], mixed);
  return files;
}

ULONGLONG TotalSize(const std::vector<fs::path>& files) {
  ULONGLONG total = 0;
  for (const fs::path& file : files) total += fs::file_size(file);
  return total;
}

// Backs up every file with `threads` workers; expects each step to work.
void BackUp(const std::vector<fs::path>& files, ArchiveDescription& desc, DWORD threads,
            CQVEngineCallback* callback = nullptr) {
  CQVBackupControl control(callback);
  control.SetWorkerThreads(threads);
  control.SetTotalBytes(TotalSize(files));
  ASSERT_TRUE(control.BeginBackup(desc.get())) << GetLastError();
  for (const fs::path& file : files) ASSERT_TRUE(control.AddFileToArchive(DrivePathOf(file).c_str())) << file;
  ASSERT_TRUE(control.EndBackup()) << GetLastError();
}

void ExpectRestored(const std::vector<fs::path>& files, const TempDir& restored) {
  for (const fs::path& file : files) {
    EXPECT_EQ(ReadAll(RestoredPath(restored.path(), DrivePathOf(file))), ReadAll(file)) << file;
  }
}

// The archive stream of "home" in `folder`: its volumes one after another.
Bytes ArchiveStream(const fs::path& folder) {
  if (fs::exists(folder / "home.QVA")) return ReadAll(folder / "home.QVA");
  Bytes stream;
  for (int volume = 1; fs::exists(folder / ("home." + std::to_string(volume) + ".QVA")); ++volume) {
    const Bytes bytes = ReadAll(folder / ("home." + std::to_string(volume) + ".QVA"));
    stream.insert(stream.end(), bytes.begin(), bytes.end());
  }
  return stream;
}

// The stream from the header to the index: the files' records and data.
// (The header's identifier and the index's folder times differ between any
// two backups.)
// The files' blocks: from the header to the index, or to the metadata
// table where a locator right before the index names one (the table holds
// access times, which the first backup's reading moves).
Bytes SavedFilesPart(const Bytes& stream) {
  const std::size_t kUserData = 181;
  if (stream.size() < QVS_HEADER_SIZE) return Bytes();
  const ULONGLONG closing = Qword(stream, kUserData);
  if (closing + QVS_BLOCK_HEADER_SIZE + 12 > stream.size()) return Bytes();
  ULONGLONG end = Qword(stream, closing + QVS_BLOCK_HEADER_SIZE + 4);
  if (end > closing) return Bytes();
  const ULONGLONG locator = end - QVS_BLOCK_HEADER_SIZE - 24;
  if (end >= QVS_HEADER_SIZE + QVS_BLOCK_HEADER_SIZE + 24 && (stream[locator + 4] | stream[locator + 5] << 8) == 4) {
    end = Qword(stream, locator + QVS_BLOCK_HEADER_SIZE + 4);
  }
  return Bytes(stream.begin() + QVS_HEADER_SIZE, stream.begin() + static_cast<std::ptrdiff_t>(end));
}

struct Form {
  const char* name;
  DWORD compression;
  bool encrypted;
  ULONGLONG volumeSize;
};

const Form kForms[] = {
    {"compressed", 1, false, QVS_NO_VOLUME_LIMIT},
    {"stored", 0, false, QVS_NO_VOLUME_LIMIT},
    {"encrypted", 1, true, QVS_NO_VOLUME_LIMIT},
    {"split", 1, false, 50000},
    {"split and encrypted", 0, true, 200000},
};

ArchiveDescription Describe(const TempDir& archives, const Form& form) {
  ArchiveDescription desc(archives.DrivePath());
  desc.info.dwBlockSize = kBlock;
  desc.info.dwCompression = form.compression;
  desc.info.ullVolumeSize = form.volumeSize;
  if (form.encrypted) desc.password = W("worker password");
  return desc;
}

class WorkerThreadsTest : public ::testing::TestWithParam<DWORD> {};

INSTANTIATE_TEST_SUITE_P(Threads, WorkerThreadsTest, ::testing::Values(1u, 2u, 4u));

TEST_P(WorkerThreadsTest, EveryFormComesBackWhole) {
  TempDir sources;
  const std::vector<fs::path> files = WriteMixedTree(sources);
  for (const Form& form : kForms) {
    SCOPED_TRACE(form.name);
    TempDir archives, restored;
    ArchiveDescription desc = Describe(archives, form);
    BackUp(files, desc, GetParam());
    RestoreAll(desc, restored);
    ExpectRestored(files, restored);
  }
}

TEST_P(WorkerThreadsTest, IncrementComesBackWithItsOwnFiles) {
  TempDir sources, archives, restored;
  const std::vector<fs::path> files = WriteMixedTree(sources);
  ArchiveDescription desc = Describe(archives, kForms[0]);
  desc.info.dwFlags = QVS_FLAG_INCREMENTAL;
  BackUp({files[0], files[1]}, desc, GetParam());
  BackUp({files[3], files[4]}, desc, GetParam());
  ASSERT_TRUE(fs::exists(archives.path() / "home.I1.QVA"));
  desc.info.dwFlags = 0;
  desc.info.dwIncrementToOpen = 1;
  RestoreAll(desc, restored);
  ExpectRestored({files[3], files[4]}, restored);
  EXPECT_FALSE(fs::exists(RestoredPath(restored.path(), DrivePathOf(files[1]))));
}

TEST_P(WorkerThreadsTest, PlainArchivesHoldTheBytesOfOneThread) {
  TempDir sources;
  const std::vector<fs::path> files = WriteMixedTree(sources);
  for (const Form& form : {kForms[0], kForms[1], kForms[3]}) {
    SCOPED_TRACE(form.name);
    TempDir alone, workers;
    ArchiveDescription aloneDesc = Describe(alone, form);
    ArchiveDescription workersDesc = Describe(workers, form);
    BackUp(files, aloneDesc, 1);
    BackUp(files, workersDesc, GetParam());
    const Bytes expected = SavedFilesPart(ArchiveStream(alone.path()));
    ASSERT_GT(expected.size(), TotalSize(files) / 20);
    EXPECT_TRUE(SavedFilesPart(ArchiveStream(workers.path())) == expected);
  }
}

// Records each message with the thread it came on.
struct ThreadRecorder : MessageLog {
  std::vector<std::thread::id> threads;
  void OnEngineMessage(DWORD code, ULONGLONG value1, ULONGLONG value2, ULONGLONG value3,
                       ULONGLONG value4) override {
    threads.push_back(std::this_thread::get_id());
    MessageLog::OnEngineMessage(code, value1, value2, value3, value4);
  }
};

TEST_P(WorkerThreadsTest, MessagesComeOnTheCallingThreadInOrder) {
  TempDir sources, archives;
  const std::vector<fs::path> files = WriteMixedTree(sources);
  ArchiveDescription desc = Describe(archives, kForms[2]);
  ThreadRecorder messages;
  BackUp(files, desc, GetParam(), &messages);
  ASSERT_GT(messages.percentages.size(), 60u);
  EXPECT_EQ(std::count(messages.threads.begin(), messages.threads.end(), std::this_thread::get_id()),
            static_cast<std::ptrdiff_t>(messages.threads.size()));
  EXPECT_TRUE(std::is_sorted(messages.percentages.begin(), messages.percentages.end()));
  EXPECT_EQ(messages.percentages.back(), 100u);
}

// What a backup cancelled at the 30th progress message (within the long
// file's first chunk; seen at its second) tells its caller.
struct CancelledRun {
  std::vector<BOOL> results;
  std::vector<DWORD> errors;
  std::vector<DWORD> codes;
  bool leftNothing = false;
  bool onCallingThread = false;
};

CancelledRun BackUpAndCancel(const std::vector<fs::path>& files, DWORD threads) {
  TempDir archives;
  ArchiveDescription desc = Describe(archives, kForms[3]);
  volatile DWORD cancel = 0;
  ThreadRecorder messages;
  messages.cancel = &cancel;
  messages.cancelAfter = 30;
  CQVBackupControl control(&messages);
  control.SetWorkerThreads(threads);
  control.SetCancelFlag(&cancel);
  control.SetTotalBytes(TotalSize(files));
  CancelledRun run;
  if (!control.BeginBackup(desc.get())) return run;
  for (const fs::path& file : files) {
    run.results.push_back(control.AddFileToArchive(DrivePathOf(file).c_str()));
    run.errors.push_back(GetLastError());
  }
  run.codes = messages.codes;
  run.leftNothing = fs::is_empty(archives.path());
  run.onCallingThread = std::count(messages.threads.begin(), messages.threads.end(), std::this_thread::get_id()) ==
                        static_cast<std::ptrdiff_t>(messages.threads.size());
  return run;
}

TEST_P(WorkerThreadsTest, CancelHalfWayEndsAsWithOneThread) {
  TempDir sources;
  const std::vector<fs::path> files = WriteMixedTree(sources);
  const CancelledRun alone = BackUpAndCancel(files, 1);
  const CancelledRun workers = BackUpAndCancel(files, GetParam());
  ASSERT_EQ(alone.results, (std::vector<BOOL>{TRUE, TRUE, TRUE, FALSE, FALSE}));
  EXPECT_EQ(alone.errors[3], static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_EQ(workers.results, alone.results);
  EXPECT_EQ(workers.errors, alone.errors);
  EXPECT_EQ(workers.codes, alone.codes);
  EXPECT_EQ(workers.codes.back(), static_cast<DWORD>(ENGINE_MSG_CANCELLED));
  EXPECT_TRUE(workers.leftNothing);
  EXPECT_TRUE(workers.onCallingThread);
}

TEST(WorkerThreadsSettingTest, CountIsKeptWithinOneToSixtyFour) {
  CQVBackupControl control;
  EXPECT_EQ(control.GetWorkerThreads(), 1u);
  control.SetWorkerThreads(0);
  EXPECT_EQ(control.GetWorkerThreads(), 1u);
  control.SetWorkerThreads(1000);
  EXPECT_EQ(control.GetWorkerThreads(), 64u);
  control.SetWorkerThreads(3);
  EXPECT_EQ(control.GetWorkerThreads(), 3u);
}

}  // namespace
}  // namespace qvtest
