// errno values become the Windows error numbers the library reports.
#include "platform/posix/posix_error.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace qv::platform::posix {
namespace {

struct ErrnoCase {
  const char* label;
  int errnoValue;
  DWORD windowsError;
};

TEST(PosixErrorTest, MapsEachErrnoToItsWindowsNumber) {
  const ErrnoCase cases[] = {
      {"none", 0, 0},
      {"ENOENT", ENOENT, 2},
      {"ENOTDIR", ENOTDIR, 3},
      {"EACCES", EACCES, 5},
      {"EPERM", EPERM, 5},
      {"EISDIR", EISDIR, 5},
      {"EBADF", EBADF, 6},
      {"ENOMEM", ENOMEM, 8},
      {"EEXIST", EEXIST, 80},
      {"ENOSPC", ENOSPC, 112},
      {"EFBIG", EFBIG, 112},
      {"EDQUOT", EDQUOT, 112},
      {"EIO", EIO, 30},
      {"ENAMETOOLONG", ENAMETOOLONG, 206},
      {"EMFILE", EMFILE, 4},
      {"ENFILE", ENFILE, 4},
      {"EINVAL", EINVAL, 87},
      {"EROFS", EROFS, 19},
      {"ENOTEMPTY", ENOTEMPTY, 145},
      {"EBUSY", EBUSY, 170},
      {"ELOOP", ELOOP, 1921},
      {"EXDEV", EXDEV, 17},
      {"ETXTBSY", ETXTBSY, 32},
      {"EAGAIN", EAGAIN, 33},
      {"ENOTSUP", ENOTSUP, 50},
      {"EOPNOTSUPP", EOPNOTSUPP, 50},
      {"ESPIPE", ESPIPE, 25},
      {"EPIPE (no closer equivalent)", EPIPE, 31},
      {"ECONNRESET (no closer equivalent)", ECONNRESET, 31},
      {"unknown number", 999999, 31},
  };
  for (const ErrnoCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(WindowsErrorFromErrno(c.errnoValue), c.windowsError);
  }
}

TEST(PosixErrorTest, FailWithErrnoSetsTheMappedLastError) {
  SetLastError(0);
  EXPECT_FALSE(FailWithErrno(ENOSPC));
  EXPECT_EQ(GetLastError(), 112u);
  EXPECT_FALSE(FailWith(ERROR_CANCELLED));
  EXPECT_EQ(GetLastError(), 1223u);
}

}  // namespace
}  // namespace qv::platform::posix
