// Reading entries back: file information, invalid indexes, entries made from
// the file system.
#include <gtest/gtest.h>

#include <filesystem>

#include "fileindex/index_test_util.h"

namespace qvtest {
namespace {

class EntryInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddRecord(index_, W("C:"), true);
    folder_ = AddRecord(index_, W("C:\\Data"), true);
    _tagQVFA_FILEINFO info = MakeInfo(W("C:\\Data\\photo.jpg"), 0x21, 0x123456789ull, 0x01D9AABB00000000ull);
    info.ullState = 1;
    info.ullReference = 0xABCDEF0012345678ull;
    file_ = index_.Add(nullptr, &info);
  }

  CQVFileArray index_;
  DWORD folder_ = 0;
  DWORD file_ = 0;
};

TEST_F(EntryInfoTest, RecordComesBackWithNameAndLinks) {
  _tagQVFA_FILEINFO out;
  std::memset(&out, 0xCC, sizeof(out));
  ASSERT_TRUE(index_.GetFileInfo(file_, &out));
  _tagQVFA_FILEINFO expected = MakeInfo(W("photo.jpg"), 0x21, 0x123456789ull, 0x01D9AABB00000000ull);
  EXPECT_EQ(+out.dwFileAttributes, 0x21u);
  EXPECT_EQ(QVTEST_TIME(out.ftCreationTime), QVTEST_TIME(expected.ftCreationTime));
  EXPECT_EQ(QVTEST_TIME(out.ftLastAccessTime), QVTEST_TIME(expected.ftLastAccessTime));
  EXPECT_EQ(QVTEST_TIME(out.ftChangeTime), QVTEST_TIME(expected.ftChangeTime));
  EXPECT_EQ(QVTEST_TIME(out.ftLastWriteTime), QVTEST_TIME(expected.ftLastWriteTime));
  EXPECT_EQ(+out.ullSize, 0x123456789ull);
  EXPECT_EQ(+out.ullState, 0u);
  EXPECT_EQ(U8(out.szName), "photo.jpg");
  for (WCHAR c : out.szAlternateName) EXPECT_EQ(c, 0);
  EXPECT_EQ(+out.dwReserved, 0u);
  EXPECT_EQ(+out.ullParentReference, folder_);
  EXPECT_EQ(+out.ullReference, file_);
  // The record's state bit 0 and the low half of its own reference went in.
  EXPECT_EQ(index_.IsInUse(file_), static_cast<DWORD>(QVFA_INUSE));
  EXPECT_EQ(EntryAt(index_, file_).dwVolumeReference, 0x12345678u);
}

TEST_F(EntryInfoTest, FindDataTakesLastWriteAndLeavesReservedWords) {
  WIN32_FIND_DATAW data;
  std::memset(&data, 0xCC, sizeof(data));
  ASSERT_TRUE(index_.GetFileInfo(file_, &data));
  _tagQVFA_FILEINFO expected = MakeInfo(W("x"), 0, 0, 0x01D9AABB00000000ull);
  EXPECT_EQ(data.dwFileAttributes, 0x21u);
  EXPECT_EQ(QVTEST_TIME(data.ftLastWriteTime), QVTEST_TIME(expected.ftLastWriteTime));
  EXPECT_EQ(data.nFileSizeHigh, 1u);
  EXPECT_EQ(data.nFileSizeLow, 0x23456789u);
  EXPECT_EQ(data.dwReserved0, 0xCCCCCCCCu);
  EXPECT_EQ(data.dwReserved1, 0xCCCCCCCCu);
  EXPECT_EQ(U8(data.cFileName), "photo.jpg");
  EXPECT_EQ(data.cAlternateFileName[0], 0);
}

TEST_F(EntryInfoTest, AccessorsReturnTheMaskedBits) {
  EXPECT_EQ(index_.IsDirectory(folder_), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(index_.IsDirectory(file_), 0u);
  EXPECT_EQ(index_.IsDeleted(file_), 0u);
  EXPECT_EQ(index_.IsInUse(folder_), 0u);
  EXPECT_EQ(index_.GetAttributes(file_), 0x21u);
  EXPECT_EQ(index_.GetSize(file_), 0x123456789ull);
}

TEST_F(EntryInfoTest, InvalidIndexesFailWithInvalidParameter) {
  // Outside the image, inside an entry, on the trailer, and far away.
  const DWORD bad[] = {1, file_ + 2, file_ + 40, folder_ + 1, 0x7FFFFFF0u, 0xFFFFFFFFu};
  for (DWORD index : bad) {
    SCOPED_TRACE(index);
    SetLastError(0);
    CQVString name = index_.GetFileName(index);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Str(name), "");
    SetLastError(0);
    CQVString path = index_.GetPathName(index);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(Str(path), "");
    SetLastError(0);
    EXPECT_EQ(index_.GetAttributes(index), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(index_.GetSize(index), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(index_.IsDirectory(index), 0u);
    EXPECT_EQ(index_.IsDeleted(index), 0u);
    EXPECT_EQ(index_.IsInUse(index), 0u);
    _tagQVFA_FILEINFO info;
    EXPECT_FALSE(index_.GetFileInfo(index, &info));
    WIN32_FIND_DATAW data;
    EXPECT_FALSE(index_.GetFileInfo(index, &data));
  }
  SetLastError(0);
  EXPECT_FALSE(index_.GetFileInfo(file_, static_cast<_tagQVFA_FILEINFO*>(nullptr)));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(EntryFromFileSystemTest, TakesAttributesSizeAndTimesFromTheFile) {
  TempDir temp;
  temp.WriteFile("sub/f.txt", 4321);
  CQVFileArray index;
  WString path = temp.DrivePath() + W("\\sub\\f.txt");
  SetLastError(12345);
  DWORD file = index.Add(path.c_str());
  ASSERT_NE(file, 0u) << GetLastError();
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(Str(index.GetPathName(file)), U8(path));
  EXPECT_EQ(index.GetSize(file), 4321u);
  EXPECT_TRUE(index.GetAttributes(file) & FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_FALSE(index.GetAttributes(file) & FILE_ATTRIBUTE_DIRECTORY);
  EntryFields entry = EntryAt(index, file);
  EXPECT_EQ(entry.ullChangeTime, entry.ullLastWriteTime);
  EXPECT_NE(entry.ullLastWriteTime, 0u);
  EXPECT_EQ(entry.dwVolumeReference, 0u);
  EXPECT_EQ(entry.bState, 0);
  DWORD folder = entry.dwParent;
  EXPECT_TRUE(index.IsDirectory(folder));
  EXPECT_EQ(index.GetSize(folder), 0u);
  // Every ancestor up to the drive is a folder, so the path reads back whole.
  EXPECT_EQ(Str(index.GetPath(file)), U8(temp.DrivePath() + W("\\sub")));
}

TEST(EntryFromFileSystemTest, MissingFileKeepsTheFoldersBeforeIt) {
  TempDir temp;
  temp.MakeDir("present");
  CQVFileArray index;
  WString path = temp.DrivePath() + W("\\present\\absent.txt");
  SetLastError(0);
  EXPECT_EQ(index.Add(path.c_str()), 0u);
  DWORD error = GetLastError();
  EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
  DWORD folder = index.Add((temp.DrivePath() + W("\\present")).c_str(), nullptr, QVFA_ADD_LOOKUP);
  EXPECT_NE(folder, 0u);
}

}  // namespace
}  // namespace qvtest
