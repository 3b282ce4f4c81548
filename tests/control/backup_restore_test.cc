// Backing files up and restoring them: the stream, the index, progress,
// cancellation, and round trips of random trees.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <random>

#include "control/control_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

// The names of the files in `folder`, sorted.
std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> names;
  for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class ControlTest : public ::testing::Test {
 protected:
  // Backs up `files` (native paths) into archive "home" of archives_.
  void Backup(const std::vector<fs::path>& files, ArchiveDescription& desc, CQVBackupControl& control) {
    ULONGLONG total = 0;
    for (const fs::path& file : files) total += fs::file_size(file);
    control.SetTotalBytes(total);
    ASSERT_TRUE(control.BeginBackup(desc.get())) << GetLastError();
    for (const fs::path& file : files) EXPECT_TRUE(control.AddFileToArchive(DrivePathOf(file).c_str())) << file;
    ASSERT_TRUE(control.EndBackup()) << GetLastError();
  }
  void Restore(ArchiveDescription& desc) { RestoreAll(desc, restored_); }
  fs::path Restored(const fs::path& source) { return RestoredPath(restored_.path(), DrivePathOf(source)); }

  TempDir sources_, archives_, restored_;
  ArchiveDescription desc_{archives_.DrivePath()};
};

TEST_F(ControlTest, OneSmallFileMakesRecordDataIndexAndClosingBlocks) {
  fs::path file = sources_.WriteFile("a.txt", 10);
  desc_.get()->dwBlockSize = QVS_DEFAULT_BLOCK_SIZE;
  CQVBackupControl control;
  Backup({file}, desc_, control);

  CQVStorage reader;
  ASSERT_TRUE(reader.OpenArchive(desc_.get()));
  Bytes archive = ReadAll(archives_.path() / "home.QVA");
  std::vector<WORD> kinds;
  std::vector<ULONGLONG> offsets;
  for (ULONGLONG at = QVS_HEADER_SIZE; at < archive.size();) {
    offsets.push_back(at);
    kinds.push_back(static_cast<WORD>((archive[at + 4] | archive[at + 5] << 8) & QVS_BLOCK_KIND_MASK));
    at += QVS_BLOCK_HEADER_SIZE + Dword(archive, at);
  }
#ifdef _WIN32
  // Record, data, the index image (one block at this block size), closing record.
  ASSERT_EQ(kinds, (std::vector<WORD>{1, 1, 1, 0}));
  const std::size_t index = 2;
#else
  // Where the system keeps modes, owners and links, the metadata table
  // (kind 3) and its plain locator (kind 4) come between the files and the
  // index; the closing record is the 16 bytes it always was, and points at
  // the index, so readers that know nothing of the table never meet it.
  ASSERT_EQ(kinds, (std::vector<WORD>{1, 1, 3, 4, 1, 0}));
  const std::size_t index = 4;
  Bytes table = BlockAt(reader, offsets[2]);
  EXPECT_EQ(std::string(table.begin(), table.begin() + 6), std::string("QVMT\x01\x00", 6));
  EXPECT_EQ(archive[offsets[3] + 4] | archive[offsets[3] + 5] << 8, 4);  // stored plain
  Bytes locator = BlockAt(reader, offsets[3]);
  ASSERT_EQ(locator.size(), 24u);
  EXPECT_EQ(std::string(locator.begin(), locator.begin() + 4), "QVMT");
  EXPECT_EQ(Qword(locator, 4), offsets[2]);
  EXPECT_EQ(Qword(locator, 12), table.size());
  EXPECT_EQ(Dword(locator, 20), 0u);
  EXPECT_EQ(offsets[3] + QVS_BLOCK_HEADER_SIZE + 24, offsets[4]);  // right before the index
#endif
  EXPECT_EQ(reader.GetUserData(), offsets[index + 1]);
  Bytes closing = BlockAt(reader, offsets[index + 1]);
  ASSERT_EQ(closing.size(), 16u);
  EXPECT_EQ(std::string(closing.begin(), closing.begin() + 4), "SQVO");
  EXPECT_EQ(Qword(closing, 4), offsets[index]);
  EXPECT_EQ(Dword(closing, 12), BlockAt(reader, offsets[index]).size());
  EXPECT_EQ(BlockAt(reader, offsets[1]), Bytes(ReadAll(file)));
  Bytes recordBlock = BlockAt(reader, offsets[0]);
  EXPECT_EQ(Dword(recordBlock, 6), 27u);
  reader.CloseArchive();

  Restore(desc_);
  EXPECT_EQ(ReadAll(Restored(file)), ReadAll(file));
}

