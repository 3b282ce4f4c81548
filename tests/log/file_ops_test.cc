// Whole-file operations of the platform layer that the log relies on.
#include "platform/file_ops.h"

#include <gtest/gtest.h>

#include "log/log_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;
using namespace qv::platform;

class FileOpsTest : public ::testing::Test {
 protected:
  WString PathOf(const std::string& name) { return dir_.DrivePath() + W("\\" + name); }

  TempDir dir_;
};

TEST_F(FileOpsTest, CreatingEmptiesAnExistingFile) {
  dir_.WriteFile("f.txt", 100);
  auto file = CreateWritableFile(PathOf("f.txt").c_str());
  ASSERT_NE(file, nullptr) << GetLastError();
  EXPECT_EQ(fs::file_size(dir_.path() / "f.txt"), 0u);
  EXPECT_TRUE(file->Write("abc", 3));
  file.reset();
  EXPECT_EQ(ReadBytes(dir_.path() / "f.txt"), "abc");
}

TEST_F(FileOpsTest, CreatingInAMissingFolderFailsWithPathNotFound) {
  SetLastError(0);
  EXPECT_EQ(CreateWritableFile(PathOf("none\\f.txt").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FileOpsTest, ReadWriteOpenTellsFilesFromFoldersAndMissingItems) {
  dir_.WriteFile("f.txt", 1);
  dir_.MakeDir("d");
  EXPECT_TRUE(CanOpenForReadWrite(PathOf("f.txt").c_str()));
  EXPECT_FALSE(CanOpenForReadWrite(PathOf("absent.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(CanOpenForReadWrite(PathOf("d").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FileOpsTest, RemoveDeletesFilesOnly) {
  dir_.WriteFile("f.txt", 1);
  dir_.MakeDir("d");
  EXPECT_TRUE(RemoveFile(PathOf("f.txt").c_str()));
  EXPECT_FALSE(fs::exists(dir_.path() / "f.txt"));
  EXPECT_FALSE(RemoveFile(PathOf("f.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(RemoveFile(PathOf("d").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(fs::is_directory(dir_.path() / "d"));
}

TEST_F(FileOpsTest, RenameReplacesTheTarget) {
  dir_.WriteFile("from.txt", 3);
  dir_.WriteFile("to.txt", 10);
  EXPECT_TRUE(RenameFile(PathOf("from.txt").c_str(), PathOf("to.txt").c_str())) << GetLastError();
  EXPECT_FALSE(fs::exists(dir_.path() / "from.txt"));
  EXPECT_EQ(fs::file_size(dir_.path() / "to.txt"), 3u);
}

TEST_F(FileOpsTest, MakeWritableClearsReadOnly) {
  fs::path file = dir_.WriteFile("ro.txt", 1);
  fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  ASSERT_EQ(fs::status(file).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_TRUE(MakeWritable(PathOf("ro.txt").c_str()));
  EXPECT_NE(fs::status(file).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_TRUE(RemoveFile(PathOf("ro.txt").c_str()));
}

}  // namespace
}  // namespace qvtest
