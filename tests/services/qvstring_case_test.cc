// CQVString: MakeLower and CompareNoCase across the scripts people name files
// in, and their agreement with each other.
#include <gtest/gtest.h>

#include "qvbackup/qvstring.h"
#include "services/qvstring_printing.h"

namespace {

struct LowerCase {
  const WCHAR* text;
  const WCHAR* lowered;
};

TEST(CQVStringCase, MakeLowerLowersLettersOfEveryKnownScript) {
  const LowerCase cases[] = {
      {QVT("C:\\Users\\John.DOE\\Photo_01.JPG"), QVT("c:\\users\\john.doe\\photo_01.jpg")},
      {QVT("\u00c0\u00c9\u00ce\u00d5\u00dc \u00c6\u00d8\u00de"),
       QVT("\u00e0\u00e9\u00ee\u00f5\u00fc \u00e6\u00f8\u00fe")},        // Latin-1
      {QVT("\u0141\u00d3D\u0179 \u0152\u0178 \u010c\u0160"),
       QVT("\u0142\u00f3d\u017a \u0153\u00ff \u010d\u0161")},             // Latin Extended-A
      {QVT("\u0391\u0392\u0393\u0394 \u03a3\u03a9 \u0386\u038f"),
       QVT("\u03b1\u03b2\u03b3\u03b4 \u03c3\u03c9 \u03ac\u03ce")},        // Greek
      {QVT("\u041f\u0420\u0418\u0412\u0415\u0422 \u0401\u0416 \u0407"),
       QVT("\u043f\u0440\u0438\u0432\u0435\u0442 \u0451\u0436 \u0457")},  // Cyrillic
  };
  for (const LowerCase& c : cases) {
    SCOPED_TRACE(qvtest::U8(c.text));
    CQVString s(c.text);
    s.MakeLower();
    EXPECT_EQ(s, c.lowered);
  }
}

TEST(CQVStringCase, MakeLowerLeavesEverythingElseAlone) {
  // Multiplication sign, sharp s, digits, punctuation, CJK, a surrogate pair
  // and text that is already lower case.
  const WCHAR* text = QVT("\u00d7\u00df 0123 -_.~ \u4e2d\u6587 \U0001F600 abc \u00e9");
  CQVString s(text);
  s.MakeLower();
  EXPECT_EQ(s, text);
}

TEST(CQVStringCase, LoweringNeverChangesWhatCompareNoCaseSees) {
  // Every code unit, alone: its lowered form compares equal to it ignoring
  // case, so lowering a path before comparing it is always safe.
  for (unsigned unit = 1; unit <= 0xFFFF; ++unit) {
    WCHAR text[2] = {static_cast<WCHAR>(unit), 0};
    CQVString lowered(text);
    lowered.MakeLower();
    ASSERT_EQ(lowered.GetLength(), 1u) << unit;
    ASSERT_EQ(lowered.CompareNoCase(text), 0) << "U+" << std::hex << unit;
    CQVString twice(lowered);
    twice.MakeLower();
    ASSERT_EQ(twice, lowered) << "U+" << std::hex << unit;
  }
}

TEST(CQVStringCase, CompareNoCaseMatchesAcrossScripts) {
  EXPECT_EQ(CQVString(QVT("Hello World")).CompareNoCase(QVT("hELLO wORLD")), 0);
  EXPECT_EQ(CQVString(QVT("\u00c9cole.DOC")).CompareNoCase(QVT("\u00e9COLE.doc")), 0);
  EXPECT_EQ(CQVString(QVT("\u0141\u00f3d\u017a")).CompareNoCase(QVT("\u0142\u00d3D\u0179")), 0);
  EXPECT_EQ(CQVString(QVT("\u041c\u043e\u0441\u043a\u0432\u0430")).CompareNoCase(
                QVT("\u041c\u041e\u0421\u041a\u0412\u0410")), 0);
  EXPECT_EQ(CQVString(QVT("\u03c3\u03bf\u03c6\u03b9\u03b1")).CompareNoCase(
                QVT("\u03a3\u039f\u03a6\u0399\u0391")), 0);
  EXPECT_EQ(CQVString().CompareNoCase(QVT("")), 0);
  EXPECT_EQ(CQVString().CompareNoCase(nullptr), 0);
}

TEST(CQVStringCase, CompareNoCaseTellsDifferentTextsApart) {
  EXPECT_LT(CQVString(QVT("abc")).CompareNoCase(QVT("ABD")), 0);
  EXPECT_GT(CQVString(QVT("ABD")).CompareNoCase(QVT("abc")), 0);
  EXPECT_GT(CQVString(QVT("abc")).CompareNoCase(QVT("AB")), 0);
  EXPECT_LT(CQVString(QVT("ab")).CompareNoCase(QVT("ABC")), 0);
  EXPECT_NE(CQVString(QVT("stra\u00dfe")).CompareNoCase(QVT("STRASSE")), 0);
  EXPECT_NE(CQVString(QVT("e")).CompareNoCase(QVT("\u00e9")), 0);
  EXPECT_NE(CQVString(QVT("\u0438")).CompareNoCase(QVT("\u0439")), 0);
  EXPECT_NE(CQVString(QVT("a")).CompareNoCase(QVT("")), 0);
}

}  // namespace
