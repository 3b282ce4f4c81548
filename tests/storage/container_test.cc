// The archive container: descriptions, the header on disk, volume names,
// the stream across volumes, cutting and reopening.
#include <gtest/gtest.h>

#include "storage/storage_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

class ContainerTest : public ::testing::Test {
 protected:
  TempDir temp_;
  ArchiveDescription desc_{temp_.DrivePath()};
  fs::path Volume(const std::string& name) const { return temp_.path() / name; }
};

TEST_F(ContainerTest, BadDescriptionsAreRefusedBeforeAnyFileIsTouched) {
  CQVStorage storage;
  desc_.get()->dwSize = 179;
  EXPECT_FALSE(storage.BeginArchive(&desc_.info));
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  desc_.info.dwSize = sizeof(QVS_ARCHIVE_INFO);

  ArchiveDescription noFolder(temp_.DrivePath() + W("\\missing"));
  EXPECT_FALSE(storage.BeginArchive(noFolder.get()));
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  ArchiveDescription noName(temp_.DrivePath());
  noName.name.clear();
  noName.get()->pszName = nullptr;
  EXPECT_FALSE(storage.BeginArchive(&noName.info));

  ArchiveDescription badKey(temp_.DrivePath());
  badKey.password = W("secret");
  badKey.get()->dwEncryptionKeySize = 100;
  EXPECT_FALSE(storage.BeginArchive(&badKey.info));
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  ArchiveDescription longExtension(temp_.DrivePath());
  longExtension.extension = W("ABCDEF");
  EXPECT_FALSE(storage.BeginArchive(longExtension.get()));
  EXPECT_TRUE(fs::is_empty(temp_.path()));
}

TEST_F(ContainerTest, HeaderOnDiskHoldsTheDescription) {
  CQVStorage storage;
  desc_.get()->dwFlags = 0x100;
  ASSERT_TRUE(storage.BeginArchive(desc_.get())) << storage.GetError();
  Bytes data = TextBytes(3000);
  ASSERT_TRUE(storage.CreateBlock(data.data(), 3000, 0));
  ASSERT_TRUE(storage.SetUserData(0x1122334455667788ull));
  ULONGLONG end = storage.GetArchiveOffset();
  ASSERT_TRUE(storage.CloseArchive());

  Bytes file = ReadAll(Volume("home.QVA"));
  ASSERT_EQ(file.size(), end);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "SQVO");
  EXPECT_EQ(Dword(file, 4), 1u);
  EXPECT_NE(Qword(file, 8) | Qword(file, 16), 0u);  // an identifier
  EXPECT_EQ(Dword(file, 24), 0u);                     // the base archive
  EXPECT_EQ(Dword(file, 32), 0x100u);
  EXPECT_EQ(Dword(file, 36), 1u);
  EXPECT_EQ(Dword(file, 40), 4096u);
  EXPECT_EQ(Qword(file, 44), QVS_NO_VOLUME_LIMIT);
  EXPECT_EQ(file[52], 0);
  EXPECT_EQ(Bytes(file.begin() + 149, file.begin() + 157), (Bytes{'Q', 0, 'V', 0, 'A', 0, 0, 0}));
  for (int i = 161; i < 181; ++i) EXPECT_EQ(file[i], 0) << i;
  EXPECT_EQ(Qword(file, 181), 0x1122334455667788ull);
  EXPECT_EQ(Qword(file, 189), end);
}

TEST_F(ContainerTest, BlockSizesOutsideTheRangeBecomeTheDefault) {
  struct Case {
    DWORD asked, kept;
  };
  for (Case c : {Case{999, 262144}, Case{1000, 1000}, Case{536870912, 536870912}, Case{536870913, 262144}}) {
    CQVStorage storage;
    desc_.get()->dwBlockSize = c.asked;
    ASSERT_TRUE(storage.BeginArchive(desc_.get()));
    EXPECT_EQ(storage.GetArchiveBlockSize(), c.kept) << c.asked;
    ASSERT_TRUE(storage.CloseArchive());
    EXPECT_EQ(Dword(ReadAll(Volume("home.QVA")), 40), c.kept);
  }
}

