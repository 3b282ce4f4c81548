// Local times turned to UTC under fixed time zones, and the ANSI page of
// short names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "common/scoped_time_zone.h"
#include "platform/code_page.h"
#include "platform/system_info.h"

namespace {

SYSTEMTIME Local(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
  SYSTEMTIME t = {};
  t.wYear = year;
  t.wMonth = month;
  t.wDay = day;
  t.wHour = hour;
  t.wMinute = minute;
  t.wSecond = second;
  return t;
}

constexpr ULONGLONG kSecond = 10000000;
constexpr ULONGLONG k1970 = 11644473600ull * kSecond;

TEST(LocalTimeToUtcTicks, TakesTheOffsetOfTheDateItself) {
  ULONGLONG ticks = 0;
  {
    qvtest::ScopedTimeZone zone("UTC0");
    ASSERT_TRUE(qv::platform::LocalTimeToUtcTicks(Local(2023, 7, 14, 13, 45, 58), &ticks));
    EXPECT_EQ(ticks, k1970 + 1689342358ull * kSecond);
  }
  {
    qvtest::ScopedTimeZone zone("<+03>-3");
    ASSERT_TRUE(qv::platform::LocalTimeToUtcTicks(Local(2023, 7, 14, 13, 45, 58), &ticks));
    EXPECT_EQ(ticks, k1970 + (1689342358ull - 3 * 3600) * kSecond);
  }
  {
    // Central Europe: +2 in July, +1 in January, whenever the question is asked.
    qvtest::ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    ASSERT_TRUE(qv::platform::LocalTimeToUtcTicks(Local(2023, 7, 14, 13, 45, 58), &ticks));
    EXPECT_EQ(ticks, k1970 + (1689342358ull - 2 * 3600) * kSecond);
    ASSERT_TRUE(qv::platform::LocalTimeToUtcTicks(Local(2023, 1, 14, 13, 45, 58), &ticks));
    EXPECT_EQ(ticks, k1970 + (1673703958ull - 3600) * kSecond);
  }
  SYSTEMTIME bad = Local(2023, 13, 1, 0, 0, 0);
  EXPECT_FALSE(qv::platform::LocalTimeToUtcTicks(bad, &ticks));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(qv::platform::LocalTimeToUtcTicks(Local(1500, 1, 1, 0, 0, 0), &ticks));
}

TEST(AnsiToUtf16, WesternPageOnPosix) {
  EXPECT_EQ(qv::platform::AnsiToUtf16("README.TXT"), u"README.TXT");
  EXPECT_EQ(qv::platform::AnsiToUtf16("\xC9T\xC9.\x80"), u"ÉTÉ.€");
  EXPECT_EQ(qv::platform::AnsiToUtf16("\x81"), u"\u0081");  // unassigned: the C1 control
  EXPECT_TRUE(qv::platform::AnsiToUtf16("").empty());
}

}  // namespace
