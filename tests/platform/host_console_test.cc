// The console calls the library exports to its host programs.
#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"
#include "qvbackup/host.h"

namespace qv::platform {
namespace {

TEST(HostConsoleTest, ProgramPathNamesThisTestProgram) {
  WCHAR buffer[4096];
  const DWORD length = QVGetProgramPath(buffer, 4096);
  ASSERT_GT(length, 0u) << GetLastError();
  const std::string path = Utf16ToUtf8(WStringView(buffer, length));
  EXPECT_NE(path.find("qv_platform_tests"), std::string::npos) << path;
  WCHAR tiny[4] = {'z', 'z', 'z', 'z'};
  EXPECT_EQ(QVGetProgramPath(tiny, 4), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(tiny[0], 0);
  EXPECT_EQ(QVGetProgramPath(nullptr, 4), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(HostConsoleTest, EnvironmentTextAndItsFailures) {
  // PATH is set wherever tests run; a name nobody sets is not.
  WCHAR buffer[32768];
  DWORD length = 7;
  const WString path = Utf8ToUtf16("PATH");
  ASSERT_TRUE(QVGetEnvironmentText(path.c_str(), buffer, 32768, &length)) << GetLastError();
  EXPECT_GT(length, 0u);
  EXPECT_EQ(WString(buffer).size(), length);
  const WString unset = Utf8ToUtf16("QV_TEST_NEVER_SET_7F3A");
  EXPECT_FALSE(QVGetEnvironmentText(unset.c_str(), buffer, 32768, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
  WCHAR tiny[2] = {'z', 'z'};
  EXPECT_FALSE(QVGetEnvironmentText(path.c_str(), tiny, 2, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(tiny[0], 0);
  EXPECT_FALSE(QVGetEnvironmentText(nullptr, buffer, 32768, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(QVGetEnvironmentText(path.c_str(), buffer, 32768, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(HostConsoleTest, StreamsAreCheckedAndAHiddenLineNeedsATerminal) {
  EXPECT_FALSE(QVIsConsole(3));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  WCHAR buffer[64];
  DWORD length = 0;
  EXPECT_FALSE(QVReadHiddenLine(buffer, 64, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (QVIsConsole(QV_STANDARD_INPUT)) GTEST_SKIP() << "standard input is a terminal here";
  EXPECT_FALSE(QVReadHiddenLine(buffer, 64, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
}  // namespace qv::platform
