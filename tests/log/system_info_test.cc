// The system facts the log reads: clock, local time, current folder, drive
// types and error texts.
#include "platform/system_info.h"

#include <gtest/gtest.h>

#include <ctime>

#include "log/log_test_util.h"

namespace qvtest {
namespace {

using namespace qv::platform;

TEST(SystemInfoTest, LocalTimeAgreesWithTheCLibrary) {
  for (std::int64_t seconds : {kExampleStart, std::int64_t{1324803907}, std::int64_t{1467331200}}) {
    SCOPED_TRACE(seconds);
    SYSTEMTIME local;
    ASSERT_TRUE(LocalTimeOf(seconds, &local));
    std::time_t value = static_cast<std::time_t>(seconds);
    std::tm expected = *std::localtime(&value);
    EXPECT_EQ(local.wYear, expected.tm_year + 1900);
    EXPECT_EQ(local.wMonth, expected.tm_mon + 1);
    EXPECT_EQ(local.wDay, expected.tm_mday);
    EXPECT_EQ(local.wDayOfWeek, expected.tm_wday);
    EXPECT_EQ(local.wHour, expected.tm_hour);
    EXPECT_EQ(local.wMinute, expected.tm_min);
    EXPECT_EQ(local.wSecond, expected.tm_sec);
  }
}

TEST(SystemInfoTest, ClockIsTheCalendarTime) {
  std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
  std::int64_t now = CurrentCalendarTime();
  std::int64_t after = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_GE(now, before);
  EXPECT_LE(now, after);
}

TEST(SystemInfoTest, CurrentFolderIsTheDrivePathOfTheProcessFolder) {
  WString folder;
  ASSERT_TRUE(GetCurrentFolder(&folder));
  EXPECT_EQ(folder, DrivePathOf(std::filesystem::current_path()));
}

TEST(SystemInfoTest, DriveCIsAFixedDrive) { EXPECT_EQ(DriveTypeOf(QVT("C:\\")), kDriveTypeFixed); }

TEST(SystemInfoTest, ErrorTextsHaveNoLineEndAndUnknownNumbersHaveNone) {
  WString text;
  ASSERT_TRUE(GetSystemErrorText(ERROR_FILE_NOT_FOUND, &text));
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '\r');
  text = W("unchanged");
  EXPECT_FALSE(GetSystemErrorText(12345, &text));
  EXPECT_EQ(GetLastError(), 317u);
}

}  // namespace
}  // namespace qvtest
