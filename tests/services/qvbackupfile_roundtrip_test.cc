// CQVBackupFile: what a backup delivers comes back byte for byte through a
// restore, with size, times and attributes, under any name and folder.
#include <gtest/gtest.h>

#include "services/backupfile_test_util.h"

namespace qvtest {
namespace {

using qv::platform::FileInformation;

class BackupFileRoundTrip : public BackupFileTest {
 protected:
  // Backs up `source`, restores it to `target`, and checks everything the
  // restore promises. Returns the recording.
  BackupRecorder RoundTrip(const std::string& source, const std::string& target, const Bytes& content) {
    BackupRecorder recorder;
    EXPECT_TRUE(Backup(source, &recorder)) << GetLastError();
    FileInformation sourceInfo = Info(source);
    RestoreReplayer replayer(recorder);
    DWORD error = 0;
    EXPECT_TRUE(Restore(target, &replayer, recorder.TotalBytes(), &error)) << error;
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(replayer.ranOut);
    // Times first: reading the content may move the last access time.
    FileInformation restored = Info(target);
    EXPECT_EQ(restored.size, content.size());
    EXPECT_EQ(Ticks(restored.lastWriteTime), kLastWriteTicks);
    EXPECT_EQ(Ticks(restored.lastAccessTime), kLastAccessTicks);
    EXPECT_EQ(restored.attributes & FILE_ATTRIBUTE_READONLY, sourceInfo.attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(restored.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(ReadBytes(Native(target)) == content) << "content differs";
    return recorder;
  }
};

TEST_F(BackupFileRoundTrip, SizesAroundTheChunkSizeComeBackByteForByte) {
  const std::size_t sizes[] = {0, 1, kMiB - 1, kMiB, kMiB + 1, 3 * kMiB + kMiB / 2};
  unsigned seed = 7;
  for (std::size_t size : sizes) {
    SCOPED_TRACE(size);
    std::string source = "src" + std::to_string(size) + ".bin";
    std::string target = "out\\" + std::to_string(size) + ".bin";
    Bytes content = MakeSource(source, size, seed++);
    BackupRecorder recorder = RoundTrip(source, target, content);

    // Content comes in full chunks and one last partial chunk; nothing, no chunk.
    std::vector<std::size_t> chunks = recorder.ChunkLengths();
    ASSERT_EQ(chunks.size(), (size + QVBF_CHUNK_SIZE - 1) / QVBF_CHUNK_SIZE);
    for (std::size_t i = 0; i < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i], std::min<std::size_t>(QVBF_CHUNK_SIZE, size - i * QVBF_CHUNK_SIZE)) << i;
    }
    EXPECT_TRUE(recorder.Content() == content);
  }
}

TEST_F(BackupFileRoundTrip, RestoreAsksForTheRecordsThenWhatIsLeftChunkByChunk) {
  const std::size_t size = 2 * kMiB + 5;
  MakeSource("a.bin", size);
  BackupRecorder recorder;
  ASSERT_TRUE(Backup("a.bin", &recorder));
  RestoreReplayer replayer(recorder);
  ASSERT_TRUE(Restore("b.bin", &replayer, recorder.TotalBytes()));
  ASSERT_EQ(replayer.requests.size(), 5u);
  EXPECT_EQ(replayer.requests[0].stage, 0u);
  EXPECT_EQ(replayer.requests[0].length, 16u);
  EXPECT_EQ(replayer.requests[1].stage, 1u);
  EXPECT_EQ(replayer.requests[1].length, 48u + 1024u * 2u);
  const DWORD contentLengths[] = {QVBF_CHUNK_SIZE, QVBF_CHUNK_SIZE, 5};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(replayer.requests[2 + i].stage, 2u);
    EXPECT_EQ(replayer.requests[2 + i].length, contentLengths[i]);
  }
}

TEST_F(BackupFileRoundTrip, ReadOnlyComesBackAndAReadOnlyTargetIsReplaced) {
  Bytes content = MakeSource("locked.txt", 3000);
  ASSERT_TRUE(qv::platform::SetFileAttributesOf(Drive("locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_NE(Info("locked.txt").attributes & FILE_ATTRIBUTE_READONLY, 0u);
  RoundTrip("locked.txt", "copy.txt", content);
  EXPECT_NE(Info("copy.txt").attributes & FILE_ATTRIBUTE_READONLY, 0u);

  // A writable file restored over the read-only copy replaces it and is
  // writable again.
  Bytes other = MakeSource("open.txt", 10, 99);
  RoundTrip("open.txt", "copy.txt", other);
  EXPECT_EQ(Info("copy.txt").attributes & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(BackupFileRoundTrip, AnExistingLargerTargetEndsUpWithExactlyTheRestoredContent) {
  WriteBytes(Native("target.bin"), RandomBytes(2 * kMiB, 3));
  Bytes content = MakeSource("small.bin", 777);
  RoundTrip("small.bin", "target.bin", content);
  EXPECT_EQ(Names(), (std::set<std::string>{"small.bin", "target.bin"}));  // nothing else left
}

TEST_F(BackupFileRoundTrip, NonAsciiNamesAndFoldersRoundTrip) {
  const std::string name = "\xC3\x9Cn\xC3\xAF \xE5\x90\x8D\xE5\x89\x8D \xF0\x9F\x98\x80.txt";
  const std::string source = "Dossier \xC3\xA9t\xC3\xA9\\" + name;
  const std::string target = "\xD0\x9A\xD0\xBE\xD0\xBF\xD0\xB8\xD1\x8F\\r\xC3\xA9sum\xC3\xA9 \xF0\x9F\x93\x84.txt";
  Bytes content = MakeSource(source, 4321);
  BackupRecorder recorder = RoundTrip(source, target, content);
  ASSERT_GE(recorder.calls.size(), 2u);
  // The naming record holds the last component of the path, in UTF-16.
  const Bytes& naming = recorder.calls[1].bytes;
  WString expected = W(name);
  ASSERT_EQ(naming.size(), 48 + (expected.size() + 1) * 2);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(naming[48 + 2 * i] | naming[49 + 2 * i] << 8, expected[i]) << i;
  }
  EXPECT_EQ(recorder.calls[1].path, Drive(source));
}

TEST_F(BackupFileRoundTrip, MissingFoldersOnTheWayAreCreated) {
  Bytes content = MakeSource("deep.bin", 100);
  RoundTrip("deep.bin", "new\\a\\b\\c\\deep.bin", content);
  EXPECT_EQ(Names("new\\a\\b\\c"), std::set<std::string>{"deep.bin"});
}

TEST_F(BackupFileRoundTrip, AFileInTheWayOfAMissingFolderFailsTheRestore) {
  MakeSource("a.bin", 100);
  WriteBytes(Native("blocker"), Bytes{1, 2, 3});
  BackupRecorder recorder;
  ASSERT_TRUE(Backup("a.bin", &recorder));
  RestoreReplayer replayer(recorder);
  DWORD error = 0;
  EXPECT_FALSE(Restore("blocker\\inside\\a.bin", &replayer, recorder.TotalBytes(), &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(ReadBytes(Native("blocker")) == (Bytes{1, 2, 3}));
}

}  // namespace
}  // namespace qvtest
