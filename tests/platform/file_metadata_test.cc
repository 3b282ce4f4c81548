// SetFileTimes and SetFileAttributesOf on real files, on both platforms.
#include "platform/file_metadata.h"

#include <gtest/gtest.h>

#include "platform_test_util.h"

namespace qv::platform {
namespace {

using qvtest::DrivePathIn;
using qvtest::TempDir;
using qvtest::TicksOf;

FILETIME TimeOf(ULONGLONG ticks) { return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}; }

class FileMetadataTest : public ::testing::Test {
 protected:
  FileInformation Info() {
    FileInformation info;
    EXPECT_TRUE(GetFileInformation(path_.c_str(), &info)) << GetLastError();
    return info;
  }

  TempDir dir_;
  WString path_ = (dir_.WriteFile("f.bin", 10), DrivePathIn(dir_, "f.bin"));
};

TEST_F(FileMetadataTest, TimesAreSetToThe100Nanoseconds) {
  const ULONGLONG access = 130000000007654321ULL;
  const ULONGLONG write = 129400000001234567ULL;
  ASSERT_TRUE(SetFileTimes(path_.c_str(), TimeOf(0), TimeOf(access), TimeOf(write))) << GetLastError();
  FileInformation info = Info();
  EXPECT_EQ(TicksOf(info.lastAccessTime), access);
  EXPECT_EQ(TicksOf(info.lastWriteTime), write);
}

TEST_F(FileMetadataTest, ZeroAndOutOfRangeTimesLeaveTheTimeAsItWas) {
  const ULONGLONG access = 130000000007654321ULL;
  const ULONGLONG write = 129400000001234567ULL;
  ASSERT_TRUE(SetFileTimes(path_.c_str(), TimeOf(0), TimeOf(access), TimeOf(write)));
  ASSERT_TRUE(SetFileTimes(path_.c_str(), TimeOf(0), TimeOf(0), TimeOf(write + 10))) << GetLastError();
  EXPECT_EQ(TicksOf(Info().lastAccessTime), access);
  EXPECT_EQ(TicksOf(Info().lastWriteTime), write + 10);
  ASSERT_TRUE(SetFileTimes(path_.c_str(), TimeOf(0), TimeOf(access + 10), TimeOf(~0ULL))) << GetLastError();
  EXPECT_EQ(TicksOf(Info().lastAccessTime), access + 10);
  EXPECT_EQ(TicksOf(Info().lastWriteTime), write + 10);
}

TEST_F(FileMetadataTest, ReadOnlyIsSetAndClearedAndWhatCannotBeSetIsIgnored) {
  ASSERT_TRUE(SetFileAttributesOf(path_.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_NE(Info().attributes & FILE_ATTRIBUTE_READONLY, 0u);
  ASSERT_TRUE(SetFileAttributesOf(path_.c_str(), FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(Info().attributes & FILE_ATTRIBUTE_READONLY, 0u);
  // Folder, reparse point and device bits describe what a file is.
  ASSERT_TRUE(SetFileAttributesOf(path_.c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                                      FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY))
      << GetLastError();
  FileInformation info = Info();
  EXPECT_NE(info.attributes & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(info.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), 0u);
  EXPECT_TRUE(SetFileAttributesOf(path_.c_str(), 0));
  EXPECT_EQ(Info().attributes & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(FileMetadataTest, MissingFilesAndNullPathsFail) {
  WString missing = DrivePathIn(dir_, "missing.bin");
  EXPECT_FALSE(SetFileTimes(missing.c_str(), TimeOf(0), TimeOf(1), TimeOf(1)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(SetFileAttributesOf(missing.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(SetFileTimes(nullptr, TimeOf(0), TimeOf(1), TimeOf(1)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(SetFileAttributesOf(nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
}  // namespace qv::platform
