// Reading an archive whose volume files lie on a remote folder: each volume
// fetched into the cache when the container asks for it, no more volumes
// kept than the limit, only the volumes a read needs fetched, the cache
// emptied afterwards, and a volume the remote does not have given up on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "remote/remote_test_util.h"
#include "remote/remote_volumes.h"
#include "storage/storage_test_util.h"

namespace qv::remote {
namespace {

namespace fs = std::filesystem;
using qvtest::Bytes;

class RemoteVolumesTest : public RemoteFolderTest {
 protected:
  void SetUp() override {
    RemoteFolderTest::SetUp();
    origin_ = remoteRoot_;
    cache_ = temp_.MakeDir("cache");
    // A split archive written where the remote folder is, as a backup to it
    // leaves it: 4096-byte volumes.
    qvtest::ArchiveDescription desc(qvtest::DrivePathOf(origin_));
    desc.get()->ullVolumeSize = 4096;
    desc.info.dwCompression = 0;
    CQVStorage storage;
    ASSERT_TRUE(storage.BeginArchive(desc.get())) << storage.GetError();
    for (unsigned i = 0; i < 8; ++i) {
      Bytes data = qvtest::RandomBytes(1500 + i * 300, i);
      ULONGLONG offset = 0;
      ASSERT_TRUE(storage.CreateBlock(data.data(), static_cast<DWORD>(data.size()), 0, &offset));
      blocks_.emplace_back(offset, std::move(data));
    }
    ASSERT_TRUE(storage.CloseArchive());
    volumes_ = qvtest::NamesIn(origin_).size();
    ASSERT_GE(volumes_, 4u);
  }
  // Opens the archive in the cache, its first volume fetched.
  void Open(RemoteVolumes& volumes, CQVStorage& reader) {
    ASSERT_TRUE(volumes.Fetch(platform::Utf8ToUtf16("home.1.QVA"))) << platform::Utf16ToUtf8(volumes.reason());
    qvtest::ArchiveDescription desc(volumes.cache());
    desc.get()->ullVolumeSize = 4096;  // a split archive: its first volume is home.1.QVA
    ASSERT_TRUE(reader.OpenArchive(desc.get(), RemoteVolumes::Callback, volumes.UserValue())) << reader.GetError();
  }

