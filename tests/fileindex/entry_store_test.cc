// The entry store: image layout, adding paths, clones, lookups and names.
#include <gtest/gtest.h>

#include <zlib.h>

#include <set>
#include <vector>

#include "fileindex/index_test_util.h"

namespace qvtest {
namespace {

// The reference CRC: zlib's crc32 over the upper-cased bytes.
DWORD ZlibCrc(const std::string& upper) {
  return static_cast<DWORD>(
      crc32(0, reinterpret_cast<const Bytef*>(upper.data()), static_cast<uInt>(upper.size())));
}

TEST(EntryStoreTest, EmptyIndexIsTheRootAndTheTrailer) {
  CQVFileArray index;
  DWORD size = 0;
  const BYTE* image = index.GetRawData(&size);
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(size, 88u);
  EXPECT_EQ(WordAt(index, 0), 0);   // size word: the root is the last entry
  EXPECT_EQ(WordAt(index, 2), 86);  // tag
  for (DWORD i = 4; i < 86; ++i) EXPECT_EQ(image[i], 0) << "byte " << i;
  EXPECT_EQ(WordAt(index, 86), 86);  // trailer
  EXPECT_EQ(index.GetItemCount(TRUE), 0u);
  EXPECT_EQ(index.Add(QVT("")), 0u);
  EXPECT_EQ(index.GetRawData(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(EntryStoreTest, ChainOfRecordsLaysEntriesOutInOrder) {
  CQVFileArray index;
  DWORD drive = AddRecord(index, W("C:"), true);
  DWORD folder = AddRecord(index, W("C:\\A"), true);
  DWORD file = AddRecord(index, W("C:\\A\\b.txt"), false, 1234);
  // The first entry follows the root, each later one its predecessor.
  EXPECT_EQ(drive, 86u);
  EXPECT_EQ(folder, 86u + 84 + 6);
  EXPECT_EQ(file, folder + 84 + 4);
  EXPECT_EQ(WordAt(index, 0), 86);
  EXPECT_EQ(WordAt(index, drive), 90);
  EXPECT_EQ(WordAt(index, folder), 88);
  EXPECT_EQ(WordAt(index, file), 0);
  DWORD size = 0;
  index.GetRawData(&size);
  EXPECT_EQ(size, file + 84 + 12 + 2);
  EXPECT_EQ(WordAt(index, file + 96), 96);  // trailer: the last entry's size

  EntryFields root = EntryAt(index, 0);
  EntryFields c = EntryAt(index, drive);
  EntryFields a = EntryAt(index, folder);
  EntryFields b = EntryAt(index, file);
  EXPECT_EQ(root.dwFirstChild, drive);
  EXPECT_EQ(root.dwLastChild, drive);
  EXPECT_EQ(c.dwParent, 0u);
  EXPECT_EQ(c.dwFirstChild, folder);
  EXPECT_EQ(a.dwParent, drive);
  EXPECT_EQ(a.dwFirstChild, file);
  EXPECT_EQ(b.dwParent, folder);
  EXPECT_EQ(b.wUserDataOffset, 84 + 12);
  EXPECT_EQ(b.ullSize, 1234u);
  EXPECT_EQ(index.GetItemCount(TRUE), 3u);

  EXPECT_EQ(Str(index.GetPathName(file)), "C:\\A\\b.txt");
  EXPECT_EQ(Str(index.GetPathName(folder)), "C:\\A");
  EXPECT_EQ(Str(index.GetPathName(drive)), "C:\\");
  EXPECT_EQ(Str(index.GetPath(file)), "C:\\A");
  EXPECT_EQ(Str(index.GetPath(drive)), "");
  EXPECT_EQ(Str(index.GetFileName(file)), "b.txt");
  EXPECT_EQ(Str(index.GetPathName(0)), "");
}

TEST(EntryStoreTest, NameAndExtensionKeysAreCrcOfUpperCase) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  DWORD abc = AddRecord(index, W("C:\\abc"), false);
  DWORD doc = AddRecord(index, W("C:\\Report.doc"), false);
  DWORD dotless = AddRecord(index, W("C:\\Makefile"), false);
  DWORD trailingDot = AddRecord(index, W("C:\\name."), false);
  EXPECT_EQ(EntryAt(index, abc).dwNameCRC, 0xA3830348u);  // CRC-32 of "ABC"
  EXPECT_EQ(EntryAt(index, abc).dwExtensionCRC, 0u);
  EXPECT_EQ(EntryAt(index, doc).dwExtensionCRC, ZlibCrc("DOC"));
  EXPECT_EQ(EntryAt(index, doc).dwNameCRC, ZlibCrc("REPORT.DOC"));
  EXPECT_EQ(EntryAt(index, dotless).dwExtensionCRC, 0u);
  EXPECT_EQ(EntryAt(index, trailingDot).dwExtensionCRC, 0u);  // empty extension
}

TEST(EntryStoreTest, LookupIgnoresCaseOfAsciiLetters) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  AddRecord(index, W("C:\\A"), true);
  DWORD file = AddRecord(index, W("C:\\A\\b.txt"), false);
  EXPECT_EQ(index.Add(QVT("c:\\a\\B.TXT")), file);
  EXPECT_EQ(index.Add(QVT("C:\\A\\b.txt\\")), file);  // a trailing backslash ends the walk
  EXPECT_EQ(index.GetItemCount(TRUE), 3u);
}

TEST(EntryStoreTest, NamesDifferingAboveLatin1ShareTheKeyButNotTheEntry) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  // U+0141 and U+0041 have the same low byte.
  WString polish = W("C:\\\xC5\x81x");
  DWORD first = AddRecord(index, polish, false);
  DWORD second = AddRecord(index, W("C:\\Ax"), false);
  EXPECT_NE(first, second);
  EXPECT_EQ(EntryAt(index, first).dwNameCRC, EntryAt(index, second).dwNameCRC);
  EXPECT_EQ(index.Add(polish.c_str(), nullptr, QVFA_ADD_LOOKUP), first);
  EXPECT_EQ(index.Add(QVT("c:\\ax"), nullptr, QVFA_ADD_LOOKUP), second);
}

TEST(EntryStoreTest, CloneAddsASecondEntryAfterTheFirst) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  DWORD folder = AddRecord(index, W("C:\\D"), true);
  DWORD original = AddRecord(index, W("C:\\D\\f"), false, 10);
  DWORD clone = AddRecord(index, W("C:\\D\\f"), false, 20, QVFA_ADD_CLONE);
  ASSERT_NE(clone, 0u);
  EXPECT_NE(clone, original);
  EXPECT_EQ(EntryAt(index, original).bState, QVFA_HASCLONES);
  EXPECT_EQ(EntryAt(index, clone).bState, QVFA_CLONE);
  EXPECT_EQ(EntryAt(index, clone).dwParent, folder);
  EXPECT_EQ(EntryAt(index, original).dwNextSibling, clone);
  EXPECT_EQ(EntryAt(index, clone).dwPrevSibling, original);
  EXPECT_EQ(EntryAt(index, folder).dwLastChild, clone);
  EXPECT_EQ(index.GetSize(clone), 20u);
  // A plain add still finds the first of the two.
  EXPECT_EQ(index.Add(QVT("C:\\D\\F")), original);
}

TEST(EntryStoreTest, ExactCaseKeepsNamesThatDifferOnlyInCase) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  DWORD lower = AddRecord(index, W("C:\\photos"), true);
  // Without the flag, "Photos" is the same folder.
  EXPECT_EQ(AddRecord(index, W("C:\\Photos"), true), lower);
  DWORD upper = AddRecord(index, W("C:\\Photos"), true, 0, QVFA_ADD_EXACT_CASE);
  ASSERT_NE(upper, 0u);
  EXPECT_NE(upper, lower);
  EXPECT_EQ(EntryAt(index, upper).bState, 0);  // a name of its own, not a clone
  EXPECT_EQ(EntryAt(index, lower).bState, 0);
  DWORD a = AddRecord(index, W("C:\\photos\\a.jpg"), false, 1, QVFA_ADD_EXACT_CASE);
  DWORD b = AddRecord(index, W("C:\\Photos\\a.jpg"), false, 2, QVFA_ADD_EXACT_CASE);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(EntryAt(index, a).dwParent, lower);
  EXPECT_EQ(EntryAt(index, b).dwParent, upper);
  EXPECT_EQ(Str(index.GetPathName(b)), "C:\\Photos\\a.jpg");
  // Lookups prefer the name given exactly, whichever was added first...
  EXPECT_EQ(index.Add(QVT("C:\\Photos\\a.jpg"), nullptr, QVFA_ADD_LOOKUP), b);
  EXPECT_EQ(index.Add(QVT("C:\\photos\\a.jpg"), nullptr, QVFA_ADD_LOOKUP), a);
  // ...take the first that matches ignoring case otherwise...
  EXPECT_EQ(index.Add(QVT("c:\\PHOTOS\\A.JPG"), nullptr, QVFA_ADD_LOOKUP), a);
  // ...and, exactly, none.
  EXPECT_EQ(index.Add(QVT("C:\\PHOTOS\\a.jpg"), nullptr, QVFA_ADD_LOOKUP | QVFA_ADD_EXACT_CASE), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
  // A clone needs the exact name too.
  DWORD clone = AddRecord(index, W("C:\\Photos\\a.jpg"), false, 3, QVFA_ADD_CLONE | QVFA_ADD_EXACT_CASE);
  EXPECT_EQ(EntryAt(index, b).bState, QVFA_HASCLONES);
  EXPECT_EQ(EntryAt(index, clone).bState, QVFA_CLONE);
  EXPECT_EQ(EntryAt(index, a).bState, 0);
}

TEST(EntryStoreTest, LargeFoldersKeepAndFindNamesThatDifferOnlyInCase) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  AddRecord(index, W("C:\\Many"), true);
  for (int i = 0; i < 100; ++i) AddRecord(index, W("C:\\Many\\f" + std::to_string(i)), false, i, QVFA_ADD_EXACT_CASE);
  DWORD lower = AddRecord(index, W("C:\\Many\\readme"), false, 1, QVFA_ADD_EXACT_CASE);
  DWORD upper = AddRecord(index, W("C:\\Many\\README"), false, 2, QVFA_ADD_EXACT_CASE);
  DWORD mixed = AddRecord(index, W("C:\\Many\\ReadMe"), false, 3, QVFA_ADD_EXACT_CASE);
  EXPECT_EQ(std::set<DWORD>({lower, upper, mixed}).size(), 3u);
  EXPECT_EQ(index.Add(QVT("C:\\Many\\README"), nullptr, QVFA_ADD_LOOKUP), upper);
  EXPECT_EQ(index.Add(QVT("C:\\Many\\ReadMe"), nullptr, QVFA_ADD_LOOKUP | QVFA_ADD_EXACT_CASE), mixed);
  EXPECT_EQ(index.Add(QVT("C:\\Many\\readMe"), nullptr, QVFA_ADD_LOOKUP), lower);
  EXPECT_EQ(index.Add(QVT("C:\\Many\\F7"), nullptr, QVFA_ADD_LOOKUP | QVFA_ADD_EXACT_CASE), 0u);
  EXPECT_EQ(index.GetSize(index.Add(QVT("C:\\Many\\F7"), nullptr, QVFA_ADD_LOOKUP)), 7u);
}

