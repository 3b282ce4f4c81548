// Searching the index with filters, flat and below a base folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fileindex/index_test_util.h"

namespace qvtest {
namespace {

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder("C:");
    Folder("C:\\Data");
    File("C:\\Data\\a.doc", 10);
    File("C:\\Data\\B.DOC", 20);
    File("C:\\Data\\c.Doc", 30);
    File("C:\\Data\\d.dot", 40);
    File("C:\\Data\\noext", 50);
    Folder("C:\\Data\\Sub");
    File("C:\\Data\\Sub\\e.doc", 60);
    File("C:\\Data\\Sub\\f.txt", 70);
    File("C:\\Data\\NTUSER.DAT", 80);
    File("C:\\$MFT", 1);
    Folder("C:\\$Extend");
    File("C:\\$Extend\\$UsnJrnl", 2);
    Folder("C:\\$Recycle.Bin");
    File("C:\\Data\\$MFT", 3);
    Folder("C:\\System Volume Information");
    File("C:\\System Volume Information\\x", 4);
    Folder("C:\\Data\\System Volume Information");
  }

  DWORD Folder(const std::string& path) { return AddRecord(index_, W(path), true); }
  DWORD File(const std::string& path, ULONGLONG size) { return AddRecord(index_, W(path), false, size); }

  // Every match of the filter, as full paths, in the order found.
  std::vector<std::string> Find(const QV_FINDFILTER* filter) {
    std::vector<std::string> found;
    DWORD entry = 0;
    HANDLE search = index_.FindFirstFileW(entry, filter);
    if (search == nullptr) return found;
    do {
      found.push_back(Str(index_.GetPathName(entry)));
    } while (index_.FindNextFileW(search, entry));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(index_.FindClose(search));
    return found;
  }

  static QV_FINDFILTER Filter(DWORD flags, const WCHAR* base = nullptr, const WCHAR* fileMask = nullptr,
                              const WCHAR* extensionMask = nullptr) {
    QV_FINDFILTER filter;
    std::memset(&filter, 0, sizeof(filter));
    filter.dwFlags = flags;
    filter.pszBasePath = base;
    filter.pszFileMask = fileMask;
    filter.pszExtensionMask = extensionMask;
    return filter;
  }

  using Paths = std::vector<std::string>;
  CQVFileArray index_;
};

TEST_F(SearchTest, ExtensionBelowBaseFolderFollowsTheTreeDepthFirst) {
  QV_FINDFILTER recursive = Filter(QVFF_RECURSE, QVT("C:\\Data"), nullptr, QVT("doc"));
  EXPECT_EQ(Find(&recursive),
            (Paths{"C:\\Data\\a.doc", "C:\\Data\\B.DOC", "C:\\Data\\c.Doc", "C:\\Data\\Sub\\e.doc"}));
  QV_FINDFILTER childrenOnly = Filter(0, QVT("C:\\Data"), nullptr, QVT("doc"));
  EXPECT_EQ(Find(&childrenOnly), (Paths{"C:\\Data\\a.doc", "C:\\Data\\B.DOC", "C:\\Data\\c.Doc"}));
}

TEST_F(SearchTest, WildcardExtensionGoesThroughTheMatcher) {
  QV_FINDFILTER filter = Filter(QVFF_RECURSE, QVT("C:\\Data"), nullptr, QVT("do?"));
  EXPECT_EQ(Find(&filter), (Paths{"C:\\Data\\a.doc", "C:\\Data\\B.DOC", "C:\\Data\\c.Doc",
                                  "C:\\Data\\d.dot", "C:\\Data\\Sub\\e.doc"}));
}

TEST_F(SearchTest, FileMasksByKeyAndByWildcard) {
  QV_FINDFILTER exact = Filter(0, QVT("C:\\Data"), QVT("ntuser.dat"));
  EXPECT_EQ(Find(&exact), (Paths{"C:\\Data\\NTUSER.DAT"}));
  QV_FINDFILTER wildcard = Filter(QVFF_RECURSE, QVT("C:\\Data"), QVT("*.txt"));
  EXPECT_EQ(Find(&wildcard), (Paths{"C:\\Data\\Sub\\f.txt"}));
  QV_FINDFILTER none = Filter(QVFF_RECURSE, QVT("C:\\Data"), QVT("*.tmp"));
  EXPECT_EQ(Find(&none), Paths{});
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
}

TEST_F(SearchTest, RecursionEntersFoldersThatDoNotMatch) {
  QV_FINDFILTER filter = Filter(QVFF_RECURSE, QVT("C:\\Data"), QVT("e.doc"));
  EXPECT_EQ(Find(&filter), (Paths{"C:\\Data\\Sub\\e.doc"}));
}