TEST_F(ContainerTest, VolumeNamesFollowTheRules) {
  CQVStorage storage;
  ASSERT_TRUE(storage.BeginArchive(desc_.get()));
  WString folder = temp_.DrivePath() + W("\\");
  EXPECT_EQ(U8(storage.GetArchiveVolumePath(0)), U8(folder + W("home.QVA")));
  EXPECT_EQ(U8(storage.GetArchiveVolumePath(3, 3)), U8(folder + W("home.I3.QVA")));
  storage.CloseArchive();

  CQVStorage split;
  desc_.get()->ullVolumeSize = 100000;
  desc_.info.pszIncrementTag = QVT("Inc");
  ASSERT_TRUE(split.BeginArchive(&desc_.info));
  EXPECT_EQ(U8(split.GetArchiveVolumePath(0)), U8(folder + W("home.1.QVA")));
  EXPECT_EQ(U8(split.GetArchiveVolumePath(1)), U8(folder + W("home.2.QVA")));
  EXPECT_EQ(U8(split.GetArchiveVolumePath(0, 3)), U8(folder + W("home.Inc3.1.QVA")));
  EXPECT_EQ(U8(split.GetArchiveVolumePath(0xFFFFFFFFu, 0)), U8(folder + W("home.QVA")));
  split.CloseArchive();
  EXPECT_TRUE(fs::exists(Volume("home.1.QVA")));
}

TEST_F(ContainerTest, StreamCrossesVolumesAndReadsBackTheSame) {
  for (ULONGLONG volumeSize : {247ull, 300ull, 1000ull, 4096ull, 70000ull}) {
    SCOPED_TRACE(volumeSize);
    TempDir temp;
    ArchiveDescription desc(temp.DrivePath());
    desc.get()->ullVolumeSize = volumeSize;
    desc.info.dwCompression = 0;
    CQVStorage storage;
    ASSERT_TRUE(storage.BeginArchive(&desc.info)) << storage.GetError();
    std::vector<std::pair<ULONGLONG, Bytes>> blocks;
    for (unsigned i = 0; i < 6; ++i) {
      Bytes data = RandomBytes(500 + i * 700, i);
      ULONGLONG offset = 0;
      ASSERT_TRUE(storage.CreateBlock(data.data(), static_cast<DWORD>(data.size()), 0, &offset)) << i;
      blocks.emplace_back(offset, data);
    }
    ULONGLONG total = storage.GetArchiveOffset();
    EXPECT_EQ(storage.Seek(0, 2, FALSE), total);
    ASSERT_TRUE(storage.CloseArchive());

    // Every volume but the last is exactly the volume size.
    DWORD volumes = static_cast<DWORD>((total + volumeSize - 1) / volumeSize);
    ULONGLONG sum = 0;
    for (DWORD v = 1; v <= volumes; ++v) {
      ULONGLONG size = fs::file_size(temp.path() / ("home." + std::to_string(v) + ".QVA"));
      if (v < volumes) {
        EXPECT_EQ(size, volumeSize) << v;
      }
      sum += size;
    }
    EXPECT_EQ(sum, total);
    EXPECT_FALSE(fs::exists(temp.path() / ("home." + std::to_string(volumes + 1) + ".QVA")));

    CQVStorage reader;
    ASSERT_TRUE(reader.OpenArchive(desc.get())) << reader.GetError();
    EXPECT_EQ(reader.GetVolumeCount(), volumes);
    for (auto& [offset, data] : blocks) EXPECT_EQ(BlockAt(reader, offset), data);
    // Raw bytes across a boundary read back as written.
    BYTE header[QVS_HEADER_SIZE];
    ASSERT_NE(reader.Seek(0, 0, TRUE), QVS_INVALID_OFFSET);
    ASSERT_TRUE(reader.ReadData(header, sizeof(header)));
    EXPECT_EQ(std::string(header, header + 4), "SQVO");
    ASSERT_TRUE(reader.CloseArchive());
  }
}

TEST_F(ContainerTest, SeekOrigins) {
  CQVStorage storage;
  ASSERT_TRUE(storage.BeginArchive(desc_.get()));
  Bytes data = RandomBytes(2000, 7);
  ASSERT_TRUE(storage.CreateBlock(data.data(), 2000, 0));
  ULONGLONG end = storage.GetArchiveOffset();
  EXPECT_EQ(storage.Seek(0, 2, FALSE), end);
  EXPECT_EQ(storage.Seek(10, 2, FALSE), end - 10);
  EXPECT_EQ(storage.Seek(123, 0, TRUE), 123u);
  EXPECT_EQ(storage.GetArchiveOffset(), 123u);
  EXPECT_EQ(storage.Seek(999, 1, FALSE), 123u);
  EXPECT_EQ(storage.Seek(0, 3, TRUE), QVS_INVALID_OFFSET);
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  storage.CloseArchive();
}

