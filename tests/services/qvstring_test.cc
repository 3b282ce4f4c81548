// CQVString: value semantics, comparison and ordering, access, searching,
// replacing and trimming.
#include <map>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "qvbackup/qvstring.h"
#include "services/qvstring_printing.h"

namespace {

TEST(CQVStringValue, EmptyStringConvertsToEmptyTextNeverNull) {
  CQVString empty;
  const WCHAR* text = empty;
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text[0], 0);
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ(empty.GetLength(), 0u);

  CQVString fromNull(static_cast<const WCHAR*>(nullptr));
  EXPECT_TRUE(fromNull.IsEmpty());
  EXPECT_NE(fromNull.GetString(), nullptr);
}

TEST(CQVStringValue, CopiesAreIndependent) {
  CQVString original(QVT("alpha"));
  CQVString copy(original);
  CQVString assigned;
  assigned = original;
  copy += QVT("-copy");
  assigned = QVT("other");
  original.Empty();
  EXPECT_EQ(copy, QVT("alpha-copy"));
  EXPECT_EQ(assigned, QVT("other"));
  EXPECT_TRUE(original.IsEmpty());
}

TEST(CQVStringValue, MoveLeavesSourceEmptyAndUsable) {
  CQVString source(QVT("payload"));
  CQVString target(std::move(source));
  EXPECT_EQ(target, QVT("payload"));
  EXPECT_TRUE(source.IsEmpty());  // NOLINT: the moved-from state is documented
  source = QVT("again");
  CQVString other;
  other = std::move(source);
  EXPECT_EQ(other, QVT("again"));
  EXPECT_EQ(source.GetString()[0], 0);
}

TEST(CQVStringValue, AssignsTextCharacterAndItself) {
  CQVString s(QVT("abc"));
  s = WCHAR('Z');
  EXPECT_EQ(s, QVT("Z"));
  s = WCHAR(0);
  EXPECT_TRUE(s.IsEmpty());
  s = QVT("self");
  const CQVString& alias = s;
  s = alias;
  EXPECT_EQ(s, QVT("self"));
  s = s.GetString() + 1;  // text inside its own buffer
  EXPECT_EQ(s, QVT("elf"));
}

TEST(CQVStringValue, ConcatenationAppendsAndPlusLeavesOperandUnchanged) {
  CQVString base(QVT("C:"));
  CQVString joined = base + QVT("\\dir");
  EXPECT_EQ(base, QVT("C:"));
  EXPECT_EQ(joined, QVT("C:\\dir"));
  EXPECT_EQ(joined + WCHAR('\\'), QVT("C:\\dir\\"));
  EXPECT_EQ(base + joined, QVT("C:C:\\dir"));
  base += base;
  EXPECT_EQ(base, QVT("C:C:"));
  base += base.GetString() + 2;
  EXPECT_EQ(base, QVT("C:C:C:"));
  base += static_cast<const WCHAR*>(nullptr);
  EXPECT_EQ(base.GetLength(), 6u);
}

TEST(CQVStringCompare, EqualityIsExactAndCaseSensitive) {
  CQVString s(QVT("Report.doc"));
  EXPECT_TRUE(s == QVT("Report.doc"));
  EXPECT_FALSE(s == QVT("report.doc"));
  EXPECT_FALSE(s == QVT("Report.do"));
  EXPECT_FALSE(s == QVT("Report.docx"));
  EXPECT_TRUE(s != QVT("REPORT.DOC"));
  EXPECT_FALSE(s != CQVString(QVT("Report.doc")));
  EXPECT_TRUE(CQVString() == QVT(""));
  EXPECT_TRUE(CQVString() == static_cast<const WCHAR*>(nullptr));
}

TEST(CQVStringCompare, OrderIsCodeUnitOrderWithPrefixFirst) {
  std::vector<CQVString> ascending = {QVT(""), QVT("B"), QVT("a"), QVT("ab"), QVT("b"),
                                      QVT("\u00e9"), QVT("\U0001F600"), QVT("\uFFFD")};
  for (std::size_t i = 0; i < ascending.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(ascending[i] < ascending[i]);
    for (std::size_t j = i + 1; j < ascending.size(); ++j) {
      EXPECT_TRUE(ascending[i] < ascending[j]);
      EXPECT_FALSE(ascending[j] < ascending[i]);
      EXPECT_TRUE(ascending[i] < ascending[j].GetString());
    }
  }
}