TEST_F(SearchTest, DeletedEntriesOnlyOnRequest) {
  DWORD doc = index_.Add(QVT("C:\\Data\\B.DOC"), nullptr, QVFA_ADD_LOOKUP);
  ASSERT_TRUE(index_.DeleteItem(doc, QVFA_DEL_FORCE));
  QV_FINDFILTER live = Filter(0, QVT("C:\\Data"), nullptr, QVT("doc"));
  EXPECT_EQ(Find(&live), (Paths{"C:\\Data\\a.doc", "C:\\Data\\c.Doc"}));
  QV_FINDFILTER all = Filter(QVFF_INCLUDEDELETED, QVT("C:\\Data"), nullptr, QVT("doc"));
  EXPECT_EQ(Find(&all), (Paths{"C:\\Data\\a.doc", "C:\\Data\\B.DOC", "C:\\Data\\c.Doc"}));
}

TEST_F(SearchTest, MetafilesAndSystemVolumeInformationAreLeftOut) {
  QV_FINDFILTER metafiles = Filter(QVFF_NOMETAFILES, nullptr, QVT("$*"));
  EXPECT_EQ(Find(&metafiles), (Paths{"C:\\$Recycle.Bin", "C:\\Data\\$MFT"}));
  QV_FINDFILTER everything = Filter(0, nullptr, QVT("$*"));
  EXPECT_EQ(Find(&everything).size(), 5u);

  QV_FINDFILTER noSysVol = Filter(QVFF_NOSYSVOLINFO | QVFF_RECURSE, QVT(""));
  Paths found = Find(&noSysVol);
  for (const std::string& path : found) {
    EXPECT_NE(path.rfind("C:\\System Volume Information", 0), 0u) << path;
  }
  EXPECT_NE(std::find(found.begin(), found.end(), "C:\\Data\\System Volume Information"), found.end());
}

TEST_F(SearchTest, WithoutFilterEveryEntryInImageOrder) {
  std::vector<std::string> expected;
  for (DWORD offset = WordAt(index_, 0); offset != 0;) {
    expected.push_back(Str(index_.GetPathName(offset)));
    WORD step = WordAt(index_, offset);
    offset = step == 0 ? 0 : offset + step;
  }
  EXPECT_EQ(Find(nullptr), expected);
  EXPECT_EQ(expected.size(), index_.GetItemCount(TRUE));
}

TEST_F(SearchTest, BoundsOnAttributesStateTimesAndSizes) {
  DWORD folderBit = FILE_ATTRIBUTE_DIRECTORY;
  QV_FINDFILTER folders = Filter(QVFF_RECURSE, QVT("C:\\Data"));
  folders.pdwAttributesSet = &folderBit;
  EXPECT_EQ(Find(&folders), (Paths{"C:\\Data\\Sub", "C:\\Data\\System Volume Information"}));

  QV_FINDFILTER files = Filter(0, QVT("C:\\Data\\Sub"));
  files.pdwAttributesClear = &folderBit;
  EXPECT_EQ(Find(&files).size(), 2u);

  ULONGLONG low = 20, high = 40;
  QV_FINDFILTER sized = Filter(0, QVT("C:\\Data"));
  sized.pullMinSize = &low;
  sized.pullMaxSize = &high;
  EXPECT_EQ(Find(&sized), (Paths{"C:\\Data\\B.DOC", "C:\\Data\\c.Doc", "C:\\Data\\d.dot"}));

  // Times differ only in their high halves: the bound must compare whole values.
  _tagQVFA_FILEINFO older = MakeInfo(W("C:\\Data\\old.bin"), 0x20, 1, 0x0000000100000000ull | 0xFFFFFF00u);
  _tagQVFA_FILEINFO newer = MakeInfo(W("C:\\Data\\new.bin"), 0x20, 1, 0x0000000200000000ull);
  index_.Add(nullptr, &older);
  index_.Add(nullptr, &newer);
  FILETIME bound = {0x00000000u, 0x00000002u};
  QV_FINDFILTER recent = Filter(0, QVT("C:\\Data"), QVT("*.bin"));
  recent.pftLastWriteAfter = &bound;
  EXPECT_EQ(Find(&recent), (Paths{"C:\\Data\\new.bin"}));
  QV_FINDFILTER early = Filter(0, QVT("C:\\Data"), QVT("*.bin"));
  FILETIME justBefore = {0xFFFFFFFFu, 0x00000001u};  // bounds are inclusive
  early.pftCreationBefore = &justBefore;
  EXPECT_EQ(Find(&early), (Paths{"C:\\Data\\old.bin"}));

  DWORD inUse = QVFA_INUSE;
  _tagQVFA_FILEINFO used = MakeInfo(W("C:\\Data\\used.bin"), 0x20);
  used.ullState = 1;
  index_.Add(nullptr, &used);
  QV_FINDFILTER state = Filter(QVFF_RECURSE, QVT(""));
  state.pdwStateSet = &inUse;
  EXPECT_EQ(Find(&state), (Paths{"C:\\Data\\used.bin"}));
}

