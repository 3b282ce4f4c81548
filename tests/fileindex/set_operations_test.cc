// Comparing entries across indexes and subtracting one index from another;
// user data, clone bits, children and totals.
#include <gtest/gtest.h>

#include "fileindex/index_test_util.h"

namespace qvtest {
namespace {

DWORD AddTimed(CQVFileArray& index, const std::string& path, ULONGLONG size, ULONGLONG time) {
  _tagQVFA_FILEINFO info = MakeInfo(W(path), FILE_ATTRIBUTE_ARCHIVE, size, time - 3);
  return index.Add(nullptr, &info);  // MakeInfo puts the last write at stamp + 3
}

class CompareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddRecord(mine_, W("C:"), true);
    AddRecord(mine_, W("C:\\D"), true);
    AddRecord(theirs_, W("C:"), true);
    AddRecord(theirs_, W("C:\\d"), true);
    AddRecord(theirs_, W("C:\\E"), true);
  }
  CQVFileArray mine_, theirs_;
};

TEST_F(CompareTest, EachFlagTestsWhatItSays) {
  DWORD a = AddTimed(mine_, "C:\\D\\Report.DOC", 100, 0x0000000100000005ull);
  DWORD b = AddTimed(theirs_, "C:\\d\\report.doc", 100, 0x0000000100000005ull);
  DWORD c = AddTimed(theirs_, "C:\\E\\other.Doc", 200, 0x0000000200000000ull);
  EXPECT_TRUE(mine_.CompareEntries(a, theirs_, b, 0));
  EXPECT_TRUE(mine_.CompareEntries(a, theirs_, b, QVFA_CMP_NAME | QVFA_CMP_EXT | QVFA_CMP_PATH |
                                                      QVFA_CMP_SAMETIME | QVFA_CMP_SAMESIZE |
                                                      QVFA_CMP_NOTNEWER | QVFA_CMP_NOTLARGER));
  EXPECT_FALSE(mine_.CompareEntries(a, theirs_, b, QVFA_CMP_OLDER));
  EXPECT_FALSE(mine_.CompareEntries(a, theirs_, b, QVFA_CMP_SMALLER));
  EXPECT_FALSE(mine_.CompareEntries(a, theirs_, c, QVFA_CMP_NAME));
  EXPECT_TRUE(mine_.CompareEntries(a, theirs_, c, QVFA_CMP_EXT));
  EXPECT_FALSE(mine_.CompareEntries(a, theirs_, c, QVFA_CMP_PATH));
  EXPECT_TRUE(mine_.CompareEntries(a, theirs_, c, QVFA_CMP_SMALLER | QVFA_CMP_NOTLARGER));
  EXPECT_FALSE(mine_.CompareEntries(a, theirs_, c, QVFA_CMP_SAMESIZE));
  EXPECT_EQ(GetLastError(), 0u);
}

TEST_F(CompareTest, OlderComparesWholeTimesNotTheLowHalves) {
  // This time's high half is lower, its low half far higher.
  DWORD a = AddTimed(mine_, "C:\\D\\x", 1, 0x00000001FFFFFFF0ull);
  DWORD b = AddTimed(theirs_, "C:\\d\\x", 1, 0x0000000200000001ull);
  EXPECT_TRUE(mine_.CompareEntries(a, theirs_, b, QVFA_CMP_OLDER));
  EXPECT_TRUE(mine_.CompareEntries(a, theirs_, b, QVFA_CMP_NOTNEWER));
  EXPECT_FALSE(theirs_.CompareEntries(b, mine_, a, QVFA_CMP_OLDER));
  EXPECT_FALSE(theirs_.CompareEntries(b, mine_, a, QVFA_CMP_NOTNEWER));
}

TEST_F(CompareTest, ExtensionsIncludeTheDotAndNoExtensionIsItsOwnValue) {
  DWORD plain = AddTimed(mine_, "C:\\D\\Makefile", 1, 10);
  DWORD dotted = AddTimed(theirs_, "C:\\d\\Makefile.", 1, 10);
  DWORD other = AddTimed(theirs_, "C:\\d\\README", 1, 10);
  EXPECT_FALSE(mine_.CompareEntries(plain, theirs_, dotted, QVFA_CMP_EXT));
  EXPECT_TRUE(mine_.CompareEntries(plain, theirs_, other, QVFA_CMP_EXT));
}

TEST(SubtractTest, IndexMinusItsCopyLeavesNothing) {
  TempDir temp;
  for (int i = 0; i < 12; ++i) temp.WriteFile("d" + std::to_string(i % 3) + "/f" + std::to_string(i), i);
  temp.MakeDir("emptyfolder");
  CQVFileArray index;
  index.AddDirectory(temp.DrivePath().c_str());
  CQVFileArray copy(index);
  ASSERT_TRUE(index.SubtractArray(copy, QVFA_CMP_NAME | QVFA_CMP_PATH | QVFA_CMP_SAMESIZE | QVFA_CMP_SAMETIME));
  EXPECT_EQ(index.GetItemCount(TRUE), 0u);
  DWORD size = 0;
  index.GetRawData(&size);
  EXPECT_EQ(size, 88u);
}