  fs::path origin_;
  fs::path cache_;
  std::vector<std::pair<ULONGLONG, Bytes>> blocks_;
  std::size_t volumes_ = 0;
};

TEST_F(RemoteVolumesTest, EveryBlockReadsBackWithAFewVolumesKept) {
  RcloneRemote remote = Remote();
  {
    RemoteVolumes volumes(remote, qvtest::DrivePathOf(cache_), 2);
    CQVStorage reader;
    Open(volumes, reader);
    for (const auto& [offset, data] : blocks_) {
      EXPECT_EQ(qvtest::BlockAt(reader, offset), data) << offset;
      EXPECT_LE(qvtest::NamesIn(cache_).size(), 2u);
    }
    ASSERT_TRUE(reader.CloseArchive());
    EXPECT_GE(volumes.fetches(), volumes_);
  }
  // The cache is empty again; the remote is as it was.
  EXPECT_TRUE(qvtest::NamesIn(cache_).empty());
  EXPECT_EQ(qvtest::NamesIn(origin_).size(), volumes_);
}

TEST_F(RemoteVolumesTest, OneBlockFetchesOnlyItsVolumes) {
  RcloneRemote remote = Remote();
  RemoteVolumes volumes(remote, qvtest::DrivePathOf(cache_), 8);
  CQVStorage reader;
  Open(volumes, reader);
  const auto& [offset, data] = blocks_.back();
  EXPECT_EQ(qvtest::BlockAt(reader, offset), data);
  ASSERT_TRUE(reader.CloseArchive());
  // The first volume (the header) and those the last block spans.
  const std::size_t first = static_cast<std::size_t>(offset / 4096);
  const std::size_t last = static_cast<std::size_t>((offset + data.size() + 64) / 4096);
  EXPECT_LE(volumes.fetches(), 1 + (last - first + 1));
  EXPECT_LT(volumes.fetches(), volumes_);
}

TEST_F(RemoteVolumesTest, AVolumeTheRemoteLacksIsGivenUpOn) {
  RcloneRemote remote = Remote();
  RemoteVolumes volumes(remote, qvtest::DrivePathOf(cache_), 3);
  CQVStorage reader;
  Open(volumes, reader);
  fs::remove(origin_ / ("home." + std::to_string(volumes_) + ".QVA"));
  const auto& [offset, data] = blocks_.back();
  EXPECT_NE(qvtest::BlockAt(reader, offset), data);
  EXPECT_NE(volumes.error(), 0u);
  EXPECT_FALSE(volumes.reason().empty());
  reader.CloseArchive();
}

// A member read back before it is put in place: the volumes sent lie on the
// remote under their temporary names, and only those are fetched from there.
TEST_F(RemoteVolumesTest, AVolumeSentAndNotYetInPlaceIsFetchedFromItsTemporaryName) {
  const std::string last = "home." + std::to_string(volumes_) + ".QVA";
  fs::rename(origin_ / last, origin_ / (last + ".qvnew"));
  RcloneRemote remote = Remote();
  {
    RemoteVolumes volumes(remote, qvtest::DrivePathOf(cache_), 3);
    CQVStorage reader;
    Open(volumes, reader);
    const auto& [offset, data] = blocks_.back();
    EXPECT_NE(qvtest::BlockAt(reader, offset), data);  // not under its own name
    reader.CloseArchive();
  }
  RemoteVolumes volumes(remote, qvtest::DrivePathOf(cache_), 3);
  volumes.NoteSent(platform::Utf8ToUtf16(last));
  CQVStorage reader;
  Open(volumes, reader);
  for (const auto& [offset, data] : blocks_) EXPECT_EQ(qvtest::BlockAt(reader, offset), data) << offset;
  reader.CloseArchive();
  EXPECT_TRUE(fs::exists(origin_ / (last + ".qvnew")));  // fetched, left where it was
}

// Read in order, each next volume is fetched ahead (under a name of its own
// until it is asked for, so that it is asked for and the one after it comes
// ahead too); read out of order, nothing is.
TEST_F(RemoteVolumesTest, ReadingInOrderFetchesTheNextVolumeAhead) {
  RcloneRemote remote = Remote();
  std::vector<WString> names;
  for (std::size_t v = 1; v <= volumes_; ++v) names.push_back(W("home." + std::to_string(v) + ".QVA"));
  {
    RemoteVolumes volumes(remote, qvtest::DrivePathOf(cache_), 3);
    volumes.SetReadingOrder({names});
    CQVStorage reader;
    Open(volumes, reader);
    for (const auto& [offset, data] : blocks_) EXPECT_EQ(qvtest::BlockAt(reader, offset), data) << offset;
    // Every volume once: the ahead ones were used, none fetched twice.
    EXPECT_EQ(volumes.fetches(), volumes_);
    EXPECT_LE(qvtest::NamesIn(cache_).size(), 3u);
    ASSERT_TRUE(reader.CloseArchive());
  }
  EXPECT_TRUE(qvtest::NamesIn(cache_).empty());
  {
    // The last block alone, its volume not next to one read: nothing ahead.
    RemoteVolumes volumes(remote, qvtest::DrivePathOf(cache_), 8);
    volumes.SetReadingOrder({names});
    CQVStorage reader;
    Open(volumes, reader);
    const auto& [offset, data] = blocks_.back();
    EXPECT_EQ(qvtest::BlockAt(reader, offset), data);
    for (const std::string& name : qvtest::NamesIn(cache_)) EXPECT_EQ(name.find(".ahead"), std::string::npos) << name;
    ASSERT_TRUE(reader.CloseArchive());
  }
}

// Several ahead at once: each volume still comes once, a reader that goes
// elsewhere drops what was fetched ahead for it, and nothing fetched ahead
// stays behind.
TEST_F(RemoteVolumesTest, SeveralVolumesAheadComeOnceAndAreDroppedWhenTheReaderGoesElsewhere) {
  RcloneRemote remote = Remote();
  std::vector<WString> names;
  for (std::size_t v = 1; v <= volumes_; ++v) names.push_back(W("home." + std::to_string(v) + ".QVA"));
  const auto aheadFiles = [&] {
    std::size_t count = 0;
    for (const std::string& name : qvtest::NamesIn(cache_)) count += name.find(".ahead") != std::string::npos;
    return count;
  };
  {
    RemoteVolumes volumes(remote, qvtest::DrivePathOf(cache_), 2, 3);
    volumes.SetReadingOrder({names});
    CQVStorage reader;
    Open(volumes, reader);
    for (const auto& [offset, data] : blocks_) EXPECT_EQ(qvtest::BlockAt(reader, offset), data) << offset;
    EXPECT_EQ(volumes.fetches(), volumes_);
    EXPECT_EQ(aheadFiles(), 0u);  // the last volume has none after it
    ASSERT_TRUE(reader.CloseArchive());
  }
  EXPECT_TRUE(qvtest::NamesIn(cache_).empty());
  {
    RemoteVolumes volumes(remote, qvtest::DrivePathOf(cache_), 2, 3);
    volumes.SetReadingOrder({names});
    CQVStorage reader;
    Open(volumes, reader);
    // The first two volumes in order start the fetches ahead; the last
    // block then lies past them.
    EXPECT_EQ(qvtest::BlockAt(reader, blocks_[0].first), blocks_[0].second);
    ASSERT_TRUE(volumes.Fetch(names[1]));
    const auto& [offset, data] = blocks_.back();
    EXPECT_EQ(qvtest::BlockAt(reader, offset), data);
    ASSERT_TRUE(reader.CloseArchive());
  }
  EXPECT_TRUE(qvtest::NamesIn(cache_).empty());
}

}  // namespace
}  // namespace qv::remote
