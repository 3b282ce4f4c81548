// The POSIX reader's own ground: UTF-8 text beyond ASCII (Windows reads such
// a file in its code page) and big-endian UTF-16.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include "log/log_test_util.h"

namespace qvtest {
namespace {

TEST(ProfilePosixTest, Utf8ValuesKeepCharactersBeyondAscii) {
  TempDir dir;
  WriteBytes(dir.path() / "u8.ini", "[Journal]\n\xC3\x89tat = \xC3\xA9t\xC3\xA9 \xE2\x98\x95\n");
  WString path = dir.DrivePath() + W("\\u8.ini");
  WString value;
  // Names match ignoring case beyond ASCII too.
  qv::platform::ReadProfileString(path.c_str(), W("JOURNAL").c_str(), W("\xC3\xA9TAT").c_str(), QVT(""), 100, &value);
  EXPECT_EQ(U8(value), "\xC3\xA9t\xC3\xA9 \xE2\x98\x95");
}

TEST(ProfilePosixTest, BigEndianUtf16IsRead) {
  TempDir dir;
  std::string little = Utf16LeWithMark("[LOG]\r\nLogLevel=8\r\n");
  std::string big;
  for (std::size_t i = 0; i + 1 < little.size(); i += 2) big += std::string{little[i + 1], little[i]};
  WriteBytes(dir.path() / "be.ini", big);
  WString path = dir.DrivePath() + W("\\be.ini");
  EXPECT_EQ(qv::platform::ReadProfileInt(path.c_str(), QVT("LOG"), QVT("LogLevel"), 3), 8u);
}

}  // namespace
}  // namespace qvtest
