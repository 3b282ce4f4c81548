// CreateFolderTree over the POSIX drive map: drives that do not exist are
// never made, and permissions are the system's.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/folders.h"
#include "platform_test_util.h"
#include "qvbackup/host.h"

namespace qv::platform {
namespace {

using qvtest::TempDir;
using qvtest::W;

TEST(FolderTreePosixTest, AnUnmappedLetterDoesNotExist) {
  ASSERT_TRUE(QVSetDriveMapping('Q', nullptr, nullptr));
  EXPECT_FALSE(CreateFolderTree(QVT("Q:\\a\\b")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(FolderTreePosixTest, ADriveWhoseRootFolderIsMissingIsNotCreated) {
  TempDir dir;
  std::filesystem::path root = dir.path() / "gone";
  ASSERT_TRUE(QVSetDriveMapping('Q', W(root.string()).c_str(), nullptr));
  EXPECT_FALSE(CreateFolderTree(QVT("Q:\\a")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(std::filesystem::exists(root));

  std::filesystem::create_directory(root);
  EXPECT_TRUE(CreateFolderTree(QVT("Q:\\a\\b")));
  EXPECT_TRUE(std::filesystem::is_directory(root / "a" / "b"));
  QVSetDriveMapping('Q', nullptr, nullptr);
}

TEST(FolderTreePosixTest, AFolderThatMayNotBeWrittenIsAccessDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  TempDir dir;
  dir.MakeDir("closed");
  ASSERT_EQ(::chmod((dir.path() / "closed").c_str(), 0555), 0);
  EXPECT_FALSE(CreateFolderTree((dir.DrivePath() + W("\\closed\\inner")).c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(FolderTreePosixTest, ALinkToAFolderIsFollowed) {
  TempDir dir;
  dir.MakeDir("real");
  std::filesystem::create_directory_symlink(dir.path() / "real", dir.path() / "link");
  EXPECT_TRUE(CreateFolderTree((dir.DrivePath() + W("\\link\\made")).c_str())) << GetLastError();
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "real" / "made"));
}

}  // namespace
}  // namespace qv::platform