TEST(CQVStringCompare, WorksAsKeyOfOrderedSetsAndMaps) {
  const WCHAR* inserted[] = {QVT("C:\\b"), QVT("C:\\a\\z"), QVT("C:\\B"), QVT("C:\\a"), QVT("C:\\b")};
  std::set<CQVString> paths(std::begin(inserted), std::end(inserted));
  std::vector<CQVString> walked(paths.begin(), paths.end());
  std::vector<CQVString> expected = {QVT("C:\\B"), QVT("C:\\a"), QVT("C:\\a\\z"), QVT("C:\\b")};
  EXPECT_EQ(walked, expected);

  std::map<CQVString, int> sizes;
  sizes[QVT("x.txt")] = 1;
  sizes[QVT("X.txt")] = 2;
  sizes[CQVString(QVT("x.txt"))] += 10;
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes.at(QVT("x.txt")), 11);
  EXPECT_EQ(sizes.begin()->first, QVT("X.txt"));
}

TEST(CQVStringAccess, GetAtLeftAndRightStayWithinTheString) {
  CQVString s(QVT("abcdef"));
  EXPECT_EQ(s.GetAt(0), WCHAR('a'));
  EXPECT_EQ(s.GetAt(5), WCHAR('f'));
  EXPECT_EQ(s.GetAt(6), WCHAR(0));
  EXPECT_EQ(s.GetAt(0xFFFFFFFFu), WCHAR(0));
  EXPECT_EQ(s.Left(2), QVT("ab"));
  EXPECT_EQ(s.Right(2), QVT("ef"));
  EXPECT_EQ(s.Left(0), QVT(""));
  EXPECT_EQ(s.Right(0), QVT(""));
  EXPECT_EQ(s.Left(6), QVT("abcdef"));
  EXPECT_EQ(s.Left(100), QVT("abcdef"));
  EXPECT_EQ(s.Right(100), QVT("abcdef"));
  EXPECT_EQ(s, QVT("abcdef"));
  EXPECT_EQ(CQVString().Right(3), QVT(""));
}

TEST(CQVStringSearch, FindHonoursStartAndReportsMisses) {
  CQVString s(QVT("abcabc"));
  DWORD position = 99;
  EXPECT_TRUE(s.Find(QVT("bc"), &position, 0));
  EXPECT_EQ(position, 1u);
  EXPECT_TRUE(s.Find(QVT("bc"), &position, 1));
  EXPECT_EQ(position, 1u);
  EXPECT_TRUE(s.Find(QVT("bc"), &position, 2));
  EXPECT_EQ(position, 4u);
  EXPECT_TRUE(s.Find(QVT("abc"), &position));
  EXPECT_EQ(position, 0u);

  position = 99;
  EXPECT_FALSE(s.Find(QVT("bc"), &position, 5));
  EXPECT_FALSE(s.Find(QVT("bc"), &position, 6));
  EXPECT_FALSE(s.Find(QVT("bc"), &position, 1000));
  EXPECT_FALSE(s.Find(QVT("abcabcx"), &position, 0));
  EXPECT_FALSE(s.Find(QVT("ABC"), &position, 0));
  EXPECT_FALSE(s.Find(QVT(""), &position, 0));
  EXPECT_EQ(position, 99u);
  EXPECT_TRUE(s.Find(QVT("c"), nullptr, 3));
}

TEST(CQVStringSearch, ReverseFindReportsLastOccurrence) {
  CQVString path(QVT("C:\\dir\\sub\\file.txt"));
  DWORD position = 0;
  ASSERT_TRUE(path.ReverseFind('\\', &position));
  EXPECT_EQ(position, 10u);
  ASSERT_TRUE(path.ReverseFind('C', &position));
  EXPECT_EQ(position, 0u);
  position = 77;
  EXPECT_FALSE(path.ReverseFind('/', &position));
  EXPECT_FALSE(CQVString().ReverseFind('a', &position));
  EXPECT_FALSE(path.ReverseFind(0, &position));
  EXPECT_EQ(position, 77u);
}

