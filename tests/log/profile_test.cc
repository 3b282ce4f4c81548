// Reading INI files: the same answers from the system's functions on
// Windows and from the library's reader elsewhere.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include "log/log_test_util.h"

namespace qvtest {
namespace {

using qv::platform::ReadProfileInt;
using qv::platform::ReadProfileString;

constexpr char kSample[] =
    "[Other]\r\n"
    "LogLevel=99\r\n"
    "; a comment\r\n"
    "[ log ]\r\n"
    "  OutputName =  \"C:\\logs\\run.log\"  \r\n"
    ";LogLevel=1\r\n"
    "LogLevel = 13\r\n"
    "Quoted='x'\r\n"
    "Empty=\r\n"
    "Trailing=12abc\r\n"
    "Negative=-1\r\n"
    "Word=abc\r\n"
    "NoValue\r\n"
    "[LOG]\r\n"
    "Late=second section\r\n";

class ProfileTest : public ::testing::Test {
 protected:
  WString Write(const std::string& name, const std::string& bytes) {
    WriteBytes(dir_.path() / name, bytes);
    return dir_.DrivePath() + W("\\" + name);
  }

  static WString String(const WString& path, const char* key, const char* fallback = "none",
                        DWORD capacity = 4096) {
    WString value;
    DWORD length = ReadProfileString(path.c_str(), QVT("LOG"), W(key).c_str(), W(fallback).c_str(), capacity, &value);
    EXPECT_EQ(length, value.size()) << key;
    return value;
  }

  static UINT Int(const WString& path, const char* key) {
    return ReadProfileInt(path.c_str(), QVT("LOG"), W(key).c_str(), 77);
  }

  // The sample's answers, whatever its encoding.
  static void ExpectSampleAnswers(const WString& path) {
    EXPECT_EQ(U8(String(path, "outputname")), "C:\\logs\\run.log");
    EXPECT_EQ(Int(path, "LOGLEVEL"), 13u);
    EXPECT_EQ(U8(String(path, "Quoted")), "x");
    EXPECT_EQ(U8(String(path, "Empty")), "");
    EXPECT_EQ(U8(String(path, "NoValue")), "none");
    EXPECT_EQ(U8(String(path, "Late")), "none") << "only the first section of a name counts";
    EXPECT_EQ(U8(String(path, "Missing", "fallback  ")), "fallback") << "the default's trailing spaces go";
  }

  TempDir dir_;
};

TEST_F(ProfileTest, Utf8TextWithoutMark) { ExpectSampleAnswers(Write("plain.ini", kSample)); }

TEST_F(ProfileTest, Utf8TextWithMark) { ExpectSampleAnswers(Write("bom.ini", std::string("\xEF\xBB\xBF") + kSample)); }

TEST_F(ProfileTest, Utf16LittleEndianTextWithMark) { ExpectSampleAnswers(Write("u16.ini", Utf16LeWithMark(kSample))); }

TEST_F(ProfileTest, LineFeedOnlyLineEnds) {
  ExpectSampleAnswers(Write("lf.ini", "[LOG]\nOutputName=C:\\logs\\run.log\nLogLevel=13\nQuoted=\"x\"\nEmpty=\n"));
}

TEST_F(ProfileTest, Utf16ValuesKeepCharactersBeyondAscii) {
  WString path = Write("names.ini", Utf16LeWithMark("[LOG]\r\nOutputName=C:\\journaux\\\xC3\xA9t\xC3\xA9 \xE2\x98\x95.log\r\n"));
  EXPECT_EQ(String(path, "OutputName"), W("C:\\journaux\\\xC3\xA9t\xC3\xA9 \xE2\x98\x95.log"));
}

TEST_F(ProfileTest, IntegersAreReadUpToTheFirstOtherCharacter) {
  WString path = Write("ints.ini", kSample);
  EXPECT_EQ(Int(path, "Trailing"), 12u);
  EXPECT_EQ(Int(path, "Negative"), 0xFFFFFFFFu);
  EXPECT_EQ(Int(path, "Word"), 0u);
  EXPECT_EQ(Int(path, "Empty"), 77u);
  EXPECT_EQ(Int(path, "Missing"), 77u);
}

TEST_F(ProfileTest, ValueIsCutToTheRoomGiven) {
  WString path = Write("cut.ini", kSample);
  EXPECT_EQ(U8(String(path, "OutputName", "", 5)), "C:\\l");
  EXPECT_EQ(U8(String(path, "OutputName", "", 1)), "");
}

TEST_F(ProfileTest, MissingFileGivesTheDefaultAndFileNotFound) {
  WString path = dir_.DrivePath() + W("\\absent.ini");
  WString value;
  SetLastError(0);
  EXPECT_EQ(ReadProfileString(path.c_str(), QVT("LOG"), QVT("OutputName"), QVT("dflt"), 100, &value), 4u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(U8(value), "dflt");
  EXPECT_EQ(Int(path, "LogLevel"), 77u);
}

}  // namespace
}  // namespace qvtest