TEST_F(ContainerTest, CuttingInTheSecondOfFourVolumesDeletesTheLastTwo) {
  CQVStorage storage;
  desc_.get()->ullVolumeSize = 1000;
  desc_.info.dwCompression = 0;
  ASSERT_TRUE(storage.BeginArchive(&desc_.info));
  Bytes data = RandomBytes(3500, 1);
  ASSERT_TRUE(storage.WriteData(data.data(), 3500));
  // Written under temporary names until the archive is closed.
  ASSERT_TRUE(fs::exists(Volume("home.4.QVA.qvtmp")));
  ASSERT_FALSE(fs::exists(Volume("home.4.QVA")));
  ASSERT_NE(storage.Seek(1500, 0, TRUE), QVS_INVALID_OFFSET);
  ASSERT_TRUE(storage.SetEndOfArchive());
  EXPECT_EQ(fs::file_size(Volume("home.2.QVA.qvtmp")), 500u);
  EXPECT_FALSE(fs::exists(Volume("home.3.QVA.qvtmp")));
  EXPECT_FALSE(fs::exists(Volume("home.4.QVA.qvtmp")));
  EXPECT_TRUE(storage.CloseArchive());
  EXPECT_EQ(fs::file_size(Volume("home.2.QVA")), 500u);
  EXPECT_TRUE(fs::exists(Volume("home.1.QVA")));
  EXPECT_FALSE(fs::exists(Volume("home.3.QVA")));
  EXPECT_FALSE(fs::exists(Volume("home.2.QVA.qvtmp")));
  CQVStorage closed;
  EXPECT_FALSE(closed.SetEndOfArchive());
  EXPECT_EQ(closed.GetError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

int g_sleeps = 0;
void CountSleep(DWORD) { ++g_sleeps; }

TEST_F(ContainerTest, BusyFirstVolumeIsTriedFiveMoreTimes) {
  // A folder where the first volume is written cannot be opened as a file.
  fs::create_directory(Volume("home.QVA.qvtmp"));
  CQVStorage storage;
  storage.SetSleepProc(CountSleep);
  g_sleeps = 0;
  EXPECT_FALSE(storage.BeginArchive(desc_.get()));
  EXPECT_EQ(g_sleeps, 5);
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

struct VolumePrompt {
  std::vector<DWORD> volumes;
  WString replacement;
  static LONGLONG Callback(DWORD code, ULONGLONG user, ULONGLONG volume, LONGLONG buffer) {
    auto* self = reinterpret_cast<VolumePrompt*>(static_cast<std::uintptr_t>(user));
    if (code != QVS_PROGRESS_VOLUME_MISSING) return 0;
    self->volumes.push_back(static_cast<DWORD>(volume));
    if (self->replacement.empty()) return ERROR_CANCELLED;
    auto* path = reinterpret_cast<WCHAR*>(static_cast<std::uintptr_t>(buffer));
    std::memcpy(path, self->replacement.c_str(), (self->replacement.size() + 1) * sizeof(WCHAR));
    return 0;
  }
  ULONGLONG User() { return static_cast<ULONGLONG>(reinterpret_cast<std::uintptr_t>(this)); }
};

TEST_F(ContainerTest, MissingVolumeIsAskedForThroughTheCallback) {
  {
    CQVStorage storage;
    desc_.get()->ullVolumeSize = 1000;
    ASSERT_TRUE(storage.BeginArchive(&desc_.info));
    Bytes data = RandomBytes(3000, 3);
    ASSERT_TRUE(storage.CreateBlock(data.data(), 3000, 0));
    ASSERT_TRUE(storage.CloseArchive());
  }
  fs::rename(Volume("home.3.QVA"), Volume("moved.bin"));
  VolumePrompt cancel;
  CQVStorage reader;
  ASSERT_TRUE(reader.OpenArchive(desc_.get(), VolumePrompt::Callback, cancel.User()));
  BYTE* data = nullptr;
  DWORD length = 0;
  EXPECT_FALSE(reader.GetBlock(QVS_HEADER_SIZE, &data, &length));
  EXPECT_EQ(reader.GetError(), static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_EQ(cancel.volumes, std::vector<DWORD>{2});
  EXPECT_FALSE(fs::exists(Volume("home.3.QVA")));  // reading never creates a volume
  reader.CloseArchive();

  VolumePrompt found;
  found.replacement = temp_.DrivePath() + W("\\moved.bin");
  CQVStorage again;
  ASSERT_TRUE(again.OpenArchive(desc_.get(), VolumePrompt::Callback, found.User()));
  EXPECT_EQ(BlockAt(again, QVS_HEADER_SIZE), RandomBytes(3000, 3));
  EXPECT_EQ(found.volumes, std::vector<DWORD>{2});
  again.CloseArchive();
}

TEST_F(ContainerTest, OpeningSomethingElseLeavesItUntouched) {
  Bytes foreign = TextBytes(1000);
  WriteAll(Volume("home.QVA"), foreign);
  CQVStorage storage;
  EXPECT_FALSE(storage.OpenArchive(desc_.get()));
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_BAD_FORMAT));
  EXPECT_FALSE(storage.CloseArchive());  // nothing stayed open
  EXPECT_EQ(ReadAll(Volume("home.QVA")), foreign);

  WriteAll(Volume("home.QVA"), Bytes{'S', 'Q', 'V', 'O'});
  EXPECT_FALSE(storage.OpenArchive(desc_.get()));
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_BAD_FORMAT));
}