TEST(EntryStoreTest, LookupOfMissingComponentAddsNothing) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  DWORD size = 0;
  index.GetRawData(&size);
  SetLastError(0);
  EXPECT_EQ(index.Add(QVT("C:\\missing"), nullptr, QVFA_ADD_LOOKUP), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
  DWORD after = 0;
  index.GetRawData(&after);
  EXPECT_EQ(after, size);
  EXPECT_EQ(index.GetItemCount(TRUE), 1u);
}

TEST(EntryStoreTest, BadNamesAreRefusedBeforeAnythingIsAdded) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  WString longest(QVFA_MAXNAMELENGTH, u'n');
  WString tooLong(QVFA_MAXNAMELENGTH + 1, u'n');

  SetLastError(0);
  EXPECT_EQ(index.Add((W("C:\\") + tooLong + W("\\x")).c_str(), nullptr, 0), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(index.Add(QVT("C:\\\\A")), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(index.GetItemCount(TRUE), 1u);

  // A record describes its last component only: the folders above must exist.
  _tagQVFA_FILEINFO orphan = MakeInfo(W("C:\\nofolder\\f.txt"), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(index.Add(nullptr, &orphan), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(index.GetItemCount(TRUE), 1u);

  // A record path must be terminated within its 260 code units.
  _tagQVFA_FILEINFO unterminated = MakeInfo(W("C:"), 0);
  for (WCHAR& c : unterminated.szName) c = u'x';
  EXPECT_EQ(index.Add(nullptr, &unterminated), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));

  // The longest allowed name is taken (through a record path it cannot fit,
  // so as an intermediate component of a looked-up path it is simply missing).
  EXPECT_EQ(index.Add((W("C:\\") + longest).c_str(), nullptr, QVFA_ADD_LOOKUP), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
}

TEST(EntryStoreTest, UserDataFollowsTheName) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  std::vector<BYTE> data(255);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i ^ 0x5A);
  WString name(255, u'q');
  DWORD entry = AddRecord(index, W("C:\\") + name, false, 0, 0, 255, data.data());
  DWORD next = AddRecord(index, W("C:\\next"), false);
  EXPECT_EQ(next - entry, 851u);  // 84 + 512 + 255
  EXPECT_EQ(WordAt(index, entry), 851);
  EntryFields header = EntryAt(index, entry);
  EXPECT_EQ(header.bUserDataSize, 255);
  EXPECT_EQ(header.wUserDataOffset, 84 + 512);
  DWORD size = 0;
  const BYTE* image = index.GetRawData(&size);
  EXPECT_EQ(std::vector<BYTE>(image + entry + 596, image + entry + 851), data);
}

TEST(EntryStoreTest, IntermediateFoldersGetZeroUserDataOfTheSameSize) {
  TempDir temp;
  temp.WriteFile("deep/leaf.bin", 3);
  CQVFileArray index;
  const BYTE data[4] = {1, 2, 3, 4};
  DWORD leaf = index.Add((temp.DrivePath() + W("\\deep\\leaf.bin")).c_str(), nullptr, 0, 4, data);
  ASSERT_NE(leaf, 0u) << GetLastError();
  DWORD folder = EntryAt(index, leaf).dwParent;
  EntryFields header = EntryAt(index, folder);
  EXPECT_EQ(header.bUserDataSize, 4);
  DWORD size = 0;
  const BYTE* image = index.GetRawData(&size);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(image[folder + header.wUserDataOffset + i], 0);
    EXPECT_EQ(image[leaf + EntryAt(index, leaf).wUserDataOffset + i], data[i]);
  }
}

