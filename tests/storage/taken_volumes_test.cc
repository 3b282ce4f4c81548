// Volumes taken by the host as they are finished (SetVolumeWrittenProc):
// what is offered and when, what the move into place leaves, and the
// archive a host makes whole again from what it took.
#include <gtest/gtest.h>

#include <cstdint>

#include "storage/storage_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

// Takes each volume offered into `away` (or answers `answer` without
// touching it), noting what was offered and how many volume files the
// archive's folder held then.
struct Taker {
  fs::path folder;
  fs::path away;
  DWORD answer = QVS_VOLUME_TAKEN;
  std::vector<DWORD> offered;
  std::vector<std::string> names;
  std::size_t mostHere = 0;

  static DWORD Callback(ULONGLONG user, DWORD volume, LPCWSTR path) {
    return reinterpret_cast<Taker*>(static_cast<std::uintptr_t>(user))->Take(volume, path);
  }
  ULONGLONG User() { return static_cast<ULONGLONG>(reinterpret_cast<std::uintptr_t>(this)); }

  DWORD Take(DWORD volume, LPCWSTR path) {
    offered.push_back(volume);
    const std::string text = U8(WString(path));
    const std::string name = text.substr(text.find_last_of("\\/") + 1);
    names.push_back(name);
    const std::vector<std::string> here = NamesIn(folder);
    const auto volumesHere = std::count_if(here.begin(), here.end(), [](const std::string& file) {
      return file.find(".QVA") != std::string::npos;
    });
    mostHere = std::max(mostHere, static_cast<std::size_t>(volumesHere));
    if (answer != QVS_VOLUME_TAKEN) return answer;
    fs::create_directories(away);
    fs::rename(folder / name, away / name);
    return QVS_VOLUME_TAKEN;
  }
};

class TakenVolumesTest : public ::testing::Test {
 protected:
  TakenVolumesTest() {
    desc_.get()->ullVolumeSize = 1000;
    desc_.info.dwCompression = 0;
    taker_.folder = temp_.path();
    taker_.away = away_.path();
  }

  // Writes 8000 bytes of blocks (nine volumes), their offsets in *offsets.
  bool Write(CQVStorage& storage, std::vector<ULONGLONG>* offsets) {
    storage.SetVolumeWrittenProc(Taker::Callback, taker_.User());
    if (!storage.BeginArchive(desc_.get())) return false;
    for (unsigned i = 0; i < 4; ++i) {
      const Bytes data = RandomBytes(2000, i);
      ULONGLONG offset = 0;
      if (!storage.CreateBlock(data.data(), 2000, 0, &offset)) return false;
      offsets->push_back(offset);
    }
    return storage.CloseArchive() != FALSE;
  }

  TempDir temp_;
  TempDir away_;
  ArchiveDescription desc_{temp_.DrivePath()};
  Taker taker_;
};

TEST_F(TakenVolumesTest, EachMiddleVolumeIsOfferedOnceAndTheArchiveIsWholeWithThem) {
  CQVStorage storage;
  std::vector<ULONGLONG> offsets;
  ASSERT_TRUE(Write(storage, &offsets)) << storage.GetError();
  const std::vector<std::string> here = NamesIn(temp_.path());
  ASSERT_GE(here.size(), 2u);
  const std::size_t volumes = here.size() + taker_.offered.size();
  EXPECT_GE(volumes, 9u);
  // The first (its header is written last) and the last stay, under their
  // names; the others were offered once each, in order, whole and still
  // under their temporary names.
  EXPECT_EQ(here, (std::vector<std::string>{"home.1.QVA", "home." + std::to_string(volumes) + ".QVA"}));
  for (std::size_t i = 0; i < taker_.offered.size(); ++i) {
    EXPECT_EQ(taker_.offered[i], i + 1);
    EXPECT_EQ(taker_.names[i], "home." + std::to_string(i + 2) + ".QVA.qvtmp");
    EXPECT_EQ(fs::file_size(away_.path() / taker_.names[i]), 1000u) << taker_.names[i];
  }
  // Taken at once, the folder never held more than the first, the one
  // just finished and the one begun.
  EXPECT_LE(taker_.mostHere, 3u);

  // The host puts them in place: the archive reads back as written.
  for (const std::string& name : taker_.names) {
    fs::rename(away_.path() / name, temp_.path() / name.substr(0, name.size() - 6));
  }
  CQVStorage reader;
  ASSERT_TRUE(reader.OpenArchive(desc_.get())) << reader.GetError();
  EXPECT_EQ(reader.GetVolumeCount(), volumes);
  for (unsigned i = 0; i < offsets.size(); ++i) EXPECT_EQ(BlockAt(reader, offsets[i]), RandomBytes(2000, i)) << i;
  reader.CloseArchive();
}

