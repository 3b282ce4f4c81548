// On Windows the drive letters are the system's own.
#include <gtest/gtest.h>

#include "common/test_util.h"
#include "qvbackup/host.h"

namespace {

using qvtest::W;

TEST(WindowsHostDrivesTest, DriveMappingIsNotSupported) {
  SetLastError(0);
  EXPECT_FALSE(QVSetDriveMapping('Q', W("C:\\").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST(WindowsHostDrivesTest, DrivePathIsTheFullPath) {
  WCHAR buffer[MAX_PATH];
  DWORD length = QVGetDrivePath(W("C:\\a\\..\\b\\.\\c.txt").c_str(), buffer, MAX_PATH);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(qvtest::U8(buffer), "C:\\b\\c.txt");
  WCHAR small[5] = {'z'};
  EXPECT_EQ(QVGetDrivePath(W("C:\\b\\c.txt").c_str(), small, 5), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(small[0], 0);
}

}  // namespace