TEST_F(SearchTest, EmptyResultsReturnNoHandle) {
  CQVFileArray empty;
  DWORD entry = 99;
  EXPECT_EQ(empty.FindFirstFileW(entry, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_EQ(entry, 0u);

  Folder("C:\\Empty");
  QV_FINDFILTER leaf = Filter(QVFF_RECURSE, QVT("C:\\Empty"));
  EXPECT_EQ(index_.FindFirstFileW(entry, &leaf), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));

  QV_FINDFILTER missing = Filter(0, QVT("Q:\\no\\such\\folder"));
  EXPECT_EQ(index_.FindFirstFileW(entry, &missing), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(SearchTest, BaseFolderOnDiskIsAddedToTheIndex) {
  TempDir temp;
  temp.WriteFile("inside.txt", 3);
  CQVFileArray index;
  WString base = temp.DrivePath();
  QV_FINDFILTER filter = Filter(0, base.c_str());
  DWORD entry = 0;
  // The folder is added, but it has no children in the index yet.
  EXPECT_EQ(index.FindFirstFileW(entry, &filter), nullptr);
  EXPECT_NE(index.Add(base.c_str(), nullptr, QVFA_ADD_LOOKUP), 0u);
}

TEST_F(SearchTest, HandlesThatAreNotTheIndexsOwnAreRefused) {
  DWORD entry = 0;
  HANDLE search = index_.FindFirstFileW(entry, nullptr);
  ASSERT_NE(search, nullptr);
  CQVFileArray other;
  AddRecord(other, W("D:"), true);
  EXPECT_FALSE(other.FindNextFileW(search, entry));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(other.FindClose(search));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  int local = 24;
  EXPECT_FALSE(index_.FindClose(&local));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(index_.FindNextFileW(nullptr, entry));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_FALSE(index_.FindNextFileW(INVALID_HANDLE_VALUE, entry));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  SetLastError(5);
  EXPECT_TRUE(index_.FindClose(search));
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_FALSE(index_.FindClose(search));  // closed twice
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(SearchTest, ExhaustedSearchStaysExhausted) {
  QV_FINDFILTER filter = Filter(0, QVT("C:\\Data\\Sub"));
  DWORD entry = 0;
  HANDLE search = index_.FindFirstFileW(entry, &filter);
  ASSERT_NE(search, nullptr);
  EXPECT_TRUE(index_.FindNextFileW(search, entry));
  EXPECT_FALSE(index_.FindNextFileW(search, entry));
  File("C:\\Data\\Sub\\late.txt", 1);  // too late: the search has ended
  EXPECT_FALSE(index_.FindNextFileW(search, entry));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  index_.FindClose(search);
}

TEST_F(SearchTest, ChildrenAddedDuringTheSearchAreVisited) {
  QV_FINDFILTER filter = Filter(QVFF_RECURSE, QVT("C:\\Data\\Sub"));
  DWORD entry = 0;
  HANDLE search = index_.FindFirstFileW(entry, &filter);
  ASSERT_NE(search, nullptr);
  File("C:\\Data\\Sub\\added.txt", 1);
  Paths rest;
  while (index_.FindNextFileW(search, entry)) rest.push_back(Str(index_.GetPathName(entry)));
  EXPECT_EQ(rest, (Paths{"C:\\Data\\Sub\\f.txt", "C:\\Data\\Sub\\added.txt"}));
  index_.FindClose(search);
}

TEST_F(SearchTest, StaleHandleAfterCompactEndsInsteadOfWandering) {
  DWORD entry = 0;
  QV_FINDFILTER filter = Filter(QVFF_RECURSE, QVT(""));
  HANDLE search = index_.FindFirstFileW(entry, &filter);
  ASSERT_NE(search, nullptr);
  for (int i = 0; i < 3; ++i) index_.FindNextFileW(search, entry);
  index_.DeleteItem(index_.Add(QVT("C:\\Data\\a.doc"), nullptr, QVFA_ADD_LOOKUP), QVFA_DEL_FORCE);
  ASSERT_TRUE(index_.Compact(FALSE));
  int steps = 0;
  while (index_.FindNextFileW(search, entry) && steps < 1000) ++steps;
  EXPECT_LT(steps, 1000);
  EXPECT_TRUE(index_.FindClose(search));
}

}  // namespace
}  // namespace qvtest
