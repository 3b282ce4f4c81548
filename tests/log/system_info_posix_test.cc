// The POSIX answers that stand in for the system's: Windows' English error
// texts, drive types from the drive map, and no version resource.
#include "platform/system_info.h"

#include <gtest/gtest.h>

#include "log/log_test_util.h"
#include "qvbackup/host.h"

namespace qvtest {
namespace {

using namespace qv::platform;

std::string TextOf(DWORD error) {
  WString text;
  return GetSystemErrorText(error, &text) ? U8(text) : std::string("<none>");
}

TEST(SystemInfoPosixTest, ErrorTextsAreWindowsEnglishTexts) {
  EXPECT_EQ(TextOf(2), "The system cannot find the file specified.");
  EXPECT_EQ(TextOf(3), "The system cannot find the path specified.");
  EXPECT_EQ(TextOf(5), "Access is denied.");
  EXPECT_EQ(TextOf(87), "The parameter is incorrect.");
  EXPECT_EQ(TextOf(112), "There is not enough space on the disk.");
  EXPECT_EQ(TextOf(183), "Cannot create a file when that file already exists.");
  EXPECT_EQ(TextOf(1223), "The operation was canceled by the user.");
  EXPECT_EQ(TextOf(5023), "The group or resource is not in the correct state to perform the requested operation.");
}

TEST(SystemInfoPosixTest, EveryErrorTheLibraryReportsHasAText) {
  for (DWORD error : {2, 3, 5, 6, 8, 13, 14, 18, 19, 21, 23, 29, 30, 31, 32, 38, 39, 50, 80, 87, 111, 112, 122,
                      123, 145, 161, 170, 183, 206, 259, 267, 487, 1117, 1168, 1223, 1323, 1460, 5023,
                      // and the ones the errno translation gives
                      4, 17, 25, 33, 1921}) {
    std::string text = TextOf(error);
    EXPECT_NE(text, "<none>") << error;
    EXPECT_EQ(text.back(), '.') << error;
  }
  EXPECT_EQ(TextOf(9), "<none>");
}

TEST(SystemInfoPosixTest, MappedLettersAreFixedDrivesAndOthersHaveNoRoot) {
  TempDir dir;
  EXPECT_EQ(DriveTypeOf(QVT("Q:\\")), kDriveTypeNoRootDir);
  ASSERT_TRUE(QVSetDriveMapping('Q', W(dir.path().string()).c_str(), nullptr));
  EXPECT_EQ(DriveTypeOf(QVT("Q:\\")), kDriveTypeFixed);
  EXPECT_EQ(DriveTypeOf(QVT("q:/")), kDriveTypeFixed);
  EXPECT_EQ(DriveTypeOf(QVT("Q:")), kDriveTypeNoRootDir);
  EXPECT_EQ(DriveTypeOf(QVT("Q:\\sub")), kDriveTypeNoRootDir);
  EXPECT_EQ(DriveTypeOf(nullptr), kDriveTypeNoRootDir);
  ASSERT_TRUE(QVSetDriveMapping('Q', nullptr, nullptr));
  EXPECT_EQ(DriveTypeOf(QVT("Q:\\")), kDriveTypeNoRootDir);
}

TEST(SystemInfoPosixTest, ProgramsHaveNoVersionResourceSoTheBannerIsEmpty) {
  ExecutableVersion version;
  EXPECT_FALSE(version.Load());
  EXPECT_EQ(GetLastError(), 1813u);
  WString value = W("unchanged");
  EXPECT_FALSE(version.QueryString(QVT("\\StringFileInfo\\040904B0\\ProductVersion"), &value));
  EXPECT_EQ(U8(value), "unchanged");
  EXPECT_TRUE(ExpectedExampleBanner().empty());
}

}  // namespace

WString ExpectedExampleBanner() { return WString(); }

}  // namespace qvtest
