// Images that come from damaged or crafted archives and files: refused with
// ERROR_INVALID_DATA, or, when the damage leaves them well formed, usable
// without any read outside the image (run under AddressSanitizer).
#include <gtest/gtest.h>

#include <vector>

#include "fileindex/index_test_util.h"

namespace qvtest {
namespace {


Bytes SampleImage() {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  AddRecord(index, W("C:\\A"), true);
  AddRecord(index, W("C:\\A\\one.txt"), false, 1, 0, 3, "abc");
  AddRecord(index, W("C:\\A\\two.doc"), false, 2);
  AddRecord(index, W("C:\\B"), true);
  AddRecord(index, W("C:\\B\\three"), false, 3);
  return ImageOf(index);
}

// Walks everything an accepted image offers.
void Exercise(CQVFileArray& index) {
  DWORD entry = 0;
  HANDLE flat = index.FindFirstFileW(entry, nullptr);
  int guard = 0;
  if (flat != nullptr) {
    do {
      index.GetPathName(entry);
      index.GetFileName(entry);
      _tagQVFA_FILEINFO info;
      index.GetFileInfo(entry, &info);
      index.HasChildren(entry, TRUE);
      index.GetUserData(entry);
    } while (index.FindNextFileW(flat, entry) && ++guard < 100);
    index.FindClose(flat);
  }
  QV_FINDFILTER filter;
  std::memset(&filter, 0, sizeof(filter));
  filter.dwFlags = QVFF_RECURSE | QVFF_INCLUDEDELETED | QVFF_NOMETAFILES | QVFF_NOSYSVOLINFO;
  filter.pszBasePath = QVT("");
  HANDLE tree = index.FindFirstFileW(entry, &filter);
  guard = 0;
  if (tree != nullptr) {
    while (index.FindNextFileW(tree, entry) && ++guard < 100) {
    }
    index.FindClose(tree);
  }
  EXPECT_LT(guard, 100);
  index.Add(QVT("C:\\A\\one.txt"), nullptr, QVFA_ADD_LOOKUP);
  CQVFileArray copy(index);
  index.SubtractArray(copy, QVFA_CMP_NAME);
  index.Compact(TRUE);
  // What Compact leaves must still be an image the index accepts.
  Bytes after = ImageOf(index);
  CQVFileArray check;
  EXPECT_TRUE(check.SetRawData(after.data(), static_cast<DWORD>(after.size())));
}

TEST(ImageHostileTest, EveryCorruptedByteIsRefusedOrHarmless) {
  Bytes good = SampleImage();
  int refused = 0;
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (BYTE flip : {0x01, 0x02, 0x10, 0x80, 0xFF}) {
      Bytes bad = good;
      bad[at] ^= flip;
      CQVFileArray index;
      AddRecord(index, W("K:"), true);
      Bytes before = ImageOf(index);
      if (index.SetRawData(bad.data(), static_cast<DWORD>(bad.size()))) {
        Exercise(index);
      } else {
        ++refused;
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA)) << "byte " << at;
        ASSERT_EQ(ImageOf(index), before) << "byte " << at;
      }
    }
  }
  // Sizes, tags, links and names are guarded: most damage is refused.
  EXPECT_GT(refused, static_cast<int>(good.size()));
}

TEST(ImageHostileTest, EveryTruncationIsRefused) {
  Bytes good = SampleImage();
  for (std::size_t length = 0; length < good.size(); ++length) {
    CQVFileArray index;
    EXPECT_FALSE(index.SetRawData(good.data(), static_cast<DWORD>(length))) << length;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(index.GetItemCount(TRUE), 0u);
  }
}

TEST(ImageHostileTest, LinkCyclesAreRefused) {
  Bytes good = SampleImage();
  CQVFileArray probe;
  ASSERT_TRUE(probe.SetRawData(good.data(), static_cast<DWORD>(good.size())));
  DWORD a = probe.Add(QVT("C:\\A"), nullptr, QVFA_ADD_LOOKUP);
  DWORD one = probe.Add(QVT("C:\\A\\one.txt"), nullptr, QVFA_ADD_LOOKUP);
  DWORD two = probe.Add(QVT("C:\\A\\two.doc"), nullptr, QVFA_ADD_LOOKUP);
  auto put = [](Bytes& image, DWORD at, DWORD value) { std::memcpy(image.data() + at, &value, 4); };

  Bytes siblingLoop = good;
  put(siblingLoop, two + 12, one);  // two's next sibling back to one
  Bytes parentLoop = good;
  put(parentLoop, a + 20, one);  // A's parent is its own child
  Bytes selfChild = good;
  put(selfChild, one + 4, one);
  put(selfChild, one + 8, one);
  for (Bytes* bad : {&siblingLoop, &parentLoop, &selfChild}) {
    CQVFileArray index;
    EXPECT_FALSE(index.SetRawData(bad->data(), static_cast<DWORD>(bad->size())));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  }
}

TEST(ImageHostileTest, DamagedChunkedImagePutsThePreviousOneBack) {
  Bytes good = SampleImage();
  Bytes bad = good;
  bad[86 + 2] = 0;  // the first entry's tag
  CQVFileArray index;
  AddRecord(index, W("K:"), true);
  AddRecord(index, W("K:\\kept"), false, 9);
  Bytes before = ImageOf(index);
  ASSERT_TRUE(index.StartSetRawData(static_cast<DWORD>(bad.size())));
  ASSERT_TRUE(index.AddRawDataChunk(bad.data(), static_cast<DWORD>(bad.size())));
  EXPECT_FALSE(index.EndSetRawData());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(ImageOf(index), before);
  EXPECT_EQ(index.GetItemCount(TRUE), 2u);
  // The index is usable again, and fewer bytes than announced are refused too.
  EXPECT_NE(AddRecord(index, W("K:\\more"), false), 0u);
  ASSERT_TRUE(index.StartSetRawData(static_cast<DWORD>(good.size())));
  ASSERT_TRUE(index.AddRawDataChunk(good.data(), static_cast<DWORD>(good.size() - 1)));
  EXPECT_FALSE(index.EndSetRawData());
  EXPECT_EQ(index.GetItemCount(TRUE), 3u);
}

TEST(ImageHostileTest, MadeUpIndexesNeverReadOutside) {
  Bytes good = SampleImage();
  CQVFileArray index;
  ASSERT_TRUE(index.SetRawData(good.data(), static_cast<DWORD>(good.size())));
  for (DWORD made = 0; made < good.size() + 100; ++made) {
    index.GetPathName(made);
    index.GetFileName(made);
    index.GetPath(made);
    index.GetSize(made);
    index.GetUserData(made);
    index.HasChildren(made, FALSE);
    index.IsClone(made);
  }
  // Only the real entries are accepted.
  int accepted = 0;
  for (DWORD made = 1; made < good.size(); ++made) accepted += index.GetAttributes(made) != INVALID_FILE_ATTRIBUTES;
  EXPECT_EQ(accepted, 6);
}

}  // namespace
}  // namespace qvtest