TEST(EntryStoreTest, GrowsThroughManyDoublingsKeepingEveryEntry) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  std::vector<DWORD> folders;
  for (int f = 0; f < 40; ++f) {
    folders.push_back(AddRecord(index, W("C:\\folder" + std::to_string(f)), true));
  }
  std::vector<std::pair<DWORD, std::string>> files;
  for (int i = 0; i < 20000; ++i) {
    std::string path = "C:\\folder" + std::to_string(i % 40) + "\\file" + std::to_string(i) + ".dat";
    DWORD entry = AddRecord(index, W(path), false, static_cast<ULONGLONG>(i));
    ASSERT_NE(entry, 0u);
    files.emplace_back(entry, path);
  }
  DWORD size = 0;
  index.GetRawData(&size);
  EXPECT_GT(size, 2048u * 512);  // many doublings past the first 2048 bytes
  EXPECT_EQ(index.GetItemCount(TRUE), 1u + 40u + 20000u);
  for (std::size_t i = 0; i < files.size(); i += 97) {
    EXPECT_EQ(Str(index.GetPathName(files[i].first)), files[i].second);
    EXPECT_EQ(index.GetSize(files[i].first), i);
    EXPECT_EQ(index.Add(W(files[i].second).c_str(), nullptr, QVFA_ADD_LOOKUP), files[i].first);
  }
  // Each folder's child list holds its 500 files in the order they came.
  EntryFields folder7 = EntryAt(index, folders[7]);
  DWORD child = folder7.dwFirstChild;
  int count = 0;
  DWORD previous = 0;
  while (child != 0) {
    EntryFields entry = EntryAt(index, child);
    EXPECT_EQ(entry.dwPrevSibling, previous);
    EXPECT_EQ(entry.dwParent, folders[7]);
    previous = child;
    child = entry.dwNextSibling;
    ++count;
  }
  EXPECT_EQ(count, 500);
  EXPECT_EQ(folder7.dwLastChild, previous);
}

