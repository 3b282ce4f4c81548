// theLog itself: built before any static object of a file that uses it, and
// searching the drives C to Z.
#include <gtest/gtest.h>

#include "log/log_test_util.h"

namespace qvtest {
namespace {

// Read while this file's static objects are built: a log not yet built
// would show the level of zeroed storage.
const DWORD levelSeenDuringStaticInitialisation = theLog.GetLevel();

TEST(TheLogTest, IsBuiltBeforeStaticObjectsThatUseIt) {
  EXPECT_NE(levelSeenDuringStaticInitialisation, 0u);
  EXPECT_EQ(levelSeenDuringStaticInitialisation, theLog.GetLevel());
}

TEST(TheLogTest, ConfigurationIsSearchedOnTheRootsOfDrivesCToZ) {
  std::vector<CQVString> roots = qv::log::LogEnv().ConfigurationRoots();
  ASSERT_EQ(roots.size(), 24u);
  for (std::size_t i = 0; i < roots.size(); ++i) {
    WString expected = {static_cast<WCHAR>('C' + i), ':', '\\'};
    EXPECT_EQ(WString(roots[i]), expected);
  }
}

}  // namespace
}  // namespace qvtest
