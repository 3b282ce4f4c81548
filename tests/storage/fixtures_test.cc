// Archives made by the Linux build and by the Windows build, each read by
// the build running this test: the format is one on both platforms.
#include <gtest/gtest.h>

#include "storage/archive_fixtures.h"

namespace qvtest {
namespace {

// The committed fixture folder as this build names it.
std::filesystem::path FixtureFolder(const std::string& maker) {
  std::string native = std::string(QV_TEST_DATA_DIR) + "/archives/" + maker;
#if defined(_WIN32)
  // Under Wine the drive Z: is the Linux root.
  return std::filesystem::path("Z:" + native);
#else
  return std::filesystem::path(native);
#endif
}

class FixturesTest : public ::testing::TestWithParam<std::string> {};

TEST_P(FixturesTest, EveryArchiveReadsBackWhole) {
  // Read from a copy: closing an archive rewrites its header.
  TempDir temp;
  std::filesystem::copy(FixtureFolder(GetParam()), temp.path());
  WString folder = temp.DrivePath();
  for (const FixtureArchive& fixture : FixtureArchives()) {
    for (DWORD increment = 0; increment <= fixture.increments; ++increment) {
      SCOPED_TRACE(fixture.name + " increment " + std::to_string(increment));
      ArchiveDescription desc(folder);
      desc.name = W(fixture.name);
      desc.password = W(fixture.password);
      desc.get()->dwEncryptionKeySize = fixture.keyBits;
      desc.info.ullVolumeSize = fixture.volumeSize;
      desc.info.dwIncrementToOpen = increment;
      CQVStorage storage;
      ASSERT_TRUE(storage.OpenArchive(&desc.info)) << storage.GetError();
      EXPECT_EQ(storage.GetUserData(), FixtureUserData(increment));
      std::vector<Bytes> found;
      BYTE* data = nullptr;
      DWORD length = 0;
      HANDLE walk = storage.FindFirstDataBlock(&data, &length);
      ASSERT_NE(walk, nullptr) << storage.GetError();
      do {
        found.emplace_back(data, data + length);
        storage.DeleteFoundBlockData(data, length);
      } while (storage.FindNextDataBlock(walk, &data, &length));
      EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
      storage.FindBlockClose(walk);
      EXPECT_EQ(found, FixtureBlocks(increment));
      if (fixture.volumeSize != QVS_NO_VOLUME_LIMIT) {
        EXPECT_GT(storage.GetVolumeCount(), 2u);
      }
      storage.CloseArchive();
    }
  }
}

// One flipped bit of the password check value: the password still opens
// the blocks, so the archive reads and is called damaged, whichever way its
// keys were made; another password is still refused as wrong.
TEST_P(FixturesTest, AFlippedCheckValueIsDamageNotAWrongPassword) {
  TempDir temp;
  std::filesystem::copy(FixtureFolder(GetParam()), temp.path());
  for (const FixtureArchive& fixture : FixtureArchives()) {
    if (fixture.password.empty()) continue;
    SCOPED_TRACE(fixture.name);
    const std::filesystem::path base = temp.path() / (fixture.name + ".QVA");
    Bytes header = ReadAll(base);
    header[161 + 7] ^= 0x10;
    WriteAll(base, header);
    ArchiveDescription desc(temp.DrivePath());
    desc.name = W(fixture.name);
    desc.password = W(fixture.password);
    CQVStorage storage;
    ASSERT_TRUE(storage.OpenArchive(desc.get())) << storage.GetError();
    EXPECT_TRUE(storage.IsCheckValueDamaged());
    BYTE* data = nullptr;
    DWORD length = 0;
    HANDLE walk = storage.FindFirstDataBlock(&data, &length);
    ASSERT_NE(walk, nullptr) << storage.GetError();
    EXPECT_EQ(Bytes(data, data + length), FixtureBlocks(0)[0]);
    storage.DeleteFoundBlockData(data, length);
    storage.FindBlockClose(walk);
    storage.CloseArchive();
    desc.password = W("not it");
    CQVStorage wrong;
    EXPECT_FALSE(wrong.OpenArchive(desc.get()));
    EXPECT_EQ(wrong.GetError(), static_cast<DWORD>(ERROR_WRONG_PASSWORD));
  }
}

INSTANTIATE_TEST_SUITE_P(MadeBy, FixturesTest, ::testing::Values("linux", "windows"));

}  // namespace
}  // namespace qvtest