TEST(EntryStoreTest, CopyIsAnIndependentImageOfTheSameBytes) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  AddRecord(index, W("C:\\x"), false, 5);
  CQVFileArray copy(index);
  DWORD sourceSize = 0, copySize = 0;
  const BYTE* source = index.GetRawData(&sourceSize);
  const BYTE* copied = copy.GetRawData(&copySize);
  ASSERT_EQ(copySize, sourceSize);
  EXPECT_EQ(std::vector<BYTE>(copied, copied + copySize), std::vector<BYTE>(source, source + sourceSize));
  EXPECT_EQ(copy.GetItemCount(TRUE), 2u);
  // Growing the copy (its capacity is exactly the image) leaves the source alone.
  DWORD added = AddRecord(copy, W("C:\\y"), false, 6);
  EXPECT_NE(added, 0u);
  EXPECT_EQ(Str(copy.GetPathName(added)), "C:\\y");
  EXPECT_EQ(index.Add(QVT("C:\\y"), nullptr, QVFA_ADD_LOOKUP), 0u);
  EXPECT_EQ(index.GetItemCount(TRUE), 2u);
}

TEST(EntryStoreTest, RemoveAllReturnsToTheEmptyImage) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  for (int i = 0; i < 200; ++i) AddRecord(index, W("C:\\f" + std::to_string(i)), false);
  EXPECT_TRUE(index.RemoveAll());
  DWORD size = 0;
  index.GetRawData(&size);
  EXPECT_EQ(size, 88u);
  EXPECT_EQ(WordAt(index, 0), 0);
  EXPECT_EQ(WordAt(index, 86), 86);
  EXPECT_EQ(index.GetItemCount(TRUE), 0u);
  EXPECT_EQ(AddRecord(index, W("D:"), true), 86u);
}

}  // namespace
}  // namespace qvtest

