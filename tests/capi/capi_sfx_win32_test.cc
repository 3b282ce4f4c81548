// A self-extracting archive made through the C interface: NAME.exe, the
// stub beside the host program, read back like any other archive.
#include <gtest/gtest.h>

#include <filesystem>

#include "capi/capi_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

class CapiSfx : public CapiFixture {};

TEST_F(CapiSfx, ASelfExtractingArchiveListsAndRestores) {
  temp_.WriteFile("src/a.txt", 5000);
  options_.self_extracting = 1;
  ASSERT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  EXPECT_EQ(FromUtf8(session_.Text("archive")), archives_ / "photos.exe");
  ASSERT_EQ(qvb_list(session_.get(), Archive("photos.exe").c_str(), nullptr), QVB_OK) << session_.Message();
  EXPECT_EQ(session_.Of(QVB_EVENT_ITEM).size(), 1u);
  const fs::path target = temp_.path() / "back";
  ASSERT_EQ(qvb_restore(session_.get(), Archive("photos.exe").c_str(), Utf8Path(target).c_str(), nullptr), QVB_OK)
      << session_.Message();
  EXPECT_EQ(Contents(RestoredPath(target, source_ / "a.txt")), Contents(source_ / "a.txt"));
  EXPECT_EQ(qvb_verify(session_.get(), Archive("photos.exe").c_str()), QVB_OK) << session_.Message();
}

}  // namespace
}  // namespace qvtest
