// The fixed texts of the banner: the start time and the library's build
// stamp. (The summary's time is checked in the log's lines.)
#include "log/log_text.h"

#include <gtest/gtest.h>

#include <regex>

#include "log/log_test_util.h"

namespace qvtest {
namespace {

using namespace qv::log;

TEST(LogTextTest, BannerTimeHasNoLeadingZeroInTheDayOnly) {
  EXPECT_EQ(U8(WString(BannerTimeText(SYSTEMTIME{2011, 2, 4, 3, 10, 12, 40, 0}))), "Feb 3 2011 10:12:40");
  EXPECT_EQ(U8(WString(BannerTimeText(SYSTEMTIME{2011, 12, 0, 25, 9, 5, 7, 0}))), "Dec 25 2011 09:05:07");
}

TEST(LogTextTest, BuildStampIsMonthPaddedDayYearAndTime) {
  std::string stamp = U8(WString(LibraryBuildStamp()));
  EXPECT_TRUE(std::regex_match(stamp, std::regex("(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                                 "[ 123][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9]")))
      << stamp;
}

}  // namespace
}  // namespace qvtest