TEST(CQVStringSearch, CountsNonOverlappingOccurrences) {
  EXPECT_EQ(CQVString(QVT("aaa")).GetNbOccurrences(QVT("aa")), 1u);
  EXPECT_EQ(CQVString(QVT("aaaa")).GetNbOccurrences(QVT("aa")), 2u);
  EXPECT_EQ(CQVString(QVT("a\\b\\c\\")).GetNbOccurrences(QVT("\\")), 3u);
  EXPECT_EQ(CQVString(QVT("abc")).GetNbOccurrences(QVT("x")), 0u);
  EXPECT_EQ(CQVString(QVT("abc")).GetNbOccurrences(QVT("")), 0u);
  EXPECT_EQ(CQVString().GetNbOccurrences(QVT("a")), 0u);
}

struct ReplaceCase {
  const WCHAR* text;
  const WCHAR* oldText;
  const WCHAR* newText;
  const WCHAR* expected;
};

TEST(CQVStringReplace, ReplacesEveryNonOverlappingOccurrenceOnce) {
  const ReplaceCase cases[] = {
      {QVT("aaa"), QVT("aa"), QVT("b"), QVT("ba")},
      {QVT("aaaa"), QVT("aa"), QVT("b"), QVT("bb")},
      {QVT("abc"), QVT("abc"), QVT(""), QVT("")},
      {QVT("a.b.c"), QVT("."), QVT(""), QVT("abc")},
      {QVT("a.b.c"), QVT("."), QVT("\\\\"), QVT("a\\\\b\\\\c")},
      {QVT("aaa"), QVT("a"), QVT("aa"), QVT("aaaaaa")},
      {QVT("abc"), QVT("x"), QVT("y"), QVT("abc")},
      {QVT("xAx"), QVT("x"), QVT("\u00e9\U0001F600"), QVT("\u00e9\U0001F600A\u00e9\U0001F600")},
      {QVT(""), QVT("a"), QVT("b"), QVT("")},
  };
  for (const ReplaceCase& c : cases) {
    SCOPED_TRACE(qvtest::U8(c.text) + " / " + qvtest::U8(c.oldText));
    CQVString s(c.text);
    EXPECT_TRUE(s.Replace(c.oldText, c.newText));
    EXPECT_EQ(s, c.expected);
  }
}

TEST(CQVStringReplace, EmptyOldTextFailsWithInvalidParameter) {
  CQVString s(QVT("abc"));
  SetLastError(0);
  EXPECT_FALSE(s.Replace(QVT(""), QVT("x")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(s, QVT("abc"));
}

TEST(CQVStringReplace, ArgumentsMayPointIntoItsOwnText) {
  CQVString s(QVT("abab"));
  EXPECT_TRUE(s.Replace(s.GetString() + 2, s.GetString() + 3));
  EXPECT_EQ(s, QVT("bb"));
  CQVString t(QVT("xyz"));
  EXPECT_TRUE(t.Replace(QVT("y"), t.GetString()));
  EXPECT_EQ(t, QVT("xxyzz"));
}

TEST(CQVStringTrim, TrimRightRemovesOnlyTrailingMembersOfTheSet) {
  CQVString s(QVT(" a b \t \t"));
  s.TrimRight(QVT(" \t"));
  EXPECT_EQ(s, QVT(" a b"));
  s.TrimRight(QVT("x"));
  EXPECT_EQ(s, QVT(" a b"));
  s.TrimRight(QVT(""));
  EXPECT_EQ(s, QVT(" a b"));
  s.TrimRight(QVT("ab "));
  EXPECT_EQ(s, QVT(""));
  CQVString path(QVT("C:\\dir\\\\"));
  path.TrimRight(QVT("\\"));
  EXPECT_EQ(path, QVT("C:\\dir"));
}

}  // namespace
