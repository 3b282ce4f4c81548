// CQVBackupFile: the order of the calls a backup makes and the bytes of the
// opening and naming records at their offsets.
#include <gtest/gtest.h>

#include "services/backupfile_test_util.h"

namespace qvtest {
namespace {

using BackupFileRecords = BackupFileTest;

TEST_F(BackupFileRecords, OpeningRecordNamingRecordThenContentWithTheUserValue) {
  MakeSource("report.doc", 1500000);
  BackupRecorder recorder;
  DWORD error = 1;
  ASSERT_TRUE(Backup("report.doc", &recorder, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(recorder.calls.size(), 4u);
  const DWORD stages[] = {0, 1, 2, 2};
  for (std::size_t i = 0; i < recorder.calls.size(); ++i) {
    EXPECT_EQ(recorder.calls[i].stage, stages[i]) << i;
    EXPECT_EQ(recorder.calls[i].userValue, recorder.UserValue()) << i;
  }
  const WString name = W("report.doc");
  EXPECT_EQ(recorder.TotalBytes(), 16 + 48 + (name.size() + 1) * 2 + 1500000);
}

TEST_F(BackupFileRecords, OpeningRecordHoldsVersionKindAttributesAndOneStream) {
  MakeSource("a.txt", 10);
  BackupRecorder recorder;
  ASSERT_TRUE(Backup("a.txt", &recorder));
  const Bytes& opening = recorder.calls.at(0).bytes;
  ASSERT_EQ(opening.size(), 16u);
  EXPECT_EQ(ReadDword(opening, 0), static_cast<ULONGLONG>(QVBF_OPENING_VERSION));
  EXPECT_EQ(ReadDword(opening, 4), static_cast<ULONGLONG>(QVBF_KIND_FILE));
  EXPECT_EQ(ReadDword(opening, 8), Info("a.txt").attributes);
  EXPECT_EQ(ReadDword(opening, 12), 1u);
}

TEST_F(BackupFileRecords, NamingRecordFieldsSitAtTheirOffsets) {
  MakeSource("sub\\data.bin", 123456);
  ASSERT_TRUE(qv::platform::SetFileAttributesOf(Drive("sub\\data.bin").c_str(), FILE_ATTRIBUTE_READONLY));
  qv::platform::FileInformation info = Info("sub\\data.bin");
  BackupRecorder recorder;
  ASSERT_TRUE(Backup("sub\\data.bin", &recorder));
  const Bytes& naming = recorder.calls.at(1).bytes;
  const WString name = W("data.bin");
  ASSERT_EQ(naming.size(), 48 + (name.size() + 1) * 2);
  EXPECT_EQ(ReadDword(naming, 0), static_cast<ULONGLONG>(QVBF_NAMING_RECORD_TAG));
  EXPECT_EQ(recorder.calls[1].path, Drive("sub\\data.bin"));  // the reference at 4, valid during the call
  EXPECT_EQ(ReadDword(naming, 12), info.attributes);
  EXPECT_NE(ReadDword(naming, 12) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(ReadQword(naming, 16), 123456u);
  EXPECT_EQ(ReadQword(naming, 24), Ticks(info.creationTime));
  EXPECT_EQ(ReadQword(naming, 32), kLastAccessTicks);
  EXPECT_EQ(ReadQword(naming, 40), kLastWriteTicks);
  for (std::size_t i = 0; i < name.size(); ++i) {
    EXPECT_EQ(naming[48 + 2 * i] | naming[49 + 2 * i] << 8, name[i]) << i;
  }
  EXPECT_EQ(naming[naming.size() - 2] | naming[naming.size() - 1], 0);  // terminator
}

TEST_F(BackupFileRecords, EmptyFileDeliversBothRecordsAndNoContent) {
  MakeSource("empty", 0);
  BackupRecorder recorder;
  ASSERT_TRUE(Backup("empty", &recorder));
  ASSERT_EQ(recorder.calls.size(), 2u);
  EXPECT_EQ(ReadQword(recorder.calls[1].bytes, 16), 0u);
  EXPECT_EQ(recorder.TotalBytes(), 16u + 48u + 6u * 2u);
}

}  // namespace
}  // namespace qvtest
