// Deleting entries, compacting the image, and the random-tree check of both
// against a model of the tree.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "fileindex/index_test_util.h"

namespace qvtest {
namespace {

DWORD Lookup(CQVFileArray& index, const std::string& path) {
  return index.Add(W(path).c_str(), nullptr, QVFA_ADD_LOOKUP);
}

// Verifies what Compact must leave: an image the index accepts from outside.
void ExpectWellFormed(CQVFileArray& index) {
  DWORD size = 0;
  const BYTE* image = index.GetRawData(&size);
  CQVFileArray check;
  EXPECT_TRUE(check.SetRawData(image, size));
  EXPECT_EQ(check.GetItemCount(TRUE), index.GetItemCount(TRUE));
}

class DeletionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddRecord(index_, W("C:"), true);
    folder_ = AddRecord(index_, W("C:\\F"), true);
    file_ = AddRecord(index_, W("C:\\F\\x.txt"), false, 5);
  }
  CQVFileArray index_;
  DWORD folder_ = 0;
  DWORD file_ = 0;
};

TEST_F(DeletionTest, IfEmptyWaitsForTheLastLiveChild) {
  EXPECT_FALSE(index_.DeleteItem(folder_, QVFA_DEL_IFEMPTY));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(index_.DeleteItem(file_, QVFA_DEL_IFEMPTY));
  EXPECT_TRUE(index_.DeleteItem(folder_, QVFA_DEL_IFEMPTY));
  EXPECT_EQ(index_.GetItemCount(FALSE), 1u);
  EXPECT_EQ(index_.GetItemCount(TRUE), 3u);
}

TEST_F(DeletionTest, UnlessParentDeletedRefusesBelowADeletedFolder) {
  ASSERT_TRUE(index_.DeleteItem(folder_, QVFA_DEL_FORCE));
  EXPECT_FALSE(index_.DeleteItem(file_, QVFA_DEL_UNLESSPARENTDELETED));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_STATE));
  EXPECT_FALSE(index_.IsDeleted(file_));
}

TEST_F(DeletionTest, DeletingTwiceCountsOnce) {
  ASSERT_TRUE(index_.DeleteItem(file_, QVFA_DEL_FORCE));
  SetLastError(9);
  EXPECT_TRUE(index_.DeleteItem(file_, QVFA_DEL_FORCE));
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(index_.GetItemCount(TRUE) - index_.GetItemCount(FALSE), 1u);
}

TEST_F(DeletionTest, TreeModeTakesEverythingBelow) {
  AddRecord(index_, W("C:\\F\\G"), true);
  AddRecord(index_, W("C:\\F\\G\\y"), false);
  ASSERT_TRUE(index_.DeleteItem(folder_, QVFA_DEL_TREE));
  EXPECT_EQ(index_.GetItemCount(FALSE), 1u);  // only C: is left
  EXPECT_TRUE(index_.IsDeleted(Lookup(index_, "C:\\F\\G\\y")));
}

TEST_F(DeletionTest, BadModesAndIndexes) {
  EXPECT_FALSE(index_.DeleteItem(file_, 4));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_FALSE(index_.DeleteItem(file_ + 1, QVFA_DEL_FORCE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(index_.DeleteItem(0, QVFA_DEL_FORCE));  // the root stays
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CompactTest, MiddleSiblingRemovedAndTheRestRelinked) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  DWORD parent = AddRecord(index, W("C:\\P"), true);
  AddRecord(index, W("C:\\P\\first"), false, 1);
  DWORD middle = AddRecord(index, W("C:\\P\\middle"), true);
  AddRecord(index, W("C:\\P\\last"), true);
  AddRecord(index, W("C:\\P\\last\\child"), false, 4);
  DWORD all = index.GetItemCount(TRUE);
  DWORD live = index.GetItemCount(FALSE);
  ASSERT_TRUE(index.DeleteItem(middle, QVFA_DEL_IFEMPTY));
  EXPECT_EQ(index.GetItemCount(FALSE), live - 1);
  ASSERT_TRUE(index.Compact(FALSE));
  EXPECT_EQ(index.GetItemCount(TRUE), all - 1);
  EXPECT_EQ(index.GetItemCount(FALSE), live - 1);

  DWORD first = Lookup(index, "C:\\P\\first");
  DWORD last = Lookup(index, "C:\\P\\last");
  DWORD child = Lookup(index, "C:\\P\\last\\child");
  ASSERT_NE(last, 0u);
  EXPECT_EQ(Lookup(index, "C:\\P\\middle"), 0u);
  EXPECT_EQ(last, middle);  // moved down into the gap
  EXPECT_EQ(EntryAt(index, first).dwNextSibling, last);
  EXPECT_EQ(EntryAt(index, last).dwPrevSibling, first);
  EXPECT_EQ(EntryAt(index, parent).dwFirstChild, first);
  EXPECT_EQ(EntryAt(index, parent).dwLastChild, last);
  EXPECT_EQ(EntryAt(index, child).dwParent, last);
  EXPECT_EQ(index.GetSize(child), 4u);
  EXPECT_EQ(WordAt(index, child), 0);  // the last entry's size word
  ExpectWellFormed(index);
}

TEST(CompactTest, EmptyFoldersGoUpTheTree) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  AddRecord(index, W("C:\\Keep"), true);
  AddRecord(index, W("C:\\Keep\\k"), false);
  AddRecord(index, W("C:\\Outer"), true);
  AddRecord(index, W("C:\\Outer\\Inner"), true);
  DWORD a = AddRecord(index, W("C:\\Outer\\Inner\\a"), false);
  DWORD b = AddRecord(index, W("C:\\Outer\\Inner\\b"), false);
  index.DeleteItem(a, QVFA_DEL_FORCE);
  index.DeleteItem(b, QVFA_DEL_FORCE);
  ASSERT_TRUE(index.Compact(TRUE));
  EXPECT_EQ(Lookup(index, "C:\\Outer"), 0u);
  EXPECT_EQ(Lookup(index, "C:\\Outer\\Inner"), 0u);
  EXPECT_NE(Lookup(index, "C:\\Keep\\k"), 0u);
  EXPECT_EQ(index.GetItemCount(TRUE), 3u);
  ExpectWellFormed(index);
}

