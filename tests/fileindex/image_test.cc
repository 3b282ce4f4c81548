// The image handed out and taken back: whole, in chunks, through a file.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "common/file_handle.h"
#include "fileindex/index_test_util.h"

namespace qvtest {
namespace {


// A small tree with user data, a deleted entry and a clone.
void Fill(CQVFileArray& index) {
  AddRecord(index, W("C:"), true);
  AddRecord(index, W("C:\\Docs"), true);
  const BYTE data[18] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  for (int i = 0; i < 30; ++i) {
    AddRecord(index, W("C:\\Docs\\file" + std::to_string(i) + ".txt"), false, i * 100, 0, 18, data);
  }
  AddRecord(index, W("C:\\Docs\\file3.txt"), false, 7, QVFA_ADD_CLONE);
  index.DeleteItem(index.Add(QVT("C:\\Docs\\file5.txt"), nullptr, QVFA_ADD_LOOKUP), QVFA_DEL_FORCE);
}

TEST(ImageTest, EmptyImageRoundTrips) {
  CQVFileArray source;
  Bytes image = ImageOf(source);
  ASSERT_EQ(image.size(), 88u);
  CQVFileArray target;
  Fill(target);
  ASSERT_TRUE(target.SetRawData(image.data(), static_cast<DWORD>(image.size())));
  EXPECT_EQ(target.GetItemCount(TRUE), 0u);
  EXPECT_EQ(ImageOf(target), image);
}

TEST(ImageTest, WholeImageComesBackByteForByteWithItsCounts) {
  CQVFileArray source;
  Fill(source);
  Bytes image = ImageOf(source);
  CQVFileArray target;
  SetLastError(7);
  ASSERT_TRUE(target.SetRawData(image.data(), static_cast<DWORD>(image.size())));
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(ImageOf(target), image);
  EXPECT_EQ(target.GetItemCount(TRUE), source.GetItemCount(TRUE));
  EXPECT_EQ(target.GetItemCount(FALSE), source.GetItemCount(FALSE));
  EXPECT_EQ(target.GetItemCount(TRUE) - target.GetItemCount(FALSE), 1u);
  // The copy takes new entries (its capacity is exactly the image's length).
  DWORD added = AddRecord(target, W("C:\\Docs\\more.txt"), false, 1);
  EXPECT_EQ(Str(target.GetPathName(added)), "C:\\Docs\\more.txt");
}

TEST(ImageTest, ChunksAddUpToTheSameIndex) {
  CQVFileArray source;
  Fill(source);
  Bytes image = ImageOf(source);
  for (DWORD chunk : std::vector<DWORD>{1, 7, 64, 1000, static_cast<DWORD>(image.size())}) {
    SCOPED_TRACE(chunk);
    CQVFileArray target;
    ASSERT_TRUE(target.StartSetRawData(static_cast<DWORD>(image.size())));
    for (std::size_t at = 0; at < image.size(); at += chunk) {
      DWORD length = static_cast<DWORD>(std::min<std::size_t>(chunk, image.size() - at));
      ASSERT_TRUE(target.AddRawDataChunk(image.data() + at, length));
    }
    ASSERT_TRUE(target.EndSetRawData());
    EXPECT_EQ(ImageOf(target), image);
    EXPECT_EQ(target.GetItemCount(TRUE), source.GetItemCount(TRUE));
  }
}

TEST(ImageTest, ChunkPastTheAnnouncedTotalIsRefused) {
  CQVFileArray source;
  Fill(source);
  Bytes image = ImageOf(source);
  CQVFileArray target;
  DWORD total = static_cast<DWORD>(image.size());
  ASSERT_TRUE(target.StartSetRawData(total));
  ASSERT_TRUE(target.AddRawDataChunk(image.data(), total - 10));
  EXPECT_FALSE(target.AddRawDataChunk(image.data(), 11));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  ASSERT_TRUE(target.AddRawDataChunk(image.data() + total - 10, 10));
  EXPECT_TRUE(target.EndSetRawData());
  EXPECT_EQ(ImageOf(target), image);
}

TEST(ImageTest, ChunkLoadingMakesTheTreeReadOnly) {
  CQVFileArray index;
  Fill(index);
  Bytes before = ImageOf(index);
  EXPECT_FALSE(index.StartSetRawData(0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(index.AddRawDataChunk(before.data(), 4));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_STATE));
  EXPECT_FALSE(index.EndSetRawData());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_STATE));

