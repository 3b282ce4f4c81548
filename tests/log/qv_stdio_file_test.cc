// The log's file: byte order mark, UTF-16LE units and CR LF line ends, the
// same bytes on every platform.
#include "log/qv_stdio_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "log/log_test_util.h"

namespace qvtest {
namespace {

class StdioFileTest : public ::testing::Test {
 protected:
  std::filesystem::path OpenFile(QV_StdioFile* file) {
    std::filesystem::path path = dir_.path() / "lines.txt";
    EXPECT_TRUE(file->Open(qv::platform::CreateWritableFile(DrivePathOf(path).c_str())));
    return path;
  }

  TempDir dir_;
};

TEST_F(StdioFileTest, LinesAreUtf16LittleEndianAfterTheMarkWithCrLf) {
  QV_StdioFile file;
  std::filesystem::path path = OpenFile(&file);
  EXPECT_TRUE(file.IsOpen());
  EXPECT_TRUE(file.WriteLine(W("A\xC3\xA9\xF0\x9F\x98\x80").c_str()));  // A, e acute, U+1F600
  EXPECT_TRUE(file.WriteLine(nullptr));
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(ReadBytes(path), std::string("\xFF\xFE"
                                         "A\0\xE9\0\x3D\xD8\x00\xDE\r\0\n\0"
                                         "\r\0\n\0",
                                         18));
}

TEST_F(StdioFileTest, SeekToEndWritesAfterWhatOthersAppended) {
  QV_StdioFile file;
  std::filesystem::path path = OpenFile(&file);
  EXPECT_TRUE(file.WriteLine(QVT("a")));
  {
    std::ofstream other(path, std::ios::binary | std::ios::app);
    other.write("x\0", 2);
  }
  EXPECT_TRUE(file.SeekToEnd());
  EXPECT_TRUE(file.WriteLine(QVT("b")));
  file.Close();
  EXPECT_EQ(ReadBytes(path), std::string("\xFF\xFE" "a\0\r\0\n\0" "x\0" "b\0\r\0\n\0", 16));
}

TEST_F(StdioFileTest, WithoutAFileNothingIsWritten) {
  QV_StdioFile file;
  EXPECT_FALSE(file.Open(nullptr));
  EXPECT_FALSE(file.IsOpen());
  SetLastError(0);
  EXPECT_FALSE(file.WriteLine(QVT("x")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(file.SeekToEnd());
}

}  // namespace
}  // namespace qvtest