TEST_F(TakenVolumesTest, VolumesLeftWhereTheyAreAreMovedIntoPlaceAsUsual) {
  taker_.answer = QVS_VOLUME_LEFT;
  CQVStorage storage;
  std::vector<ULONGLONG> offsets;
  ASSERT_TRUE(Write(storage, &offsets)) << storage.GetError();
  EXPECT_FALSE(taker_.offered.empty());
  EXPECT_EQ(NamesIn(temp_.path()).size(), taker_.offered.size() + 2);
  CQVStorage reader;
  ASSERT_TRUE(reader.OpenArchive(desc_.get())) << reader.GetError();
  EXPECT_EQ(BlockAt(reader, offsets.back()), RandomBytes(2000, 3));
  reader.CloseArchive();
}

TEST_F(TakenVolumesTest, AHostThatCannotTakeAVolumeFailsTheArchiveAndTheOldOneStays) {
  {
    CQVStorage old;
    std::vector<ULONGLONG> offsets;
    taker_.answer = QVS_VOLUME_LEFT;
    ASSERT_TRUE(Write(old, &offsets));
  }
  const std::vector<std::string> before = NamesIn(temp_.path());
  const Bytes firstBefore = ReadAll(temp_.path() / "home.1.QVA");
  taker_ = Taker{temp_.path(), away_.path(), ERROR_DISK_FULL, {}, {}, 0};
  CQVStorage storage;
  std::vector<ULONGLONG> offsets;
  EXPECT_FALSE(Write(storage, &offsets));
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_DISK_FULL));
  // Offered once: the archive is given up at the first refusal.
  EXPECT_EQ(taker_.offered, std::vector<DWORD>{1});
  storage.AbandonArchive();
  EXPECT_EQ(NamesIn(temp_.path()), before);
  EXPECT_EQ(ReadAll(temp_.path() / "home.1.QVA"), firstBefore);
}

TEST_F(TakenVolumesTest, AbandonedArchiveRemovesWhatItStillHasAndNeverRecreatesATakenVolume) {
  CQVStorage storage;
  storage.SetVolumeWrittenProc(Taker::Callback, taker_.User());
  ASSERT_TRUE(storage.BeginArchive(desc_.get()));
  const Bytes data = RandomBytes(4000, 7);
  ULONGLONG offset = 0;
  ASSERT_TRUE(storage.CreateBlock(data.data(), 4000, 0, &offset));
  ASSERT_FALSE(taker_.offered.empty());
  // Reading back a block that lies in a taken volume fails; it does not
  // make an empty file in its place.
  BYTE* read = nullptr;
  DWORD length = 0;
  EXPECT_FALSE(storage.GetBlock(offset, &read, &length));
  EXPECT_FALSE(fs::exists(temp_.path() / "home.2.QVA.qvtmp"));
  storage.AbandonArchive();
  EXPECT_TRUE(NamesIn(temp_.path()).empty());
  EXPECT_FALSE(NamesIn(away_.path()).empty());  // the host's, as it took them
}

}  // namespace
}  // namespace qvtest
