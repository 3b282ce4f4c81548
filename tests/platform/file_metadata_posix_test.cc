// SetFileTimes and SetFileAttributesOf on POSIX, checked through stat: times
// before 1970, links, and the permission bits read-only stands for.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_metadata.h"
#include "platform_test_util.h"

namespace qv::platform {
namespace {

using qvtest::DrivePathIn;
using qvtest::TempDir;

FILETIME TimeOf(ULONGLONG ticks) { return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}; }

struct stat LstatOf(const std::filesystem::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status;
}

TEST(FileMetadataPosixTest, TimesBefore1970BecomeNegativeSecondsWithAPositiveFraction) {
  TempDir dir;
  dir.WriteFile("old", 1);
  // 1 January 1960, 00:00:00.0000001 UTC: 315619200 seconds before 1970.
  const ULONGLONG ticks = (11644473600ULL - 315619200ULL) * 10000000ULL + 1;
  ASSERT_TRUE(SetFileTimes(DrivePathIn(dir, "old").c_str(), TimeOf(0), TimeOf(ticks), TimeOf(ticks)));
  struct stat status = LstatOf(dir.path() / "old");
  EXPECT_EQ(status.st_mtim.tv_sec, -315619200);
  EXPECT_EQ(status.st_mtim.tv_nsec, 100);
  EXPECT_EQ(status.st_atim.tv_sec, -315619200);
}

TEST(FileMetadataPosixTest, ALinksOwnTimesAreSetAndItsTargetIsLeftAlone) {
  TempDir dir;
  dir.WriteFile("target", 1);
  std::filesystem::create_symlink(dir.path() / "target", dir.path() / "link");
  struct stat before = LstatOf(dir.path() / "target");
  const ULONGLONG ticks = 129400000001234567ULL;
  ASSERT_TRUE(SetFileTimes(DrivePathIn(dir, "link").c_str(), TimeOf(0), TimeOf(ticks), TimeOf(ticks)))
      << GetLastError();
  EXPECT_EQ(LstatOf(dir.path() / "link").st_mtim.tv_nsec, 123456700);
  EXPECT_EQ(LstatOf(dir.path() / "target").st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  // Attributes: a link has no permissions of its own to change.
  EXPECT_TRUE(SetFileAttributesOf(DrivePathIn(dir, "link").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_NE(LstatOf(dir.path() / "target").st_mode & S_IWUSR, 0u);
}

TEST(FileMetadataPosixTest, ReadOnlyTakesEveryWritePermissionAndClearingGivesTheOwnersBack) {
  TempDir dir;
  dir.WriteFile("f", 1);
  std::filesystem::path native = dir.path() / "f";
  ASSERT_EQ(::chmod(native.c_str(), 0666), 0);
  ASSERT_TRUE(SetFileAttributesOf(DrivePathIn(dir, "f").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(LstatOf(native).st_mode & 07777, 0444u);
  ASSERT_TRUE(SetFileAttributesOf(DrivePathIn(dir, "f").c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(LstatOf(native).st_mode & 07777, 0644u);
}

}  // namespace
}  // namespace qv::platform
