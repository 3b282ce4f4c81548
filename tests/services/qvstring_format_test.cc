// CQVString::Format: every conversion, flag, width and precision the
// library's format texts use, and the edges of each.
#include <climits>
#include <cstdarg>
#include <cstdint>

#include <gtest/gtest.h>

#include "qvbackup/qvstring.h"
#include "services/qvstring_printing.h"

namespace {

// Formats through Format and returns the text; fails the test when Format
// reports failure.
template <typename... Args>
CQVString Formatted(const WCHAR* format, Args... args) {
  CQVString s(QVT("previous content"));
  EXPECT_TRUE(s.Format(format, args...));
  return s;
}

// The va_list entry point, as a logging front end uses it.
CQVString FormattedV(const WCHAR* format, ...) {
  CQVString s;
  std::va_list arguments;
  va_start(arguments, format);
  EXPECT_TRUE(s.FormatV(format, arguments));
  va_end(arguments);
  return s;
}

TEST(CQVStringFormat, SignedIntegers) {
  EXPECT_EQ(Formatted(QVT("%d"), 0), QVT("0"));
  EXPECT_EQ(Formatted(QVT("%d|%i"), -42, 42), QVT("-42|42"));
  EXPECT_EQ(Formatted(QVT("%d"), INT_MIN), QVT("-2147483648"));
  EXPECT_EQ(Formatted(QVT("%d"), INT_MAX), QVT("2147483647"));
  EXPECT_EQ(Formatted(QVT("%+d % d %+d"), 5, 5, -5), QVT("+5  5 -5"));
  EXPECT_EQ(Formatted(QVT("%hd"), 70000), QVT("4464"));
}

TEST(CQVStringFormat, UnsignedAndHexadecimalIntegers) {
  EXPECT_EQ(Formatted(QVT("%u"), 4294967295u), QVT("4294967295"));
  EXPECT_EQ(Formatted(QVT("%u"), -1), QVT("4294967295"));
  EXPECT_EQ(Formatted(QVT("%x %X"), 0xDEADBEEFu, 0xDEADBEEFu), QVT("deadbeef DEADBEEF"));
  EXPECT_EQ(Formatted(QVT("%#x %#X %#x"), 255u, 255u, 0u), QVT("0xff 0XFF 0"));
  EXPECT_EQ(Formatted(QVT("%o %#o"), 8u, 8u), QVT("10 010"));
  EXPECT_EQ(Formatted(QVT("%08X"), 0x1Fu), QVT("0000001F"));
  EXPECT_EQ(Formatted(QVT("%hu"), 65537u), QVT("1"));
}

TEST(CQVStringFormat, LongQualifiedIntegersAre32BitsOnEveryPlatform) {
  // DWORD and LONG values, as the library's texts pass them.
  DWORD errorCode = 4000000000u;
  LONG offset = -7;
  EXPECT_EQ(Formatted(QVT("%lu %ld %lx"), errorCode, offset, DWORD(0xFFFFFFFFu)),
            QVT("4000000000 -7 ffffffff"));
  // What follows must still line up: a 64-bit read would swallow it.
  EXPECT_EQ(Formatted(QVT("%ld|%s"), LONG(-1), QVT("next")), QVT("-1|next"));
  EXPECT_EQ(Formatted(QVT("%I32d|%I32u"), -3, 3u), QVT("-3|3"));
}

TEST(CQVStringFormat, SixtyFourBitIntegers) {
  EXPECT_EQ(Formatted(QVT("%I64d"), INT64(INT64_MIN)), QVT("-9223372036854775808"));
  EXPECT_EQ(Formatted(QVT("%I64d"), INT64(-1234567890123)), QVT("-1234567890123"));
  EXPECT_EQ(Formatted(QVT("%I64u"), UINT64(UINT64_MAX)), QVT("18446744073709551615"));
  EXPECT_EQ(Formatted(QVT("%I64x"), UINT64(0x123456789ABCDEFull)), QVT("123456789abcdef"));
  EXPECT_EQ(Formatted(QVT("%I64X"), UINT64(UINT64_MAX)), QVT("FFFFFFFFFFFFFFFF"));
  EXPECT_EQ(Formatted(QVT("%lld %llu"), -1LL, 1ULL << 40), QVT("-1 1099511627776"));
  EXPECT_EQ(Formatted(QVT("%I64d of %I64u|%d"), INT64(5), UINT64(6), 7), QVT("5 of 6|7"));
}

TEST(CQVStringFormat, WidthPrecisionAndPadding) {
  EXPECT_EQ(Formatted(QVT("%02d:%02d:%02d"), 5, 12, 123), QVT("05:12:123"));
  EXPECT_EQ(Formatted(QVT("%02d"), -5), QVT("-5"));
  EXPECT_EQ(Formatted(QVT("%05d"), -42), QVT("-0042"));
  EXPECT_EQ(Formatted(QVT("[%5d][%-5d]"), 42, 42), QVT("[   42][42   ]"));
  EXPECT_EQ(Formatted(QVT("[%-05d]"), 42), QVT("[42   ]"));
  EXPECT_EQ(Formatted(QVT("[%.3d][%8.3d][%08.3d]"), 7, 7, 7), QVT("[007][     007][     007]"));
  EXPECT_EQ(Formatted(QVT("[%.0d][%.0d]"), 0, 1), QVT("[][1]"));
  EXPECT_EQ(Formatted(QVT("[%+05d][%#06x]"), 3, 0xABu), QVT("[+0003][0x00ab]"));
  EXPECT_EQ(Formatted(QVT("[%*d][%-*d][%*d]"), 4, 1, 4, 2, -4, 3), QVT("[   1][2   ][3   ]"));
  EXPECT_EQ(Formatted(QVT("[%.*d][%.*d]"), 3, 9, -1, 9), QVT("[009][9]"));
}

TEST(CQVStringFormat, TextAndCharacters) {
  EXPECT_EQ(Formatted(QVT("%s"), QVT("C:\\Users")), QVT("C:\\Users"));
  EXPECT_EQ(Formatted(QVT("%s"), static_cast<const WCHAR*>(nullptr)), QVT("(null)"));
  EXPECT_EQ(Formatted(QVT("[%s]"), QVT("")), QVT("[]"));
  EXPECT_EQ(Formatted(QVT("[%5s][%-8s][%.3s][%6.2s]"), QVT("ab"), QVT("ab"), QVT("abcdef"), QVT("xyz")),
            QVT("[   ab][ab      ][abc][    xy]"));
  EXPECT_EQ(Formatted(QVT("[%.*s]"), 2, QVT("abcdef")), QVT("[ab]"));
  EXPECT_EQ(Formatted(QVT("%c%c%c"), 'A', 0x00E9, 0x0416), QVT("A\u00e9\u0416"));
  EXPECT_EQ(Formatted(QVT("[%3c][%-3c]"), 'x', 'y'), QVT("[  x][y  ]"));
  EXPECT_EQ(Formatted(QVT("[%c]"), 0), QVT("[]"));
  EXPECT_EQ(Formatted(QVT("%ls|%lc"), QVT("wide"), 'w'), QVT("wide|w"));
}

TEST(CQVStringFormat, SurrogatePairsPassThroughWhole) {
  const WCHAR* smile = QVT("a\U0001F600b");  // 4 code units
  EXPECT_EQ(Formatted(QVT("%s"), smile), smile);
  EXPECT_EQ(Formatted(QVT("[%6s]"), smile), QVT("[  a\U0001F600b]"));
  // A precision that would split the pair stops before it.
  EXPECT_EQ(Formatted(QVT("[%.2s]"), smile), QVT("[a]"));
  EXPECT_EQ(Formatted(QVT("[%.3s]"), smile), QVT("[a\U0001F600]"));
  EXPECT_EQ(Formatted(QVT("%s"), QVT("\u4e2d\u6587\u00e9")), QVT("\u4e2d\u6587\u00e9"));
}

TEST(CQVStringFormat, PercentAndUnknownConversionsAreLiteral) {
  EXPECT_EQ(Formatted(QVT("100%% done")), QVT("100% done"));
  EXPECT_EQ(Formatted(QVT("%q %d"), 5), QVT("%q 5"));
  EXPECT_EQ(Formatted(QVT("%-5q|%s"), QVT("x")), QVT("%-5q|x"));
  EXPECT_EQ(Formatted(QVT("tail %")), QVT("tail %"));
  EXPECT_EQ(Formatted(QVT("tail %05")), QVT("tail %05"));
  EXPECT_EQ(Formatted(QVT("")), QVT(""));
}

TEST(CQVStringFormat, FormatsTheLibrarysOwnPatterns) {
  EXPECT_EQ(Formatted(QVT("%s\\Kelvar_%c\\%s"), QVT("c:"), 'C', QVT("Users\\a.txt")),
            QVT("c:\\Kelvar_C\\Users\\a.txt"));
  EXPECT_EQ(Formatted(QVT("%s.%d.%s%d.%s"), QVT("D:\\B\\home"), 2, QVT("I"), 3, QVT("QVA")),
            QVT("D:\\B\\home.2.I3.QVA"));
  EXPECT_EQ(Formatted(QVT("/gpext/groupe[%d]/extension[%d]"), 1, 12),
            QVT("/gpext/groupe[1]/extension[12]"));
}

TEST(CQVStringFormat, ArgumentsMayPointIntoItsOwnText) {
  CQVString s(QVT("inner"));
  ASSERT_TRUE(s.Format(QVT("[%s|%s]"), s.GetString(), s.GetString() + 2));
  EXPECT_EQ(s, QVT("[inner|ner]"));
}

TEST(CQVStringFormat, VaListEntryPointFormatsTheSame) {
  EXPECT_EQ(FormattedV(QVT("%s=%I64d (%02d%%)"), QVT("size"), INT64(-3), 7), QVT("size=-3 (07%)"));
}

TEST(CQVStringFormat, RejectsNullFormatAndHugeFieldsLeavingTheStringAlone) {
  CQVString s(QVT("kept"));
  SetLastError(0);
  EXPECT_FALSE(s.Format(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(s, QVT("kept"));
  SetLastError(0);
  EXPECT_FALSE(s.Format(QVT("%99999999d"), 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(s.Format(QVT("%.2000000s"), QVT("x")));
  EXPECT_FALSE(s.Format(QVT("%*d"), INT_MIN, 1));
  EXPECT_EQ(s, QVT("kept"));
  EXPECT_TRUE(s.Format(QVT("%1048576d"), 1));
  EXPECT_EQ(s.GetLength(), 1048576u);
}

}  // namespace