namespace qvtest {
namespace {

// Folders with many children are looked up through a table; it must answer
// as the child list does, through clones, shared keys, compaction and a new
// image.
TEST(EntryStoreTest, LargeFoldersAnswerAsTheChildListDoes) {
  CQVFileArray index;
  AddRecord(index, W("C:"), true);
  AddRecord(index, W("C:\\Many"), true);
  std::vector<DWORD> files;
  for (int i = 0; i < 200; ++i) files.push_back(AddRecord(index, W("C:\\Many\\f" + std::to_string(i)), false, i));
  // Same key, other name: U+0166 has the low byte of 'f'.
  WString twin = W("C:\\Many\\\xC5\xA6") + W("7");
  DWORD twinEntry = AddRecord(index, twin, false, 999);
  EXPECT_NE(twinEntry, files[7]);
  EXPECT_EQ(index.Add(twin.c_str(), nullptr, QVFA_ADD_LOOKUP), twinEntry);
  EXPECT_EQ(index.Add(QVT("C:\\Many\\F7"), nullptr, QVFA_ADD_LOOKUP), files[7]);
  DWORD clone = AddRecord(index, W("C:\\Many\\f150"), false, 1, QVFA_ADD_CLONE);
  EXPECT_NE(clone, files[150]);
  EXPECT_EQ(index.Add(QVT("C:\\Many\\f150"), nullptr, QVFA_ADD_LOOKUP), files[150]);
  EXPECT_EQ(index.Add(QVT("C:\\Many\\f200"), nullptr, QVFA_ADD_LOOKUP), 0u);
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(index.Add(W("C:\\Many\\f" + std::to_string(i)).c_str(), nullptr, QVFA_ADD_LOOKUP),
              files[i]) << i;
  }

  // Compaction moves every later entry: lookups must follow.
  index.DeleteItem(files[0], QVFA_DEL_FORCE);
  ASSERT_TRUE(index.Compact(FALSE));
  for (int i = 1; i < 200; i += 13) {
    DWORD entry = index.Add(W("C:\\Many\\f" + std::to_string(i)).c_str(), nullptr, QVFA_ADD_LOOKUP);
    ASSERT_NE(entry, 0u) << i;
    EXPECT_EQ(index.GetSize(entry), static_cast<ULONGLONG>(i));
  }
  EXPECT_EQ(index.Add(QVT("C:\\Many\\f0"), nullptr, QVFA_ADD_LOOKUP), 0u);

