// CQVIni: the bytes it writes, the order of sections and items, and how
// Store and bad input fail.
#include "services/qvini.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/test_util.h"

namespace {

using qvtest::TempDir;
using qvtest::W;
using qvtest::WString;

std::vector<unsigned char> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// A byte order mark and `utf8` as UTF-16LE.
std::vector<unsigned char> Utf16LeWithMark(const std::string& utf8) {
  std::vector<unsigned char> bytes = {0xFF, 0xFE};
  for (WCHAR c : W(utf8)) {
    bytes.push_back(static_cast<unsigned char>(c & 0xFF));
    bytes.push_back(static_cast<unsigned char>(c >> 8));
  }
  return bytes;
}

class IniTest : public ::testing::Test {
 protected:
  WString DrivePath(const std::string& name) const { return dir_.DrivePath() + W("\\" + name); }

  TempDir dir_;
  CQVIni ini_;
};

TEST_F(IniTest, WritesSectionsAndItemsInOrderAsUtf16WithCrLf) {
  ASSERT_TRUE(ini_.AddSection(QVT("Parameters")));
  ASSERT_TRUE(ini_.AddSection(QVT("Selected")));
  ASSERT_TRUE(ini_.AddSection(QVT("Include")));
  ASSERT_TRUE(ini_.AddItem(QVT("Include"), W("C:\\Users\\J\xC3\xBCrgen\\\xF0\x9F\x93\xB7.jpg=1").c_str()));
  ASSERT_TRUE(ini_.AddItem(QVT("Parameters"), QVT("Version=1")));
  ASSERT_TRUE(ini_.AddItem(QVT("include"), QVT("D:\\a.txt=1")));  // the same section
  ASSERT_TRUE(ini_.AddItem(QVT("Parameters"), QVT("Drives=CD")));
  ASSERT_TRUE(ini_.AddItem(QVT("Exclude"), QVT("")));  // a new, last section
  EXPECT_EQ(ini_.Dump(), 1);

  ASSERT_TRUE(ini_.Store(DrivePath("list.ini").c_str(), TRUE));
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(ReadBytes(dir_.path() / "list.ini"),
            Utf16LeWithMark("[Parameters]\r\nVersion=1\r\nDrives=CD\r\n"
                            "[Selected]\r\n"
                            "[Include]\r\nC:\\Users\\J\xC3\xBCrgen\\\xF0\x9F\x93\xB7.jpg=1\r\nD:\\a.txt=1\r\n"
                            "[Exclude]\r\n\r\n"));
}

TEST_F(IniTest, AnEmptyWriterStillWritesTheMark) {
  ASSERT_TRUE(ini_.Store(DrivePath("empty.ini").c_str(), TRUE));
  EXPECT_EQ(ReadBytes(dir_.path() / "empty.ini"), (std::vector<unsigned char>{0xFF, 0xFE}));
}

TEST_F(IniTest, RefusesTextThatWouldReadBackAsAnotherLine) {
  const WCHAR* badSections[] = {nullptr, QVT(""), QVT("a]b"), QVT("a\r\nb"), QVT("a\nb")};
  for (const WCHAR* section : badSections) {
    SetLastError(0);
    EXPECT_FALSE(ini_.AddSection(section));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(ini_.AddItem(section, QVT("k=v")));
  }
  const WCHAR* badItems[] = {nullptr, QVT("k=v\r\n[Other]"), QVT("k=\nv"), QVT("[Other]")};
  for (const WCHAR* item : badItems) {
    SetLastError(0);
    EXPECT_FALSE(ini_.AddItem(QVT("Section"), item));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  // Nothing of the refused calls was kept.
  ASSERT_TRUE(ini_.Store(DrivePath("none.ini").c_str(), TRUE));
  EXPECT_EQ(ReadBytes(dir_.path() / "none.ini").size(), 2u);
}

TEST_F(IniTest, StoreFailsCleanlyAndKeepsOrReplacesExistingFiles) {
  ASSERT_TRUE(ini_.AddItem(QVT("Parameters"), QVT("Version=1")));

  EXPECT_FALSE(ini_.Store(DrivePath("no folder\\list.ini").c_str(), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "no folder"));
  EXPECT_FALSE(ini_.Store(dir_.DrivePath().c_str(), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(ini_.Store(QVT(""), TRUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  std::ofstream(dir_.path() / "list.ini") << "old";
  EXPECT_FALSE(ini_.Store(DrivePath("list.ini").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(ReadBytes(dir_.path() / "list.ini"), (std::vector<unsigned char>{'o', 'l', 'd'}));
  ASSERT_TRUE(ini_.Store(DrivePath("list.ini").c_str(), TRUE));
  EXPECT_EQ(ReadBytes(dir_.path() / "list.ini"), Utf16LeWithMark("[Parameters]\r\nVersion=1\r\n"));
}

}  // namespace