  ASSERT_TRUE(index.StartSetRawData(static_cast<DWORD>(before.size())));
  DWORD entry = 0;
  auto expectBusy = [](BOOL result) {
    EXPECT_FALSE(result);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_STATE));
  };
  expectBusy(index.Add(QVT("C:\\x")) != 0);
  expectBusy(AddRecord(index, W("C:\\y"), false) != 0);
  expectBusy(index.RemoveAll());
  expectBusy(index.FindFirstFileW(entry, nullptr) != nullptr);
  expectBusy(index.StartSetRawData(10));
  expectBusy(index.SetRawData(before.data(), static_cast<DWORD>(before.size())));
  expectBusy(index.DeleteItem(86, QVFA_DEL_FORCE) || GetLastError() != ERROR_INVALID_STATE);
  expectBusy(index.Compact(TRUE));
  expectBusy(index.AddDirectory(QVT("C:\\")));
  TempDir temp;
  {
    FileHandle file(temp.path() / "busy.idx", FileHandle::Mode::kCreate);
    expectBusy(index.SaveToFile(file.get()));
    expectBusy(index.LoadFromFile(file.get()));
  }
  ASSERT_TRUE(index.AddRawDataChunk(before.data(), static_cast<DWORD>(before.size())));
  ASSERT_TRUE(index.EndSetRawData());
  EXPECT_EQ(ImageOf(index), before);
}

TEST(ImageTest, SavedFileHasMagicLengthImageAndPadding) {
  TempDir temp;
  CQVFileArray source;
  Fill(source);
  Bytes image = ImageOf(source);
  {
    FileHandle file(temp.path() / "index.idx", FileHandle::Mode::kCreate);
    ASSERT_TRUE(file.valid());
    ASSERT_TRUE(source.SaveToFile(file.get()));
  }
  std::ifstream in(temp.path() / "index.idx", std::ios::binary);
  Bytes saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(saved.size(), 8 + image.size() + 2);
  EXPECT_EQ(Bytes(saved.begin(), saved.begin() + 4), (Bytes{0x68, 0x73, 0x86, 0x81}));
  DWORD used = saved[4] | saved[5] << 8 | saved[6] << 16 | static_cast<DWORD>(saved[7]) << 24;
  EXPECT_EQ(used, image.size() - 2);
  EXPECT_EQ(Bytes(saved.begin() + 8, saved.end() - 2), image);

  CQVFileArray loaded;
  FileHandle file(temp.path() / "index.idx", FileHandle::Mode::kRead);
  ASSERT_TRUE(loaded.LoadFromFile(file.get()));
  EXPECT_EQ(ImageOf(loaded), image);
  EXPECT_EQ(loaded.GetItemCount(TRUE), source.GetItemCount(TRUE));
  EXPECT_EQ(loaded.GetItemCount(FALSE), source.GetItemCount(FALSE));
}

TEST(ImageTest, TwoSavedIndexesInOneFileReadBackInTurn) {
  TempDir temp;
  CQVFileArray source;
  Fill(source);
  {
    FileHandle file(temp.path() / "mixed.bin", FileHandle::Mode::kCreate);
    CQVFileArray first;
    AddRecord(first, W("Z:"), true);
    ASSERT_TRUE(first.SaveToFile(file.get()));
    ASSERT_TRUE(source.SaveToFile(file.get()));
  }
  FileHandle file(temp.path() / "mixed.bin", FileHandle::Mode::kRead);
  CQVFileArray a, b;
  ASSERT_TRUE(a.LoadFromFile(file.get()));
  ASSERT_TRUE(b.LoadFromFile(file.get()));
  EXPECT_EQ(a.GetItemCount(TRUE), 1u);
  EXPECT_EQ(ImageOf(b), ImageOf(source));
}

TEST(ImageTest, BadSavedFilesLeaveTheIndexAsItWas) {
  TempDir temp;
  CQVFileArray source;
  Fill(source);
  {
    FileHandle file(temp.path() / "good.idx", FileHandle::Mode::kCreate);
    ASSERT_TRUE(source.SaveToFile(file.get()));
  }
  std::ifstream in(temp.path() / "good.idx", std::ios::binary);
  Bytes good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  struct Case {
    const char* name;
    Bytes bytes;
    DWORD error;
  };
  Bytes wrongMagic = good;
  wrongMagic[0] ^= 1;
  Bytes hugeLength = good;
  hugeLength[7] = 0x7F;
  Bytes damaged = good;
  damaged[8 + 86 + 2] ^= 0x40;  // the first entry's tag
  std::vector<Case> cases = {
      {"wrong magic", wrongMagic, ERROR_BAD_FORMAT},
      {"too short for the header", Bytes(good.begin(), good.begin() + 6), ERROR_HANDLE_EOF},
      {"image cut short", Bytes(good.begin(), good.end() - 40), ERROR_HANDLE_EOF},
      {"length past the end", hugeLength, ERROR_HANDLE_EOF},
      {"damaged entry", damaged, ERROR_INVALID_DATA},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::path path = temp.path() / "bad.idx";
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(c.bytes.data()), static_cast<std::streamsize>(c.bytes.size()));
    }
    CQVFileArray target;
    AddRecord(target, W("K:"), true);
    Bytes before = ImageOf(target);
    FileHandle file(path, FileHandle::Mode::kRead);
    EXPECT_FALSE(target.LoadFromFile(file.get()));
    DWORD error = GetLastError();
    EXPECT_TRUE(error == c.error || (c.error == ERROR_HANDLE_EOF && error == ERROR_OUTOFMEMORY)) << error;
    EXPECT_EQ(ImageOf(target), before);
    EXPECT_EQ(target.GetItemCount(TRUE), 1u);
  }
}

}  // namespace
}  // namespace qvtest