  // A new image replaces the tables with its own.
  CQVFileArray other;
  AddRecord(other, W("C:"), true);
  AddRecord(other, W("C:\\Many"), true);
  AddRecord(other, W("C:\\Many\\only"), false, 5);
  Bytes image = ImageOf(other);
  ASSERT_TRUE(index.SetRawData(image.data(), static_cast<DWORD>(image.size())));
  EXPECT_EQ(index.Add(QVT("C:\\Many\\f9"), nullptr, QVFA_ADD_LOOKUP), 0u);
  EXPECT_EQ(index.GetSize(index.Add(QVT("C:\\Many\\only"), nullptr, QVFA_ADD_LOOKUP)), 5u);
}

}  // namespace
}  // namespace qvtest

namespace qvtest {
namespace {

// Children added one name at a time, as an index copied from another is
// built: any path length, the record's data, the existing child found.
TEST(EntryStoreTest, ChildrenAddedByNameTakeTheRecordAndFindExistingOnes) {
  CQVFileArray index;
  QVFA_FILEINFO info = {};
  info.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  info.ullReference = 0x77;  // an index of the source: never a volume reference here
  const DWORD drive = index.AddChild(0, QVT("C:"), &info);
  ASSERT_NE(drive, 0u);
  // Deeper than a record's 260 units of path allow.
  DWORD parent = drive;
  const std::basic_string<WCHAR> name(200, u'n');
  for (int level = 0; level < 5; ++level) {
    parent = index.AddChild(parent, name.c_str(), &info);
    ASSERT_NE(parent, 0u) << level;
  }
  QVFA_FILEINFO file = {};
  file.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
  file.ullSize = 4321;
  file.ftLastWriteTime.dwLowDateTime = 99;
  const DWORD leaf = index.AddChild(parent, QVT("leaf.txt"), &file, 0, 3, "abc");
  ASSERT_NE(leaf, 0u);
  EXPECT_EQ(index.GetPathName(leaf).GetLength(), 2 + 5 * 201 + 9);
  QVFA_FILEINFO back = {};
  ASSERT_TRUE(index.GetFileInfo(leaf, &back));
  // The record is packed: its fields are read by value.
  const ULONGLONG backSize = back.ullSize;
  const DWORD backTime = back.ftLastWriteTime.dwLowDateTime;
  const DWORD backAttributes = back.dwFileAttributes;
  EXPECT_EQ(backSize, 4321u);
  EXPECT_EQ(backTime, 99u);
  EXPECT_EQ(backAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  DWORD size = 0;
  const BYTE* data = static_cast<const BYTE*>(index.GetUserData(leaf, &size));
  ASSERT_EQ(size, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 3), "abc");
  // Again: the same entry, without a second one; with a clone flag, a clone.
  EXPECT_EQ(index.AddChild(parent, QVT("leaf.txt"), &file), leaf);
  EXPECT_EQ(index.AddChild(parent, QVT("LEAF.TXT"), &file), leaf);
  EXPECT_NE(index.AddChild(parent, QVT("LEAF.TXT"), &file, QVFA_ADD_EXACT_CASE), leaf);
  const DWORD clone = index.AddChild(parent, QVT("leaf.txt"), &file, QVFA_ADD_CLONE);
  EXPECT_NE(clone, leaf);
  EXPECT_NE(clone, 0u);
  // Refused: no name, a separator, no record, a parent that is no entry.
  EXPECT_EQ(index.AddChild(parent, QVT(""), &file), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(index.AddChild(parent, QVT("a\\b"), &file), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_EQ(index.AddChild(parent, QVT("x"), nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(index.AddChild(leaf + 1, QVT("x"), &file), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  const std::basic_string<WCHAR> tooLong(1100, u'x');
  EXPECT_EQ(index.AddChild(parent, tooLong.c_str(), &file), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

}  // namespace
}  // namespace qvtest