TEST(SubtractTest, OnlyWhatIsNewOrChangedRemains) {
  CQVFileArray before;
  AddRecord(before, W("C:"), true);
  AddRecord(before, W("C:\\Docs"), true);
  AddTimed(before, "C:\\Docs\\same.txt", 10, 1000);
  AddTimed(before, "C:\\Docs\\changed.txt", 10, 1000);
  AddRecord(before, W("C:\\Old"), true);
  AddTimed(before, "C:\\Old\\gone.txt", 5, 1000);

  CQVFileArray now;
  AddRecord(now, W("C:"), true);
  AddRecord(now, W("C:\\Docs"), true);
  AddTimed(now, "C:\\Docs\\same.txt", 10, 1000);
  AddTimed(now, "C:\\Docs\\changed.txt", 11, 2000);
  AddTimed(now, "C:\\Docs\\new.txt", 1, 3000);

  ASSERT_TRUE(now.SubtractArray(before, QVFA_CMP_NAME | QVFA_CMP_PATH | QVFA_CMP_SAMESIZE | QVFA_CMP_SAMETIME));
  EXPECT_EQ(now.Add(QVT("C:\\Docs\\same.txt"), nullptr, QVFA_ADD_LOOKUP), 0u);
  EXPECT_NE(now.Add(QVT("C:\\Docs\\changed.txt"), nullptr, QVFA_ADD_LOOKUP), 0u);
  EXPECT_NE(now.Add(QVT("C:\\Docs\\new.txt"), nullptr, QVFA_ADD_LOOKUP), 0u);
  EXPECT_EQ(now.GetItemCount(TRUE), 4u);  // C:, Docs and the two files
}

TEST(SubtractTest, NothingLiveInTheOtherLeavesThisUntouched) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  DWORD gone = AddRecord(index, W("C:\\gone"), false);
  index.DeleteItem(gone, QVFA_DEL_FORCE);
  CQVFileArray other;
  DWORD drive = AddRecord(other, W("C:"), true);
  other.DeleteItem(drive, QVFA_DEL_FORCE);
  ASSERT_TRUE(index.SubtractArray(other, QVFA_CMP_NAME));
  EXPECT_EQ(index.GetItemCount(TRUE), 2u);  // no compaction: the deleted entry stays
  EXPECT_TRUE(index.IsDeleted(gone));
}

TEST(EntryStateTest, UserDataReadAndWrittenInPlace) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  const BYTE initial[18] = {9, 9, 9};
  DWORD file = AddRecord(index, W("C:\\f"), false, 0, 0, 18, initial);
  DWORD size = 0;
  BYTE* data = index.GetUserData(file, &size);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(size, 18u);
  EXPECT_EQ(data[0], 9);
  BYTE replacement[18];
  for (int i = 0; i < 18; ++i) replacement[i] = static_cast<BYTE>(100 + i);
  EXPECT_TRUE(index.SetUserData(file, replacement));
  EXPECT_EQ(std::memcmp(index.GetUserData(file), replacement, 18), 0);
  EXPECT_FALSE(index.SetUserData(file, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(index.GetUserData(file + 1), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(EntryStateTest, ClonesChildrenAndTotals) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  DWORD folder = AddRecord(index, W("C:\\F"), true);
  DWORD leaf = AddRecord(index, W("C:\\F\\Leaf"), true);
  DWORD file = AddRecord(index, W("C:\\F\\a"), false, 1000);
  DWORD clone = AddRecord(index, W("C:\\F\\a"), false, 24, QVFA_ADD_CLONE);
  EXPECT_EQ(index.HasClones(file), static_cast<DWORD>(QVFA_HASCLONES));
  EXPECT_EQ(index.IsClone(clone), static_cast<DWORD>(QVFA_CLONE));
  EXPECT_EQ(index.IsClone(file), 0u);
  EXPECT_TRUE(index.HasChildren(folder, FALSE));
  EXPECT_TRUE(index.HasChildren(folder, TRUE));
  EXPECT_FALSE(index.HasChildren(leaf, FALSE));
  EXPECT_FALSE(index.HasChildren(file, FALSE));  // not a folder
  index.DeleteItem(leaf, QVFA_DEL_FORCE);
  EXPECT_TRUE(index.HasChildren(folder, TRUE));  // deleted children count too
  EXPECT_EQ(index.GetTotalSize(), 1024u);
}

}  // namespace
}  // namespace qvtest