TEST_F(ContainerTest, DamagedHeaderFieldsAreRefused) {
  {
    CQVStorage storage;
    ASSERT_TRUE(storage.BeginArchive(desc_.get()));
    ASSERT_TRUE(storage.CloseArchive());
  }
  Bytes good = ReadAll(Volume("home.QVA"));
  // Magic, block size, volume size (made 0), encryption type, extension end.
  for (std::size_t at : {0u, 43u, 44u, 52u, 159u}) {
    Bytes bad = good;
    if (at == 44) {
      std::fill(bad.begin() + 44, bad.begin() + 52, 0);
    } else {
      bad[at] ^= 0x5A;
    }
    WriteAll(Volume("home.QVA"), bad);
    CQVStorage storage;
    EXPECT_FALSE(storage.OpenArchive(desc_.get())) << at;
    EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_BAD_FORMAT)) << at;
  }
}

TEST_F(ContainerTest, ReadOnlyArchiveIsReadWithoutBeingWritten) {
  {
    CQVStorage storage;
    ASSERT_TRUE(storage.BeginArchive(desc_.get()));
    Bytes data = TextBytes(2000);
    ASSERT_TRUE(storage.CreateBlock(data.data(), 2000, 0));
    ASSERT_TRUE(storage.CloseArchive());
  }
  fs::permissions(Volume("home.QVA"), fs::perms::owner_read | fs::perms::group_read, fs::perm_options::replace);
  if (std::ofstream(Volume("home.QVA"), std::ios::app).is_open()) GTEST_SKIP() << "permissions do not bind this user";
  Bytes before = ReadAll(Volume("home.QVA"));
  CQVStorage reader;
  ASSERT_TRUE(reader.OpenArchive(desc_.get())) << reader.GetError();
  EXPECT_EQ(BlockAt(reader, QVS_HEADER_SIZE), TextBytes(2000));
  Bytes more = TextBytes(10);
  EXPECT_FALSE(reader.CreateBlock(more.data(), 10, 0));
  EXPECT_TRUE(reader.CloseArchive());
  EXPECT_EQ(ReadAll(Volume("home.QVA")), before);
}

TEST_F(ContainerTest, CopiesNeverShareTheOpenVolume) {
  CQVStorage storage;
  ASSERT_TRUE(storage.BeginArchive(desc_.get()));
  {
    CQVStorage copy(storage);
    EXPECT_FALSE(copy.CloseArchive());
    EXPECT_EQ(copy.GetError(), static_cast<DWORD>(ERROR_INVALID_STATE));
    EXPECT_EQ(U8(copy.GetArchiveVolumePath(0)), U8(storage.GetArchiveVolumePath(0)));
    CQVStorage assigned;
    assigned = storage;
    EXPECT_EQ(assigned.GetArchiveBlockSize(), 4096u);
  }
  Bytes data = TextBytes(100);
  EXPECT_TRUE(storage.CreateBlock(data.data(), 100, 0));
  EXPECT_TRUE(storage.CloseArchive());
  EXPECT_EQ(storage.GetUserData(), QVS_INVALID_OFFSET);
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_INVALID_STATE));
  EXPECT_TRUE(storage.Dump());
}

}  // namespace
}  // namespace qvtest
