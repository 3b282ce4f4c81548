// CreateFolderTree on real temporary folders, on both platforms.
#include "platform/folders.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform_test_util.h"

namespace qv::platform {
namespace {

using qvtest::DrivePathIn;
using qvtest::TempDir;
using qvtest::W;

class FolderTreeTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(FolderTreeTest, CreatesEveryMissingFolderOnTheWay) {
  ASSERT_TRUE(CreateFolderTree(DrivePathIn(dir_, "a\\b\\c").c_str())) << GetLastError();
  EXPECT_TRUE(std::filesystem::is_directory(dir_.path() / "a" / "b" / "c"));
}

TEST_F(FolderTreeTest, ExistingFoldersTrailingBackslashesAndRootsAreFine) {
  dir_.MakeDir("x/y");
  EXPECT_TRUE(CreateFolderTree(DrivePathIn(dir_, "x\\y").c_str()));
  EXPECT_TRUE(CreateFolderTree(DrivePathIn(dir_, "x\\y\\z\\").c_str()));
  EXPECT_TRUE(std::filesystem::is_directory(dir_.path() / "x" / "y" / "z"));
  EXPECT_TRUE(CreateFolderTree(dir_.DrivePath().c_str()));
  WString drive = dir_.DrivePath().substr(0, 3);  // "C:\"
  EXPECT_TRUE(CreateFolderTree(drive.c_str())) << qvtest::U8(drive);
}

TEST_F(FolderTreeTest, AFileInTheWayIsAlreadyExisting) {
  dir_.WriteFile("file", 3);
  for (const char* path : {"file", "file\\below", "file\\below\\deeper"}) {
    SCOPED_TRACE(path);
    SetLastError(0);
    EXPECT_FALSE(CreateFolderTree(DrivePathIn(dir_, path).c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  }
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_.path() / "file"));
}

TEST_F(FolderTreeTest, NullOrEmptyPathIsAnInvalidParameter) {
  EXPECT_FALSE(CreateFolderTree(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(CreateFolderTree(QVT("")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
}  // namespace qv::platform