TEST(CompactTest, ForceDeletedFolderTakesItsLiveChildrenAlong) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  DWORD folder = AddRecord(index, W("C:\\Gone"), true);
  AddRecord(index, W("C:\\Gone\\orphan"), false);
  AddRecord(index, W("C:\\after"), false);
  ASSERT_TRUE(index.DeleteItem(folder, QVFA_DEL_FORCE));
  ASSERT_TRUE(index.Compact(FALSE));
  EXPECT_EQ(index.GetItemCount(TRUE), 2u);
  EXPECT_NE(Lookup(index, "C:\\after"), 0u);
  ExpectWellFormed(index);
}

TEST(CompactTest, EverythingDeletedLeavesTheEmptyImage) {
  CQVFileArray index;
  DWORD drive = AddRecord(index, W("C:"), true);
  AddRecord(index, W("C:\\x"), false);
  index.DeleteItem(drive, QVFA_DEL_TREE);
  ASSERT_TRUE(index.Compact(FALSE));
  DWORD size = 0;
  index.GetRawData(&size);
  EXPECT_EQ(size, 88u);
  EXPECT_EQ(WordAt(index, 0), 0);
  EXPECT_EQ(WordAt(index, 86), 86);
  EXPECT_EQ(AddRecord(index, W("D:"), true), 86u);
}

// Random trees, random deletions, compaction: checked against a model.
TEST(CompactTest, RandomTreesAgreeWithTheModel) {
  for (unsigned seed = 1; seed <= 25; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    CQVFileArray index;
    AddRecord(index, W("C:"), true);
    std::vector<std::string> folders = {"C:"};
    std::map<std::string, bool> isFolder;  // every path below C:
    for (int i = 0; i < 300; ++i) {
      const std::string& parent = folders[random() % folders.size()];
      bool folder = random() % 3 == 0;
      std::string path = parent + "\\n" + std::to_string(i);
      ASSERT_NE(AddRecord(index, W(path), folder, i), 0u);
      isFolder[path] = folder;
      if (folder) folders.push_back(path);
    }
    std::map<std::string, bool> deleted;
    for (auto& [path, folder] : isFolder) {
      if (random() % 4 != 0) continue;
      DWORD mode = random() % 4;
      if (index.DeleteItem(Lookup(index, path), mode)) deleted[path] = true;
      if (mode == QVFA_DEL_TREE) {
        for (auto& [other, unused] : isFolder) {
          if (other.rfind(path + "\\", 0) == 0) deleted[other] = true;
        }
      }
    }
    const bool removeEmpty = seed % 2 == 0;
    ASSERT_TRUE(index.Compact(removeEmpty));
    ExpectWellFormed(index);

    // An entry survives when neither it nor a folder above it was deleted
    // and, with removeEmpty, when it is a file or a folder with a surviving
    // file below.
    auto removedAbove = [&](const std::string& path) {
      for (std::size_t cut = path.rfind('\\'); cut != std::string::npos && cut > 2;
           cut = path.rfind('\\', cut - 1)) {
        if (deleted.count(path.substr(0, cut))) return true;
      }
      return false;
    };
    std::map<std::string, bool> survives;
    for (auto& [path, folder] : isFolder) survives[path] = !deleted.count(path) && !removedAbove(path);
    if (removeEmpty) {
      for (auto& [path, folder] : isFolder) {
        if (!folder || !survives[path]) continue;
        bool liveFile = false;
        for (auto& [other, otherFolder] : isFolder) {
          if (!otherFolder && survives[other] && other.rfind(path + "\\", 0) == 0) liveFile = true;
        }
        if (!liveFile) survives[path] = false;
      }
    }
    DWORD expected = 0;
    for (auto& [path, alive] : survives) {
      DWORD entry = Lookup(index, path);
      EXPECT_EQ(entry != 0, alive) << path;
      if (alive) {
        ++expected;
        EXPECT_EQ(Str(index.GetPathName(entry)), path);
        EXPECT_EQ(index.GetSize(entry), std::stoull(path.substr(path.rfind('n') + 1)));
      }
    }
    DWORD drive = Lookup(index, "C:");
    EXPECT_EQ(index.GetItemCount(TRUE), expected + (drive != 0 ? 1u : 0u));
    EXPECT_EQ(index.GetItemCount(FALSE), index.GetItemCount(TRUE));
  }
}

}  // namespace
}  // namespace qvtest
