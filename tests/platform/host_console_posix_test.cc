// POSIX environment values that are not UTF-8 survive the way to the host.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/text.h"
#include "qvbackup/host.h"

namespace qv::platform {
namespace {

TEST(HostConsolePosixTest, EnvironmentBytesThatAreNotUtf8ComeBackWhole) {
  const std::string value = "caf\xc3\xa9 \xff\xfe end";
  ASSERT_EQ(setenv("QV_TEST_ENV_BYTES", value.c_str(), 1), 0);
  WCHAR buffer[256];
  DWORD length = 0;
  const WString name = Utf8ToUtf16("QV_TEST_ENV_BYTES");
  ASSERT_TRUE(QVGetEnvironmentText(name.c_str(), buffer, 256, &length));
  EXPECT_EQ(Utf16ToUtf8(WStringView(buffer, length)), value);
  ASSERT_EQ(setenv("QV_TEST_ENV_BYTES", "", 1), 0);
  length = 9;
  ASSERT_TRUE(QVGetEnvironmentText(name.c_str(), buffer, 256, &length)) << "set but empty";
  EXPECT_EQ(length, 0u);
  unsetenv("QV_TEST_ENV_BYTES");
  EXPECT_FALSE(QVGetEnvironmentText(name.c_str(), buffer, 256, &length));
}

}  // namespace
}  // namespace qv::platform
