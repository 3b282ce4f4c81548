// The shell's wildcard rules, checked case by case.
#include "platform/wildcard.h"

#include <gtest/gtest.h>

#include <string>

#include "common/test_util.h"

namespace qv::platform {
namespace {

using qvtest::W;
using qvtest::WString;

struct MatchCase {
  const char* name;  // UTF-8
  const char* desc;  // UTF-8
  bool matches;
};

void ExpectMatches(const MatchCase* cases, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const MatchCase& c = cases[i];
    SCOPED_TRACE(std::string("name \"") + c.name + "\" desc \"" + c.desc + "\"");
    EXPECT_EQ(PathMatchSpec(W(c.name).c_str(), W(c.desc).c_str()), c.matches);
  }
}

template <std::size_t N>
void ExpectMatches(const MatchCase (&cases)[N]) {
  ExpectMatches(cases, N);
}

TEST(PathMatchSpecTest, StarDotStarMatchesEveryNameEvenWithoutADot) {
  ExpectMatches({
      {"README", "*.*", true},
      {"a.txt", "*.*", true},
      {".profile", "*.*", true},
      {".", "*.*", true},
      {"..", "*.*", true},
      {"archive.tar.gz", "*.*", true},
  });
}

TEST(PathMatchSpecTest, ExtensionMasksCompareTheWholeTailIgnoringCase) {
  ExpectMatches({
      {"a.TXT", "*.txt", true},
      {"A.txt", "*.TXT", true},
      {"a.txt.bak", "*.txt", false},
      {"a.txt.bak", "*.bak", true},
      {"a.txt", "*.tx", false},
      {"a.tx", "*.txt", false},
      {".txt", "*.txt", true},
      {"txt", "*.txt", false},
  });
}

TEST(PathMatchSpecTest, QuestionMarkMatchesExactlyOneCharacter) {
  ExpectMatches({
      {"a", "?", true},
      {"", "?", false},
      {"ab", "?", false},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"abbc", "a?c", false},
      {"file1.doc", "file?.doc", true},
      {"file12.doc", "file?.doc", false},
      {"x", "?*", true},
      {"", "?*", false},
  });
}

TEST(PathMatchSpecTest, StarsMatchAnyRunIncludingNone) {
  ExpectMatches({
      {"abc", "a*b*c", true},
      {"axxbyyc", "a*b*c", true},
      {"abcbc", "a*b*c", true},
      {"acb", "a*b*c", false},
      {"axbxcx", "a*b*c", false},
      {"", "*", true},
      {".", "*", true},
      {"..", "*", true},
      {"anything at all", "*", true},
      {"abc", "**", true},
      {"a", "a*", true},
      {"a", "*a", true},
      {"ba", "*a", true},
      {"ab", "*a", false},
      {"mississippi", "*sip*", true},
      {"mississippi", "*sis*sip*i", true},
      {"mississippi", "*sis*sap*", false},
  });
}

TEST(PathMatchSpecTest, ListsMatchWhenAnyMaskMatches) {
  ExpectMatches({
      {"report.doc", "*.doc; *.xls", true},
      {"sheet.xls", "*.doc; *.xls", true},
      {"notes.txt", "*.doc; *.xls", false},
      {"sheet.xls", "*.doc;    *.xls", true},
      {"sheet.xls", "   *.xls", true},
      {"README", "*.doc;*.*", true},
      {"a.doc", "*.doc ;*.xls", false},  // only leading spaces are skipped
      {"a.doc ", "*.doc ;*.xls", true},
  });
}

TEST(PathMatchSpecTest, EmptySpecMatchesOnlyTheEmptyName) {
  ExpectMatches({
      {"", "", true},
      {"a", "", false},
      {"a", ";", false},
      {"", "   ", true},
  });
}

TEST(PathMatchSpecTest, CaseIsIgnoredBeyondAscii) {
  ExpectMatches({
      {"\xC3\x89T\xC3\x89.TXT", "\xC3\xA9t\xC3\xA9.txt", true},          // ÉTÉ / été
      {"\xC5\xBD" "ABA", "\xC5\xBE" "aba", true},                         // Ž / ž
      {"\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x99\xCE\x91", "\xCF\x83\xCE\xBF\xCF\x86\xCE\xB9\xCE\xB1", true},  // ΣΟΦΙΑ
      {"\xCE\xA3", "\xCF\x82", true},                                     // final sigma
      {"\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2", "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", true},  // ПРИВЕТ
      {"\xD0\x81", "\xD1\x91", true},                                     // Ё / ё
      {"\xC3\xA9", "e", false},
  });
}

TEST(PathMatchSpecTest, NullArgumentsMatchNothing) {
  WString name = W("a");
  EXPECT_FALSE(PathMatchSpec(nullptr, name.c_str()));
  EXPECT_FALSE(PathMatchSpec(name.c_str(), nullptr));
}

TEST(PathMatchSpecTest, ManyStarsAgainstALongNameEndWithTheRightAnswer) {
  // A matcher that retries every star position would not finish this.
  WString name(20000, static_cast<WCHAR>('a'));
  EXPECT_FALSE(PathMatchSpec(name.c_str(), W("*a*a*a*a*a*a*a*a*a*a*a*a*b").c_str()));
  EXPECT_TRUE(PathMatchSpec(name.c_str(), W("*a*a*a*a*a*a*a*a*a*a*a*a").c_str()));
  EXPECT_FALSE(PathMatchSpec(name.c_str(), W("*?*?*?*?*?*?*?*?*?*?*?*?*b").c_str()));
}

struct CaseCase {
  unsigned in;
  unsigned out;
};

TEST(UpperCaseCharTest, MapsSmallLettersOfTheCommonScripts) {
  const CaseCase cases[] = {
      {'a', 'A'},       {'z', 'Z'},       {'A', 'A'},       {'{', '{'},       {'`', '`'},
      {'0', '0'},       {0xE0, 0xC0},     {0xFE, 0xDE},     {0xF7, 0xF7},     {0xDF, 0xDF},
      {0xFF, 0x178},    {0x100, 0x100},   {0x101, 0x100},   {0x12F, 0x12E},   {0x133, 0x132},
      {0x13A, 0x139},   {0x139, 0x139},   {0x148, 0x147},   {0x14B, 0x14A},   {0x177, 0x176},
      {0x17A, 0x179},   {0x17E, 0x17D},   {0x3B1, 0x391},   {0x3C9, 0x3A9},   {0x3C2, 0x3A3},
      {0x3AC, 0x386},   {0x3AD, 0x388},   {0x3CC, 0x38C},   {0x3CE, 0x38F},   {0x430, 0x410},
      {0x44F, 0x42F},   {0x450, 0x400},   {0x45F, 0x40F},   {0x461, 0x460},   {0x4CF, 0x4C0},
      {0x4C2, 0x4C1},   {0x4D1, 0x4D0},   {0x4E8, 0x4E8},   {0x4E00, 0x4E00}, {0xDCE9, 0xDCE9},
  };
  for (const CaseCase& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(static_cast<unsigned>(UpperCaseChar(static_cast<WCHAR>(c.in))), c.out);
  }
}

}  // namespace
}  // namespace qv::platform
