// OpenFile's creating modes on real files, on both platforms.
#include "platform/random_access_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

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

// New names and archive identities come from these: each is a version 4
// UUID, and no two are alike.
TEST(RandomAccessFileTest, CreateUuidGivesVersionFourUuidsThatDiffer) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    BYTE uuid[16] = {};
    ASSERT_TRUE(CreateUuid(uuid));
    EXPECT_EQ(uuid[7] >> 4, 4) << i;
    EXPECT_EQ(uuid[8] & 0xC0, 0x80) << i;
    seen.insert(std::string(reinterpret_cast<const char*>(uuid), sizeof(uuid)));
  }
  EXPECT_EQ(seen.size(), 200u);
}

}  // namespace
}  // namespace qv::platform
