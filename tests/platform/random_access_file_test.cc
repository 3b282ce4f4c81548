// OpenFile's creating modes on real files, on both platforms.
#include "platform/random_access_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform_test_util.h"

namespace qv::platform {
namespace {

using qvtest::DrivePathIn;
using qvtest::TempDir;

TEST(RandomAccessFileTest, CreateNewMakesAFileOnlyWhereNothingIs) {
  TempDir dir;
  WString path = DrivePathIn(dir, "new.bin");
  auto file = OpenFile(path.c_str(), OpenMode::kCreateNew, Sharing::kRead);
  ASSERT_TRUE(file) << GetLastError();
  ASSERT_TRUE(file->Write("abc", 3));
  file.reset();

  EXPECT_FALSE(OpenFile(path.c_str(), OpenMode::kCreateNew, Sharing::kRead));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  std::ifstream in(dir.path() / "new.bin", std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "abc");  // the existing file is not emptied

  dir.MakeDir("folder");
  EXPECT_FALSE(OpenFile(DrivePathIn(dir, "folder").c_str(), OpenMode::kCreateNew, Sharing::kRead));
}

}  // namespace
}  // namespace qv::platform
