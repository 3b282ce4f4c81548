// The banner from this test program's own version resource
// (version_resource.rc): French strings first, US English for what they lack.
#include <gtest/gtest.h>

#include "log/log_test_util.h"
#include "log/log_text.h"
#include "platform/system_info.h"

namespace qvtest {
namespace {

TEST(BannerWin32Test, VersionStringsComeFromTheProgramsResource) {
  qv::platform::ExecutableVersion version;
  ASSERT_TRUE(version.Load()) << GetLastError();
  WString value;
  ASSERT_TRUE(version.QueryString(QVT("\\StringFileInfo\\040C04B0\\OriginalFilename"), &value));
  EXPECT_EQ(U8(value), "backup.exe");
  ASSERT_TRUE(version.QueryString(QVT("\\StringFileInfo\\040904B0\\OriginalFilename"), &value));
  EXPECT_EQ(U8(value), "english.exe");
  value = W("unchanged");
  EXPECT_FALSE(version.QueryString(QVT("\\StringFileInfo\\040C04B0\\ProductVersion"), &value));
  EXPECT_EQ(U8(value), "unchanged");
}

}  // namespace

WString ExpectedExampleBanner() {
  return W("backup.exe - 1.0.0.126 - Compiled on ") + WString(qv::log::LibraryBuildStamp()) +
         W(" - Executed on Feb 3 2011 10:12:40");
}

}  // namespace qvtest
