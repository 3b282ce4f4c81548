// CQVBackupFile: cancellation, missing files, files that change while they
// are read, records that do not add up, and the binding's own errors. A
// restore that fails leaves nothing under the target's name and an existing
// target as it was.
#include <gtest/gtest.h>

#include "services/backupfile_test_util.h"

namespace qvtest {
namespace {

class BackupFileFailure : public BackupFileTest {
 protected:
  // A recording of `size` bytes of "a.bin".
  BackupRecorder Recorded(std::size_t size) {
    MakeSource("a.bin", size);
    BackupRecorder recorder;
    EXPECT_TRUE(Backup("a.bin", &recorder));
    return recorder;
  }

  // Restores `recorder` to "t.bin", stopped by the replayer at call
  // `stopAtCall`; expects ERROR_CANCELLED.
  void ExpectCancelledRestore(const BackupRecorder& recorder, int stopAtCall) {
    RestoreReplayer replayer(recorder);
    replayer.stopAtCall = stopAtCall;
    DWORD error = 0;
    EXPECT_FALSE(Restore("t.bin", &replayer, recorder.TotalBytes(), &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(replayer.requests.size(), static_cast<std::size_t>(stopAtCall + 1));
  }
};

TEST_F(BackupFileFailure, BackupStopsWhereTheCallbackAnswersCancelled) {
  MakeSource("a.bin", 3 * kMiB + 10);
  for (int stopAt : {0, 1, 3}) {
    SCOPED_TRACE(stopAt);
    BackupRecorder recorder;
    recorder.stopAtCall = stopAt;
    DWORD error = 0;
    EXPECT_FALSE(Backup("a.bin", &recorder, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_EQ(recorder.calls.size(), static_cast<std::size_t>(stopAt + 1));
  }
}

TEST_F(BackupFileFailure, AnyAnswerOtherThanZeroStopsTheBackup) {
  MakeSource("a.bin", 100);
  BackupRecorder recorder;
  recorder.stopAtCall = 1;
  recorder.stopAnswer = 5;
  DWORD error = 0;
  EXPECT_FALSE(Backup("a.bin", &recorder, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_EQ(recorder.calls.size(), 2u);
}

TEST_F(BackupFileFailure, MissingSourceFailsBeforeAnyCall) {
  BackupRecorder recorder;
  DWORD error = 0;
  EXPECT_FALSE(Backup("missing.txt", &recorder, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(BackupFileFailure, AFolderIsNotAFileToBackUp) {
  dir_.MakeDir("folder");
  BackupRecorder recorder;
  DWORD error = 0;
  EXPECT_FALSE(Backup("folder", &recorder, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(BackupFileFailure, AFileThatShrinksAfterOpeningIsSavedAsRead) {
  Bytes content = MakeSource("a.bin", 3 * kMiB);
  BackupRecorder recorder;
  recorder.onCall = [this](const DeliveredCall& call) {
    if (call.stage == 1) std::filesystem::resize_file(Native("a.bin"), 1000);
  };
  bool changed = false;
  ASSERT_TRUE(Backup("a.bin", &recorder, nullptr, &changed)) << GetLastError();
  EXPECT_TRUE(changed);
  EXPECT_EQ(ReadQword(recorder.calls.at(1).bytes, 16), 3 * kMiB);  // the size when opened
  Bytes read = recorder.Content();
  ASSERT_EQ(read.size(), 1000u);
  EXPECT_TRUE(std::equal(read.begin(), read.end(), content.begin()));

  RestoreReplayer replayer(recorder);
  ASSERT_TRUE(Restore("t.bin", &replayer, recorder.TotalBytes()));
  EXPECT_TRUE(ReadBytes(Native("t.bin")) == read);
}

TEST_F(BackupFileFailure, AFileThatGrowsAfterOpeningIsSavedAsRead) {
  Bytes content = MakeSource("a.bin", 5000);
  Bytes extra = RandomBytes(kMiB, 11);
  BackupRecorder recorder;
  recorder.onCall = [&](const DeliveredCall& call) {
    if (call.stage != 1) return;
    std::ofstream out(Native("a.bin"), std::ios::binary | std::ios::app);
    out.write(reinterpret_cast<const char*>(extra.data()), static_cast<std::streamsize>(extra.size()));
  };
  bool changed = false;
  ASSERT_TRUE(Backup("a.bin", &recorder, nullptr, &changed)) << GetLastError();
  EXPECT_TRUE(changed);
  content.insert(content.end(), extra.begin(), extra.end());
  EXPECT_TRUE(recorder.Content() == content);
  for (std::size_t length : recorder.ChunkLengths()) EXPECT_LE(length, QVBF_CHUNK_SIZE);
}

TEST_F(BackupFileFailure, AFileRewrittenInPlaceWhileReadIsToldChanged) {
  // Same size, new bytes, a new last write time: only the time tells.
  Bytes content = MakeSource("a.bin", 3 * kMiB);
  BackupRecorder recorder;
  recorder.onCall = [&](const DeliveredCall& call) {
    if (call.stage != 2 || recorder.calls.size() != 3) return;
    std::fstream out(Native("a.bin"), std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(2 * kMiB));
    out.write("rewritten", 9);
  };
  bool changed = false;
  ASSERT_TRUE(Backup("a.bin", &recorder, nullptr, &changed)) << GetLastError();
  EXPECT_TRUE(changed);
  EXPECT_EQ(recorder.Content().size(), content.size());
}

TEST_F(BackupFileFailure, AFileLeftAloneIsNotToldChanged) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{3 * kMiB + 7}}) {
    SCOPED_TRACE(size);
    MakeSource("a.bin", size);
    BackupRecorder recorder;
    bool changed = true;
    ASSERT_TRUE(Backup("a.bin", &recorder, nullptr, &changed)) << GetLastError();
    EXPECT_FALSE(changed);
  }
}

TEST_F(BackupFileFailure, RestoreCancelledAtAnyStageLeavesNoFile) {
  BackupRecorder recorder = Recorded(2 * kMiB + 1);
  for (int stopAt : {0, 1, 2, 3}) {
    SCOPED_TRACE(stopAt);
    ExpectCancelledRestore(recorder, stopAt);
    EXPECT_EQ(Names(), std::set<std::string>{"a.bin"});
  }
}

TEST_F(BackupFileFailure, RestoreCancelledAtAnyStageLeavesAnExistingTargetUntouched) {
  BackupRecorder recorder = Recorded(2 * kMiB + 1);
  Bytes old = RandomBytes(300, 5);
  WriteBytes(Native("t.bin"), old);
  ASSERT_TRUE(qv::platform::SetFileTimes(Drive("t.bin").c_str(), FILETIME{}, FileTimeOf(kLastAccessTicks + 10),
                                         FileTimeOf(kLastWriteTicks + 10)));
  for (int stopAt : {0, 1, 2, 4}) {
    SCOPED_TRACE(stopAt);
    ExpectCancelledRestore(recorder, stopAt);
    EXPECT_EQ(Names(), (std::set<std::string>{"a.bin", "t.bin"}));
    EXPECT_EQ(Ticks(Info("t.bin").lastWriteTime), kLastWriteTicks + 10);
    EXPECT_TRUE(ReadBytes(Native("t.bin")) == old);
  }
}

TEST_F(BackupFileFailure, FileBytesShortOfTheRecordsIsInvalidData) {
  BackupRecorder recorder = Recorded(10);
  const ULONGLONG records = 16 + recorder.calls.at(1).bytes.size();
  for (ULONGLONG fileBytes : {ULONGLONG{0}, ULONGLONG{16}, records - 1}) {
    SCOPED_TRACE(fileBytes);
    RestoreReplayer replayer(recorder);
    DWORD error = 0;
    EXPECT_FALSE(Restore("new\\t.bin", &replayer, fileBytes, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(replayer.requests.size(), 2u);  // no content asked for
    EXPECT_EQ(Names(), std::set<std::string>{"a.bin"});  // not even the folder
  }
  // Exactly the records: an empty file.
  RestoreReplayer replayer(recorder);
  ASSERT_TRUE(Restore("t.bin", &replayer, records));
  EXPECT_EQ(Info("t.bin").size, 0u);
}

TEST_F(BackupFileFailure, RecordsOfAnotherKindAreInvalidData) {
  BackupRecorder recorder = Recorded(10);
  struct Damage {
    const char* what;
    std::function<void(RestoreReplayer&)> apply;
  };
  const Damage damages[] = {
      {"opening version 2", [](RestoreReplayer& r) { r.opening[0] = 2; }},
      {"opening kind 2", [](RestoreReplayer& r) { r.opening[4] = 2; }},
      {"two streams", [](RestoreReplayer& r) { r.opening[12] = 2; }},
      {"naming tag 51", [](RestoreReplayer& r) { r.naming[0] = 51; }},
      {"name without terminator", [](RestoreReplayer& r) { r.naming.assign(48 + 1024 * 2, 'a'); r.naming[0] = 50; }},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    RestoreReplayer replayer(recorder);
    damage.apply(replayer);
    DWORD error = 0;
    EXPECT_FALSE(Restore("t.bin", &replayer, recorder.TotalBytes(), &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(Names(), std::set<std::string>{"a.bin"});
  }
}

TEST_F(BackupFileFailure, OnlyTheLowByteOfTheKindMatters) {
  // An archive keeps one byte of the kind; what comes back is that byte.
  BackupRecorder recorder = Recorded(10);
  RestoreReplayer replayer(recorder);
  replayer.opening[5] = 0x7F;
  EXPECT_TRUE(Restore("t.bin", &replayer, recorder.TotalBytes())) << GetLastError();
}

TEST_F(BackupFileFailure, NamesARestoreCouldNotTakeBackAreNeverSaved) {
  // 1024 code units leave no room for the terminator in a restore's buffer.
  CQVBackupFile file((Drive("") + WString(1024, 'n')).c_str());
  BackupRecorder recorder;
  EXPECT_FALSE(file.BackupFile(&BackupRecorder::Callback, recorder.UserValue()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(BackupFileFailure, TheLongestNameARestoreTakesIsOneShortOfItsBuffer) {
  BackupRecorder recorder = Recorded(10);
  RestoreReplayer replayer(recorder);
  replayer.naming.resize(48);
  replayer.naming.resize(48 + 1024 * 2, 'n');
  replayer.naming[48 + 1023 * 2] = 0;  // terminator in the last unit
  replayer.naming[48 + 1023 * 2 + 1] = 0;
  const ULONGLONG fileBytes = 16 + replayer.naming.size() + 10;
  ASSERT_TRUE(Restore("t.bin", &replayer, fileBytes)) << GetLastError();
  EXPECT_TRUE(ReadBytes(Native("t.bin")) == ReadBytes(Native("a.bin")));
}

TEST_F(BackupFileFailure, UnboundObjectsAndNullCallbacksAreRefused) {
  CQVBackupFile file;
  EXPECT_STREQ(U8(file.GetPath()).c_str(), "");
  EXPECT_FALSE(file.BackupFile(&BackupRecorder::Callback, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_STATE));
  EXPECT_FALSE(file.RestoreFile(&RestoreReplayer::Callback, 100, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_STATE));

  EXPECT_FALSE(file.Attach(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(file.Attach(QVT("")));
  ASSERT_TRUE(file.Attach(Drive("a.bin").c_str()));
  EXPECT_EQ(WString(file.GetPath()), Drive("a.bin"));
  EXPECT_FALSE(file.BackupFile(nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(file.RestoreFile(nullptr, 100, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  file.Detach();
  EXPECT_STREQ(U8(file.GetPath()).c_str(), "");
  EXPECT_FALSE(file.BackupFile(&BackupRecorder::Callback, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_STATE));
}

}  // namespace
}  // namespace qvtest
