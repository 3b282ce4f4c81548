// The content part of the single-file backup over files that fail: a read
// error in the middle of a backup, a full disk in the middle of a restore.
#include "services/backup_file_stream.h"

#include <gtest/gtest.h>

#include "services/backupfile_test_util.h"

namespace qvtest {
namespace {

using qv::services::CallbackChannel;

// Serves `content` to reads, then fails every read after `failAfterReads`
// successful ones; collects writes until `failAfterBytes` have been written,
// then fails with a full disk.
class FaultyFile : public qv::platform::RandomAccessFile {
 public:
  Bytes content;
  Bytes written;
  int failAfterReads = -1;
  std::size_t failAfterBytes = static_cast<std::size_t>(-1);

  bool Read(void* buffer, DWORD size, DWORD* read) override {
    *read = 0;
    if (reads_++ == failAfterReads) {
      SetLastError(ERROR_READ_FAULT);
      return false;
    }
    *read = static_cast<DWORD>(std::min<std::size_t>(size, content.size() - position_));
    std::memcpy(buffer, content.data() + position_, *read);
    position_ += *read;
    return true;
  }
  bool Write(const void* data, DWORD size) override {
    if (written.size() + size > failAfterBytes) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    const BYTE* bytes = static_cast<const BYTE*>(data);
    written.insert(written.end(), bytes, bytes + size);
    return true;
  }
  bool Seek(ULONGLONG) override { return false; }
  bool Tell(ULONGLONG*) override { return false; }
  bool Size(ULONGLONG*) override { return false; }
  bool Truncate() override { return false; }
  bool Sync() override { return false; }

 private:
  int reads_ = 0;
  std::size_t position_ = 0;
};

TEST(BackupFileStream, AReadErrorMidFileStopsTheBackupWithTheReadsError) {
  FaultyFile file;
  file.content = RandomBytes(3 * kMiB, 1);
  file.failAfterReads = 1;
  BackupRecorder recorder;
  CallbackChannel channel(&BackupRecorder::Callback, recorder.UserValue());
  EXPECT_FALSE(qv::services::SendContent(file, file.content.size(), channel));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_READ_FAULT));
  EXPECT_EQ(recorder.ChunkLengths(), std::vector<std::size_t>{QVBF_CHUNK_SIZE});
}

TEST(BackupFileStream, ContentIsReadToTheEndWhateverTheSizeAtOpening) {
  FaultyFile file;
  file.content = RandomBytes(kMiB + 100, 2);
  BackupRecorder recorder;
  CallbackChannel channel(&BackupRecorder::Callback, recorder.UserValue());
  // The size seen at opening was tiny: the buffer is smaller, not the content.
  ASSERT_TRUE(qv::services::SendContent(file, 3, channel));
  EXPECT_TRUE(recorder.Content() == file.content);
  for (std::size_t length : recorder.ChunkLengths()) EXPECT_LE(length, QVBF_CHUNK_SIZE);
}

TEST(BackupFileStream, AFullDiskMidRestoreStopsWithTheWritesError) {
  BackupRecorder recorded;
  recorded.calls.push_back({0, 2, RandomBytes(3 * kMiB, 3), {}});
  RestoreReplayer replayer(recorded);
  FaultyFile file;
  file.failAfterBytes = 2 * kMiB;
  CallbackChannel channel(&RestoreReplayer::Callback, replayer.UserValue());
  EXPECT_FALSE(qv::services::ReceiveContent(channel, 3 * kMiB, file));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(file.written.size(), 2 * kMiB);
  EXPECT_EQ(replayer.requests.size(), 3u);  // the third chunk was asked for, then could not be written
}

TEST(BackupFileStream, NothingToReceiveAsksNothing) {
  BackupRecorder recorded;
  RestoreReplayer replayer(recorded);
  FaultyFile file;
  CallbackChannel channel(&RestoreReplayer::Callback, replayer.UserValue());
  EXPECT_TRUE(qv::services::ReceiveContent(channel, 0, file));
  EXPECT_TRUE(replayer.requests.empty());
  EXPECT_TRUE(file.written.empty());
}

}  // namespace
}  // namespace qvtest
