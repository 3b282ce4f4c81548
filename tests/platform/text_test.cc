// UTF-8 <-> UTF-16 conversion: valid text both ways, the escape of bytes that
// are not UTF-8, lone surrogates, and the host's buffer-filling wrappers.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "qvbackup/host.h"

namespace qv::platform {
namespace {

WString Units(std::initializer_list<unsigned> units) {
  WString text;
  for (unsigned unit : units) text.push_back(static_cast<WCHAR>(unit));
  return text;
}

struct ValidCase {
  const char* label;
  std::string utf8;
  WString utf16;
};

TEST(TextConversionTest, ValidTextConvertsBothWays) {
  const ValidCase cases[] = {
      {"empty", "", Units({})},
      {"ascii", "Read me.txt", Units({'R', 'e', 'a', 'd', ' ', 'm', 'e', '.', 't', 'x', 't'})},
      {"smallest two-byte", "\xC2\x80", Units({0x80})},
      {"two-byte", "caf\xC3\xA9", Units({'c', 'a', 'f', 0xE9})},
      {"largest two-byte", "\xDF\xBF", Units({0x7FF})},
      {"smallest three-byte", "\xE0\xA0\x80", Units({0x800})},
      {"euro sign", "\xE2\x82\xAC", Units({0x20AC})},
      {"just below surrogates", "\xED\x9F\xBF", Units({0xD7FF})},
      {"just above surrogates", "\xEE\x80\x80", Units({0xE000})},
      {"largest BMP", "\xEF\xBF\xBF", Units({0xFFFF})},
      {"smallest astral", "\xF0\x90\x80\x80", Units({0xD800, 0xDC00})},
      {"emoji", "\xF0\x9F\x98\x80", Units({0xD83D, 0xDE00})},
      {"largest code point", "\xF4\x8F\xBF\xBF", Units({0xDBFF, 0xDFFF})},
      {"mixed", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z", Units({'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, 'z'})},
  };
  for (const ValidCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
  }
}

TEST(TextConversionTest, BytesThatAreNotUtf8BecomeLoneLowSurrogates) {
  const ValidCase cases[] = {
      {"lone continuation", "\x80", Units({0xDC80})},
      {"byte FF", "\xFF", Units({0xDCFF})},
      {"Latin-1 name", "caf\xE9", Units({'c', 'a', 'f', 0xDCE9})},
      {"overlong slash", "\xC0\xAF", Units({0xDCC0, 0xDCAF})},
      {"overlong three-byte", "\xE0\x80\xAF", Units({0xDCE0, 0xDC80, 0xDCAF})},
      {"overlong four-byte", "\xF0\x8F\xBF\xBF", Units({0xDCF0, 0xDC8F, 0xDCBF, 0xDCBF})},
      {"encoded surrogate", "\xED\xA0\x80", Units({0xDCED, 0xDCA0, 0xDC80})},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", Units({0xDCF4, 0xDC90, 0xDC80, 0xDC80})},
      {"five-byte lead", "\xF8\x88\x80\x80\x80", Units({0xDCF8, 0xDC88, 0xDC80, 0xDC80, 0xDC80})},
      {"truncated at end", "\xE2\x82", Units({0xDCE2, 0xDC82})},
      {"truncated before ASCII", "\xE2\x82" "A", Units({0xDCE2, 0xDC82, 'A'})},
      {"lead before a valid sequence", "\xC3\xC3\xA9", Units({0xDCC3, 0xE9})},
  };
  for (const ValidCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << "the escape must give the original bytes back";
  }
}

TEST(TextConversionTest, EveryTwoByteStringSurvivesTheRoundTrip) {
  for (unsigned first = 0; first < 256; ++first) {
    for (unsigned second = 0; second < 256; ++second) {
      std::string bytes{static_cast<char>(first), static_cast<char>(second)};
      ASSERT_EQ(Utf16ToUtf8(Utf8ToUtf16(bytes)), bytes) << first << " " << second;
    }
  }
}

TEST(TextConversionTest, ThreeAndFourByteStringsAroundTheBoundariesSurviveTheRoundTrip) {
  for (unsigned lead : {0xE0u, 0xEDu, 0xEFu, 0xF0u, 0xF4u, 0xF5u}) {
    for (unsigned second = 0; second < 256; ++second) {
      for (unsigned third = 0x70; third < 0xD0; ++third) {
        std::string bytes{static_cast<char>(lead), static_cast<char>(second), static_cast<char>(third), '\x80'};
        ASSERT_EQ(Utf16ToUtf8(Utf8ToUtf16(bytes)), bytes) << lead << " " << second << " " << third;
      }
    }
  }
}

TEST(TextConversionTest, LoneSurrogatesOutsideTheEscapeRangeBecomeThreeBytes) {
  const ValidCase cases[] = {
      {"lone high", "\xED\xA0\x80", Units({0xD800})},
      {"lone low below escapes", "\xED\xB1\xBF", Units({0xDC7F})},
      {"lone low above escapes", "\xED\xB4\x80", Units({0xDD00})},
      {"last low", "\xED\xBF\xBF", Units({0xDFFF})},
      {"high before a letter", "\xED\xA0\xBD" "a", Units({0xD83D, 'a'})},
      {"pair in the wrong order", "\xED\xB8\x80\xED\xA0\xBD", Units({0xDE00, 0xD83D})},
      {"high at the end", "a\xED\xA0\xBD", Units({'a', 0xD83D})},
  };
  for (const ValidCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
  }
}

TEST(TextConversionTest, EscapedBytesSurviveTheRoundTripFromUtf16) {
  WString escapes;
  for (unsigned unit = 0xDC80; unit <= 0xDCFF; ++unit) escapes.push_back(static_cast<WCHAR>(unit));
  // Each escape decodes alone only when the bytes do not form valid UTF-8,
  // so check them one by one and interleaved with ASCII.
  for (WCHAR unit : escapes) {
    WString text = Units({'x', static_cast<unsigned>(unit), 'y'});
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text) << static_cast<unsigned>(unit);
  }
}

TEST(HostTextTest, Utf8ToUtf16FillsAndTerminatesTheBuffer) {
  WCHAR buffer[8];
  EXPECT_EQ(QVUtf8ToUtf16("a\xC3\xA9\xF0\x9F\x98\x80", buffer, 8), 4u);
  EXPECT_EQ(WString(buffer), Units({'a', 0xE9, 0xD83D, 0xDE00}));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(HostTextTest, Utf8ToUtf16NeedsRoomForTheTerminator) {
  WCHAR buffer[4] = {'z', 'z', 'z', 'z'};
  EXPECT_EQ(QVUtf8ToUtf16("abcd", buffer, 4), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(buffer[0], 0) << "the output is terminated even when it does not fit";
  EXPECT_EQ(QVUtf8ToUtf16("abc", buffer, 4), 3u);
  EXPECT_EQ(WString(buffer), Units({'a', 'b', 'c'}));
}

TEST(HostTextTest, EmptyTextSucceedsWithZeroAndNoError) {
  WCHAR buffer[1] = {'z'};
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(QVUtf8ToUtf16("", buffer, 1), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(QVUtf8ToUtf16("", nullptr, 0), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(HostTextTest, Utf16ToUtf8CountsBytesAndRestoresEscapedBytes) {
  char buffer[8];
  WString text = Units({'n', 0xDCE9, 0xD83D, 0xDE00});
  EXPECT_EQ(QVUtf16ToUtf8(text.c_str(), buffer, 7), 6u);
  EXPECT_EQ(std::string(buffer), "n\xE9\xF0\x9F\x98\x80");
  EXPECT_EQ(QVUtf16ToUtf8(text.c_str(), buffer, 6), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(buffer[0], 0);
}

TEST(HostTextTest, ErrorTextsComeWithoutLineEndAndUnknownNumbersFail) {
  WCHAR buffer[256];
  DWORD length = QVGetErrorText(ERROR_FILE_NOT_FOUND, buffer, 256);
  ASSERT_GT(length, 1u);
  EXPECT_EQ(WString(buffer).size(), length);
  EXPECT_NE(buffer[length - 1], QVT('\n'));
  EXPECT_NE(buffer[length - 1], QVT('\r'));
  WCHAR tiny[4] = {'z', 'z', 'z', 'z'};
  EXPECT_EQ(QVGetErrorText(ERROR_FILE_NOT_FOUND, tiny, 4), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(tiny[0], 0);
  EXPECT_EQ(QVGetErrorText(0xFFFFu, buffer, 256), 0u);
  EXPECT_EQ(GetLastError(), 317u) << "ERROR_MR_MID_NOT_FOUND";
}

TEST(HostTextTest, NullArgumentsAreRejected) {
  WCHAR wide[4];
  char narrow[4];
  EXPECT_EQ(QVUtf8ToUtf16(nullptr, wide, 4), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(QVUtf16ToUtf8(nullptr, narrow, 4), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(QVUtf8ToUtf16("a", nullptr, 4), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
}  // namespace qv::platform