TEST_F(ControlTest, BigFileIsSplitIntoBlocksWithProgress) {
  fs::path file = sources_.WriteFile("big.bin", 10000);
  MessageLog messages;
  CQVBackupControl control(&messages);
  Backup({file}, desc_, control);  // block size 4096
  EXPECT_EQ(messages.percentages, (std::vector<DWORD>{40, 81, 100}));
  Bytes archive = ReadAll(archives_.path() / "home.QVA");
  int dataBlocks = 0;
  for (ULONGLONG at = QVS_HEADER_SIZE; at < archive.size(); at += QVS_BLOCK_HEADER_SIZE + Dword(archive, at)) {
    EXPECT_LE(Dword(archive, at + 6), 4096u);
    ++dataBlocks;
  }
  EXPECT_GE(dataBlocks, 1 + 3 + 1 + 1);
}

// Cancelling a full backup over an existing chain: the new archive goes,
// the chain stays byte for byte (its base and increments).
TEST_F(ControlTest, CancelKeepsTheArchiveItWouldHaveReplaced) {
  std::vector<fs::path> files = {sources_.WriteFile("1.bin", 5000), sources_.WriteFile("2.bin", 5000),
                                 sources_.WriteFile("3.bin", 5000)};
  CQVBackupControl first;
  Backup({files[0]}, desc_, first);
  desc_.get()->dwFlags |= QVS_FLAG_INCREMENTAL;
  Backup({files[1]}, desc_, first);
  desc_.get()->dwFlags &= ~static_cast<DWORD>(QVS_FLAG_INCREMENTAL);
  const std::vector<fs::path> before = FilesIn(archives_.path());
  ASSERT_EQ(before, (std::vector<fs::path>{"home.I1.QVA", "home.QVA"}));
  const Bytes base = ReadAll(archives_.path() / "home.QVA");
  const Bytes increment = ReadAll(archives_.path() / "home.I1.QVA");

  volatile DWORD cancel = 0;
  MessageLog messages;
  CQVBackupControl control(&messages);
  control.SetCancelFlag(&cancel);
  ASSERT_TRUE(control.BeginBackup(desc_.get()));
  EXPECT_TRUE(control.AddFileToArchive(DrivePathOf(files[0]).c_str()));
  EXPECT_TRUE(control.AddFileToArchive(DrivePathOf(files[1]).c_str()));
  cancel = 1;  // seen at the first chunk of the third file
  EXPECT_FALSE(control.AddFileToArchive(DrivePathOf(files[2]).c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_EQ(messages.codes.back(), static_cast<DWORD>(ENGINE_MSG_CANCELLED));
  EXPECT_EQ(FilesIn(archives_.path()), before) << "nothing of the new archive is left";
  EXPECT_EQ(ReadAll(archives_.path() / "home.QVA"), base);
  EXPECT_EQ(ReadAll(archives_.path() / "home.I1.QVA"), increment);
  // The archive is given up: later files fail.
  EXPECT_FALSE(control.AddFileToArchive(DrivePathOf(files[0]).c_str()));
  Restore(desc_);
  EXPECT_EQ(ReadAll(Restored(files[0])), ReadAll(files[0]));
}

// One control, two archives: cancelling the second leaves the first whole.
TEST_F(ControlTest, ReusedControlCancelsOnlyTheArchiveItIsWriting) {
  std::vector<fs::path> files = {sources_.WriteFile("1.bin", 5000), sources_.WriteFile("2.bin", 5000)};
  volatile DWORD cancel = 0;
  CQVBackupControl control;
  control.SetCancelFlag(&cancel);
  Backup(files, desc_, control);
  const Bytes first = ReadAll(archives_.path() / "home.QVA");
  ArchiveDescription second(archives_.DrivePath());
  second.name = W("other");
  ASSERT_TRUE(control.BeginBackup(second.get()));
  EXPECT_TRUE(control.AddFileToArchive(DrivePathOf(files[0]).c_str()));
  cancel = 1;
  EXPECT_FALSE(control.AddFileToArchive(DrivePathOf(files[1]).c_str()));
  EXPECT_EQ(FilesIn(archives_.path()), (std::vector<fs::path>{"home.QVA"}));
  EXPECT_EQ(ReadAll(archives_.path() / "home.QVA"), first);
}

// CleanArchive takes the archive's volumes and what a stopped run left of
// it, nothing that merely starts with its name.
TEST_F(ControlTest, CleanArchiveRemovesOnlyThisArchivesFiles) {
  fs::path file = sources_.WriteFile("1.bin", 5000);
  CQVBackupControl control;
  Backup({file}, desc_, control);
  for (const char* name : {"home.I2.QVA", "home.3.QVA", "home.I1.2.QVA.qvtmp", "home.exe.qvnew"}) {
    WriteAll(archives_.path() / name, TextBytes(10));
  }
  for (const char* name : {"homework.docx", "home.QVA.txt", "home.txt", "home.qvlock.bak"}) {
    WriteAll(archives_.path() / name, TextBytes(10));
  }
  control.CleanArchive(archives_.DrivePath().c_str(), W("home").c_str());
  EXPECT_EQ(FilesIn(archives_.path()),
            (std::vector<fs::path>{"home.QVA.txt", "home.qvlock.bak", "home.txt", "homework.docx"}));
}

TEST_F(ControlTest, CancelledIncrementRemovesItselfAndLeavesTheChain) {
  std::vector<fs::path> files = {sources_.WriteFile("1.bin", 5000), sources_.WriteFile("2.bin", 5000)};
  desc_.get()->ullVolumeSize = 4096;
  desc_.get()->dwCompression = 0;
  CQVBackupControl base;
  Backup(files, desc_, base);
  const std::vector<fs::path> before = FilesIn(archives_.path());
  ASSERT_GT(before.size(), 1u) << "the base is split into volumes";

  volatile DWORD cancel = 0;
  CQVBackupControl control;
  control.SetCancelFlag(&cancel);
  desc_.get()->dwFlags |= QVS_FLAG_INCREMENTAL;
  ASSERT_TRUE(control.BeginBackup(desc_.get())) << GetLastError();
  ASSERT_EQ(control.GetStorage().GetCurrentIncrement(), 1u);
  EXPECT_TRUE(control.AddFileToArchive(DrivePathOf(files[0]).c_str()));
  cancel = 1;
  EXPECT_FALSE(control.AddFileToArchive(DrivePathOf(files[1]).c_str()));
  EXPECT_EQ(FilesIn(archives_.path()), before) << "nothing of the increment is left";
  desc_.get()->dwFlags &= ~static_cast<DWORD>(QVS_FLAG_INCREMENTAL);
  Restore(desc_);
  for (const fs::path& file : files) EXPECT_EQ(ReadAll(Restored(file)), ReadAll(file));
}

TEST_F(ControlTest, WrongClosingMagicFailsTheIndexLoad) {
  CQVBackupControl control;
  Backup({sources_.WriteFile("x", 100)}, desc_, control);
  fs::path path = archives_.path() / "home.QVA";
  Bytes archive = ReadAll(path);
  ULONGLONG closing = Qword(archive, 181);
  archive[closing + QVS_BLOCK_HEADER_SIZE] = 'X';  // the closing record is stored plain
  // Its checksum no longer matches either: the block itself is refused.
  WriteAll(path, archive);
  CQVBackupControl restorer;
  ASSERT_TRUE(restorer.GetStorage().OpenArchive(desc_.get()));
  EXPECT_FALSE(restorer.LoadArchiveIndex());
  // The index is usable afterwards.
  EXPECT_NE(restorer.GetIndex().Add(QVT("Q:")), 1u);
  EXPECT_EQ(restorer.GetIndex().GetItemCount(TRUE), 0u);
  restorer.EndRestore();
}

// Flips `mask` in byte `at` of the data of the fourth block of `path`: the
// data block of the second of three uncompressed files saved in turn.
void FlipDataBit(const fs::path& path, ULONGLONG at, BYTE mask) {
  Bytes archive = ReadAll(path);
  ULONGLONG block = QVS_HEADER_SIZE;
  for (int i = 0; i < 3; ++i) block += QVS_BLOCK_HEADER_SIZE + Dword(archive, block);
  archive[block + QVS_BLOCK_HEADER_SIZE + at] ^= mask;
  WriteAll(path, archive);
}

TEST_F(ControlTest, DamagedDataBlockFailsOnlyItsFile) {
  std::vector<fs::path> files = {sources_.WriteFile("a.bin", 3000), sources_.WriteFile("b.bin", 3000),
                                 sources_.WriteFile("c.bin", 3000)};
  desc_.get()->dwCompression = 0;
  CQVBackupControl control;
  Backup(files, desc_, control);
  FlipDataBit(archives_.path() / "home.QVA", 100, 0x01);
  Restore(desc_);
  EXPECT_EQ(ReadAll(Restored(files[0])), ReadAll(files[0]));
  EXPECT_FALSE(fs::exists(Restored(files[1])));
  EXPECT_EQ(ReadAll(Restored(files[2])), ReadAll(files[2]));
}

// A host walking the index restores file by file and learns each outcome.
TEST_F(ControlTest, RestoreEntryTellsEachFilesOutcome) {
  std::vector<fs::path> files = {sources_.WriteFile("a.bin", 3000), sources_.WriteFile("b.bin", 3000)};
  desc_.get()->dwCompression = 0;
  CQVBackupControl control;
  Backup(files, desc_, control);
  FlipDataBit(archives_.path() / "home.QVA", 7, 0x80);

  CQVBackupControl restorer;
  ASSERT_TRUE(restorer.GetStorage().OpenArchive(desc_.get()));
  ASSERT_TRUE(restorer.LoadArchiveIndex());
  restorer.SetRestoreRoot(restored_.DrivePath().c_str());
  CQVFileArray& index = restorer.GetIndex();
  std::map<std::string, DWORD> entries;
  DWORD entry = 0;
  HANDLE search = index.FindFirstFileW(entry, nullptr);
  ASSERT_NE(search, nullptr);
  do {
    entries[U8(static_cast<LPCWSTR>(index.GetFileName(entry)))] = entry;
  } while (index.FindNextFileW(search, entry));
  index.FindClose(search);
  ASSERT_TRUE(entries.count("a.bin") && entries.count("b.bin"));

  EXPECT_TRUE(restorer.RestoreEntry(entries["a.bin"]));
  EXPECT_EQ(ReadAll(Restored(files[0])), ReadAll(files[0]));
  EXPECT_FALSE(restorer.RestoreEntry(entries["b.bin"]));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_FALSE(fs::exists(Restored(files[1])));
  // A folder of the index and an index that names nothing hold no file.
  DWORD folder = index.Add(sources_.DrivePath().c_str(), nullptr, QVFA_ADD_LOOKUP);
  ASSERT_NE(folder, 0u);
  EXPECT_FALSE(restorer.RestoreEntry(folder));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(restorer.RestoreEntry(0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(restorer.EndRestore());
}

TEST_F(ControlTest, StoredPathsThatLeaveTheRootAreRefused) {
  sources_.MakeDir("inner/deeper");
  fs::path good = sources_.WriteFile("good.txt", 20);
  fs::path escape = sources_.WriteFile("escape.txt", 20);
  CQVBackupControl control;
  ASSERT_TRUE(control.BeginBackup(desc_.get()));
  ASSERT_TRUE(control.AddFileToArchive(DrivePathOf(good).c_str()));
  // The file system resolves "..", the index keeps it as a name.
  WString sneaky = sources_.DrivePath() + W("\\inner\\deeper\\..\\..\\escape.txt");
  ASSERT_TRUE(control.AddFileToArchive(sneaky.c_str())) << GetLastError();
  ASSERT_TRUE(control.EndBackup());
  Restore(desc_);
  EXPECT_EQ(ReadAll(Restored(good)), ReadAll(good));
  // Nothing of the sneaky entry anywhere below or beside the root.
  int files = 0;
  for (auto& item : fs::recursive_directory_iterator(restored_.path())) files += item.is_regular_file();
  EXPECT_EQ(files, 1);
  EXPECT_FALSE(fs::exists(restored_.path().parent_path() / "escape.txt"));
}

// A time in the 100 ns units the archive keeps.
long long Ticks(fs::file_time_type time) {
  return std::chrono::floor<std::chrono::duration<long long, std::ratio<1, 10000000>>>(time.time_since_epoch()).count();
}

struct TreeFile {
  std::string relative;
  std::size_t size;
  bool readOnly;
};

// Random trees, backed up and restored under every archive setting: every
// byte, size, last write time and read-only attribute comes back.
TEST_F(ControlTest, RandomTreesComeBackWhole) {
  const DWORD block = 4096;
  struct Setting {
    bool compress, encrypt;
    ULONGLONG volume;
  };
  std::vector<Setting> settings = {{true, false, QVS_NO_VOLUME_LIMIT},
                                   {false, false, 5000},
                                   {true, true, QVS_NO_VOLUME_LIMIT},
                                   {false, true, 20000}};
  std::mt19937 random(42);
  const std::vector<std::size_t> sizes = {0, 1, block - 1, block, block + 1, 3 * 1024 * 1024 + 17};
  for (std::size_t s = 0; s < settings.size(); ++s) {
    SCOPED_TRACE(s);
    TempDir sources, archives, restored;
    std::vector<TreeFile> tree;
    for (std::size_t i = 0; i < 14; ++i) {
      std::string folder = i % 3 == 0 ? "" : "d" + std::to_string(i % 4) + "/\xC3\xA9t\xC3\xA9/";
      if (i == 13) folder = "a/b/c/d/e/f/g/h/";
      tree.push_back({folder + "f\xE2\x82\xAC" + std::to_string(i) + ".bin", sizes[i % sizes.size()], i % 5 == 1});
    }
    std::vector<fs::path> paths;
    for (const TreeFile& file : tree) {
      fs::path path = sources.path() / fs::path(std::u8string(file.relative.begin(), file.relative.end()));
      fs::create_directories(path.parent_path());
      WriteAll(path, RandomBytes(file.size, static_cast<unsigned>(random())));
      fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(24 * (1 + random() % 900)));
      if (file.readOnly) fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write, fs::perm_options::remove);
      paths.push_back(path);
    }
    ArchiveDescription desc(archives.DrivePath());
    desc.get()->dwBlockSize = block;
    desc.info.dwCompression = settings[s].compress;
    desc.info.ullVolumeSize = settings[s].volume;
    if (settings[s].encrypt) desc.password = W("tree password");
    CQVBackupControl control;
    ULONGLONG total = 0;
    for (auto& path : paths) total += fs::file_size(path);
    control.SetTotalBytes(total);
    ASSERT_TRUE(control.BeginBackup(desc.get()));
    for (auto& path : paths) ASSERT_TRUE(control.AddFileToArchive(DrivePathOf(path).c_str())) << path;
    ASSERT_TRUE(control.EndBackup());

    RestoreAll(desc, restored);
    for (std::size_t i = 0; i < paths.size(); ++i) {
      fs::path back = RestoredPath(restored.path(), DrivePathOf(paths[i]));
      ASSERT_TRUE(fs::exists(back)) << tree[i].relative;
      EXPECT_EQ(fs::file_size(back), tree[i].size);
      EXPECT_EQ(ReadAll(back), ReadAll(paths[i])) << tree[i].relative;
      EXPECT_EQ(Ticks(fs::last_write_time(back)), Ticks(fs::last_write_time(paths[i]))) << tree[i].relative;
      bool readOnly = (fs::status(back).permissions() & fs::perms::owner_write) == fs::perms::none;
      EXPECT_EQ(readOnly, tree[i].readOnly) << tree[i].relative;
    }
  }
}

TEST_F(ControlTest, EmptyIndexImageLoadsAsAnEmptyIndex) {
  CQVBackupControl control;
  Backup({sources_.WriteFile("x", 10)}, desc_, control);
  // A closing record announcing an image of 0 bytes (with its checksum).
  fs::path path = archives_.path() / "home.QVA";
  Bytes archive = ReadAll(path);
  ULONGLONG closing = Qword(archive, 181);
  std::size_t record = closing + QVS_BLOCK_HEADER_SIZE;
  std::fill(archive.begin() + record + 12, archive.begin() + record + 16, 0);
  uLong crc = crc32(0, archive.data() + record, 16);
  for (int i = 0; i < 4; ++i) archive[closing + 10 + i] = static_cast<BYTE>(crc >> (8 * i));
  WriteAll(path, archive);
  CQVBackupControl restorer;
  ASSERT_TRUE(restorer.GetStorage().OpenArchive(desc_.get()));
  ASSERT_TRUE(restorer.LoadArchiveIndex());
  EXPECT_EQ(restorer.GetIndex().GetItemCount(TRUE), 0u);
  restorer.EndRestore();
}

}  // namespace
}  // namespace qvtest
