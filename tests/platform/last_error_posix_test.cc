// The last error is per thread, as on Windows.
#include <gtest/gtest.h>

#include <thread>

#include "qvbackup/wintypes.h"

namespace {

TEST(LastErrorTest, EachThreadKeepsItsOwnValue) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenByOtherThreadAtStart = 12345;
  DWORD seenByOtherThreadAfterSet = 0;
  std::thread other([&] {
    seenByOtherThreadAtStart = GetLastError();
    SetLastError(ERROR_DISK_FULL);
    seenByOtherThreadAfterSet = GetLastError();
  });
  other.join();
  EXPECT_EQ(seenByOtherThreadAtStart, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(seenByOtherThreadAfterSet, static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace
