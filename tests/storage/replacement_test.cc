// An archive takes its place only when whole: what is on disk while it is
// written, when it is given up, when a run died at each step, and what the
// chain's members then are; one writer at a time.
#include <gtest/gtest.h>

#include <algorithm>

#include "storage/storage_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

class ReplacementTest : public ::testing::Test {
 protected:
  // A whole member of archive `desc`: one block of `content`, ended by a
  // closing record. `incremental`: the chain's next member.
  void Write(ArchiveDescription& desc, const Bytes& content, bool incremental = false) {
    CQVStorage storage;
    ASSERT_TRUE(incremental ? storage.BeginIncrementalArchive(desc.get()) : storage.BeginArchive(desc.get()))
        << storage.GetError();
    ASSERT_TRUE(storage.CreateBlock(content.data(), static_cast<DWORD>(content.size()), 0));
    ASSERT_TRUE(EndWithClosingRecord(storage));
    ASSERT_TRUE(storage.CloseArchive()) << storage.GetError();
    if (incremental) desc.info.dwFlags &= ~static_cast<DWORD>(QVS_FLAG_INCREMENTAL);
  }

  // The first block of member `increment`, read back through the library.
  Bytes Content(ArchiveDescription& desc, DWORD increment = 0) {
    CQVStorage reader;
    desc.get()->dwIncrementToOpen = increment;
    const bool opened = reader.OpenArchive(&desc.info) != FALSE;
    desc.info.dwIncrementToOpen = 0;
    if (!opened) return Bytes();
    return BlockAt(reader, QVS_HEADER_SIZE);
  }

  std::vector<QVS_MEMBER_STATE> Inspect(ArchiveDescription& desc) {
    CQVStorage probe;
    std::vector<QVS_MEMBER_STATE> states(16);
    const DWORD count = probe.InspectChain(desc.get(), states.data(), static_cast<DWORD>(states.size()));
    states.resize(std::min<std::size_t>(count, states.size()));
    return states;
  }
  std::vector<DWORD> States(ArchiveDescription& desc) {
    std::vector<DWORD> states;
    for (const QVS_MEMBER_STATE& member : Inspect(desc)) states.push_back(member.dwState);
    return states;
  }

  fs::path File(const std::string& name) const { return temp_.path() / name; }

  TempDir temp_;
  ArchiveDescription desc_{temp_.DrivePath()};
};

TEST_F(ReplacementTest, ArchiveBeingWrittenLeavesTheOneItReplacesUntouchedUntilItIsClosed) {
  desc_.get()->ullVolumeSize = 3000;
  desc_.info.dwCompression = 0;
  Write(desc_, RandomBytes(4000, 1));
  const std::vector<std::string> before = NamesIn(temp_.path());
  ASSERT_EQ(before, (std::vector<std::string>{"home.1.QVA", "home.2.QVA"}));
  const Bytes first = ReadAll(File("home.1.QVA"));
  const Bytes second = ReadAll(File("home.2.QVA"));

  CQVStorage storage;
  ASSERT_TRUE(storage.BeginArchive(desc_.get()));
  const Bytes content = RandomBytes(8000, 2);
  ASSERT_TRUE(storage.CreateBlock(content.data(), 4000, 0));
  ASSERT_TRUE(storage.CreateBlock(content.data() + 4000, 4000, 0));
  ASSERT_TRUE(storage.FlushBlocks());
  // The old archive's volumes are the old bytes; the new ones carry their
  // temporary names, and the lock is held.
  EXPECT_EQ(ReadAll(File("home.1.QVA")), first);
  EXPECT_EQ(ReadAll(File("home.2.QVA")), second);
  EXPECT_TRUE(fs::exists(File("home.3.QVA.qvtmp")));
  EXPECT_TRUE(fs::exists(File("home.qvlock")));
  EXPECT_EQ(Content(desc_), RandomBytes(4000, 1));
  ASSERT_TRUE(EndWithClosingRecord(storage));
  ASSERT_TRUE(storage.CloseArchive());
  EXPECT_EQ(NamesIn(temp_.path()), (std::vector<std::string>{"home.1.QVA", "home.2.QVA", "home.3.QVA"}));
  EXPECT_EQ(Content(desc_), Bytes(content.begin(), content.begin() + 4000));
}

// A self-extracting archive: the program copy is the new first volume,
// written under its temporary name too.
TEST_F(ReplacementTest, SelfExtractingArchiveReplacesItsPredecessorOnlyWhenWhole) {
  Bytes stub = RandomBytes(5000, 7);
  stub[0] = 'M';
  stub[1] = 'Z';
  std::fill(stub.begin() + 28, stub.begin() + 36, 0);
  WriteAll(File("stub.bin"), stub);
  desc_.stub = temp_.DrivePath() + W("\\stub.bin");
  Write(desc_, TextBytes(100));
  ASSERT_TRUE(fs::exists(File("home.exe")));
  const Bytes old = ReadAll(File("home.exe"));
  CQVStorage storage;
  ASSERT_TRUE(storage.BeginArchive(desc_.get()));
  EXPECT_TRUE(fs::exists(File("home.exe.qvtmp")));
  EXPECT_EQ(ReadAll(File("home.exe")), old);
  Bytes data = TextBytes(300);
  ASSERT_TRUE(storage.CreateBlock(data.data(), 300, 0));
  EXPECT_TRUE(storage.AbandonArchive());
  EXPECT_EQ(ReadAll(File("home.exe")), old);
  EXPECT_FALSE(fs::exists(File("home.exe.qvtmp")));
  Write(desc_, TextBytes(300));
  EXPECT_EQ(NamesIn(temp_.path()), (std::vector<std::string>{"home.exe", "stub.bin"}));
  const Bytes now = ReadAll(File("home.exe"));
  EXPECT_EQ(Bytes(now.begin(), now.begin() + 28), Bytes(stub.begin(), stub.begin() + 28));
  EXPECT_NE(now, old);
}

TEST_F(ReplacementTest, GivingUpOrDroppingAnArchiveBeingWrittenLeavesOnlyTheOldOne) {
  Write(desc_, TextBytes(500));
  const Bytes old = ReadAll(File("home.QVA"));
  {
    CQVStorage storage;
    ASSERT_TRUE(storage.BeginArchive(desc_.get()));
    Bytes data = RandomBytes(3000, 3);
    ASSERT_TRUE(storage.CreateBlock(data.data(), 3000, 0));
    EXPECT_TRUE(storage.AbandonArchive());
    EXPECT_FALSE(storage.CreateBlock(data.data(), 3000, 0));
  }
  EXPECT_EQ(NamesIn(temp_.path()), (std::vector<std::string>{"home.QVA"}));
  EXPECT_EQ(ReadAll(File("home.QVA")), old);
  {
    CQVStorage storage;  // destroyed while writing, as by a host that gives up
    ASSERT_TRUE(storage.BeginArchive(desc_.get()));
    Bytes data = RandomBytes(3000, 4);
    ASSERT_TRUE(storage.CreateBlock(data.data(), 3000, 0));
  }
  EXPECT_EQ(NamesIn(temp_.path()), (std::vector<std::string>{"home.QVA"}));
  EXPECT_EQ(ReadAll(File("home.QVA")), old);
}

// What a run that died leaves, at each step of moving a split archive into
// place: readers see the old archive, or the new one once it is committed;
// the next run clears the rest away and finishes a committed move.
TEST_F(ReplacementTest, LeftoversOfARunThatDiedAreClearedOrFinishedByTheNextOne) {
  desc_.get()->ullVolumeSize = 3000;
  desc_.info.dwCompression = 0;
  Write(desc_, RandomBytes(4000, 1));
  const std::vector<std::string> old = NamesIn(temp_.path());

  // Died while writing: staged volumes beside the old ones.
  WriteAll(File("home.1.QVA.qvtmp"), RandomBytes(3000, 9));
  WriteAll(File("home.2.QVA.qvtmp"), RandomBytes(100, 9));
  EXPECT_EQ(Content(desc_), RandomBytes(4000, 1));
  EXPECT_EQ(States(desc_), (std::vector<DWORD>{QVS_MEMBER_COMPLETE}));

  // Died half-way through the first renames (the first volume not yet
  // committed): the ".qvnew" later volumes are not the archive's.
  fs::copy_file(File("home.2.QVA"), File("home.2.QVA.qvnew"));
  EXPECT_EQ(Content(desc_), RandomBytes(4000, 1));
  CQVStorage next;
  ASSERT_TRUE(next.BeginArchive(desc_.get()));
  EXPECT_EQ(next.GetRemovedFileCount(), 3u);
  DWORD reason = 0;
  ASSERT_NE(next.GetRemovedFile(0, &reason), nullptr);
  EXPECT_EQ(reason, static_cast<DWORD>(QVS_REMOVED_UNFINISHED));
  EXPECT_EQ(next.GetRemovedFile(3, &reason), nullptr);
  EXPECT_TRUE(next.AbandonArchive());
  EXPECT_EQ(NamesIn(temp_.path()), old);

  // Died once committed: the new first volume is "home.1.QVA.qvnew", one
  // later volume already moved. Readers read the new archive; the next run
  // moves the rest into place.
  {
    ArchiveDescription other(temp_.DrivePath());
    other.name = W("staging");
    other.get()->ullVolumeSize = 3000;
    other.info.dwCompression = 0;
    Write(other, RandomBytes(4000, 5));
  }
  fs::rename(File("staging.1.QVA"), File("home.1.QVA.qvnew"));
  fs::rename(File("staging.2.QVA"), File("home.2.QVA"));
  EXPECT_EQ(Content(desc_), RandomBytes(4000, 5));
  EXPECT_EQ(States(desc_), (std::vector<DWORD>{QVS_MEMBER_COMPLETE}));
  CQVStorage finisher;
  ASSERT_TRUE(finisher.BeginArchive(desc_.get()));
  EXPECT_TRUE(finisher.AbandonArchive());
  EXPECT_EQ(NamesIn(temp_.path()), old);
  EXPECT_EQ(Content(desc_), RandomBytes(4000, 5));
}

TEST_F(ReplacementTest, ChainMembersAreToldApartWithoutThePassword) {
  desc_.password = W("pw");
  Write(desc_, TextBytes(100));
  Write(desc_, TextBytes(200), true);
  Write(desc_, TextBytes(300), true);
  Write(desc_, TextBytes(400), true);
  EXPECT_EQ(States(desc_), (std::vector<DWORD>(4, QVS_MEMBER_COMPLETE)));
  const std::vector<QVS_MEMBER_STATE> members = Inspect(desc_);
  EXPECT_EQ(U8(members[2].szPath), U8(temp_.DrivePath() + W("\\home.I2.QVA")));

  // I3 as a run of an earlier version left it when it died: its header,
  // written when it began, points at no closing record.
  Bytes third = ReadAll(File("home.I3.QVA"));
  std::fill(third.begin() + 181, third.begin() + 197, 0);
  WriteAll(File("home.I3.QVA"), third);
  EXPECT_EQ(States(desc_).back(), static_cast<DWORD>(QVS_MEMBER_INCOMPLETE));
  // I2's closing record damaged: it ended, but cannot be read.
  Bytes second = ReadAll(File("home.I2.QVA"));
  second[second.size() - 3] ^= 0x40;
  WriteAll(File("home.I2.QVA"), second);
  EXPECT_EQ(States(desc_), (std::vector<DWORD>{QVS_MEMBER_COMPLETE, QVS_MEMBER_COMPLETE, QVS_MEMBER_DAMAGED,
                                                QVS_MEMBER_INCOMPLETE}));
  // I1 replaced by another archive's increment; a gap at I5.
  ArchiveDescription other(temp_.DrivePath());
  other.name = W("other");
  Write(other, TextBytes(10));
  Write(other, TextBytes(20), true);
  fs::remove(File("home.I1.QVA"));
  fs::copy_file(File("other.I1.QVA"), File("home.I1.QVA"));
  fs::copy_file(File("home.I3.QVA"), File("home.I6.QVA"));
  EXPECT_EQ(States(desc_), (std::vector<DWORD>{QVS_MEMBER_COMPLETE, QVS_MEMBER_FOREIGN, QVS_MEMBER_DAMAGED,
                                                QVS_MEMBER_INCOMPLETE, QVS_MEMBER_MISSING, QVS_MEMBER_MISSING,
                                                QVS_MEMBER_FOREIGN}));
  ArchiveDescription none(temp_.DrivePath());
  none.name = W("none");
  EXPECT_TRUE(Inspect(none).empty());
}

// A new increment takes the place of a last member whose run never ended;
// a chain broken before its end takes none.
TEST_F(ReplacementTest, NextIncrementReplacesAnUnfinishedLastMemberAndRefusesABrokenChain) {
  Write(desc_, TextBytes(100));
  Write(desc_, TextBytes(200), true);
  // I1 copied under another member's number, as a member of the chain.
  const auto copyOfFirstAs = [this](DWORD number, bool ended) {
    Bytes member = ReadAll(File("home.I1.QVA"));
    member[24] = static_cast<BYTE>(number);
    if (!ended) std::fill(member.begin() + 181, member.begin() + 189, 0);
    WriteAll(File("home.I" + std::to_string(number) + ".QVA"), member);
  };
  copyOfFirstAs(2, false);
  ASSERT_EQ(States(desc_), (std::vector<DWORD>{QVS_MEMBER_COMPLETE, QVS_MEMBER_COMPLETE, QVS_MEMBER_INCOMPLETE}));
  Write(desc_, TextBytes(300), true);
  EXPECT_EQ(States(desc_), (std::vector<DWORD>(3, QVS_MEMBER_COMPLETE)));
  EXPECT_EQ(Content(desc_, 2), TextBytes(300));

  // Unfinished, yet followed by another member: nothing is written.
  copyOfFirstAs(3, false);
  copyOfFirstAs(4, true);
  const std::vector<std::string> before = NamesIn(temp_.path());
  CQVStorage refused;
  desc_.get()->dwFlags |= QVS_FLAG_INCREMENTAL;
  EXPECT_FALSE(refused.BeginArchive(&desc_.info));
  EXPECT_EQ(refused.GetError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(NamesIn(temp_.path()), before);
}

// A full backup of the name removes the chain it replaces once in place,
// and its header lists the chain's identifier: a member of it left beside
// the new base (the run died before removing it) is never read as the new
// chain's, and the next run removes it.
TEST_F(ReplacementTest, NewBaseRemovesTheChainItReplacesAndDisownsWhatIsLeftOfIt) {
  Write(desc_, TextBytes(100));
  Write(desc_, TextBytes(200), true);
  Write(desc_, TextBytes(300), true);
  const Bytes oldIncrement = ReadAll(File("home.I2.QVA"));
  const Bytes oldIdentifier(oldIncrement.begin() + 8, oldIncrement.begin() + 24);
  CQVStorage full;
  ASSERT_TRUE(full.BeginArchive(desc_.get()));
  Bytes data = TextBytes(400);
  ASSERT_TRUE(full.CreateBlock(data.data(), 400, 0));
  ASSERT_TRUE(EndWithClosingRecord(full));
  ASSERT_TRUE(full.CloseArchive());
  EXPECT_EQ(NamesIn(temp_.path()), (std::vector<std::string>{"home.QVA"}));
  ASSERT_EQ(full.GetRemovedFileCount(), 2u);
  DWORD reason = 0;
  EXPECT_NE(full.GetRemovedFile(1, &reason), nullptr);
  EXPECT_EQ(reason, static_cast<DWORD>(QVS_REMOVED_REPLACED));
  const Bytes base = ReadAll(File("home.QVA"));
  EXPECT_EQ(base[53], 1);
  EXPECT_EQ(Bytes(base.begin() + 54, base.begin() + 70), oldIdentifier);

  // The old I2 beside the new base, as a run that died before removing it
  // leaves it; and an increment of an archive nobody replaced.
  WriteAll(File("home.I2.QVA"), oldIncrement);
  EXPECT_EQ(States(desc_), (std::vector<DWORD>{QVS_MEMBER_COMPLETE, QVS_MEMBER_MISSING, QVS_MEMBER_REPLACED}));
  Write(desc_, TextBytes(500), true);
  EXPECT_EQ(NamesIn(temp_.path()), (std::vector<std::string>{"home.I1.QVA", "home.QVA"}));
  EXPECT_EQ(Content(desc_, 1), TextBytes(500));
}

TEST_F(ReplacementTest, OneWriterAtATimeAndTheLockGoesWithIt) {
  CQVStorage first;
  ASSERT_TRUE(first.BeginArchive(desc_.get()));
  CQVStorage second;
  EXPECT_FALSE(second.BeginArchive(desc_.get()));
  EXPECT_EQ(second.GetError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_NE(U8(second.GetLockHolder()).find("process "), std::string::npos) << U8(second.GetLockHolder());
  EXPECT_NE(U8(second.GetLockHolder()).find(" UTC"), std::string::npos);
  EXPECT_FALSE(fs::exists(File("home.QVA")));
  // Another archive in the same folder is another lock.
  ArchiveDescription other(temp_.DrivePath());
  other.name = W("other");
  CQVStorage third;
  EXPECT_TRUE(third.BeginArchive(other.get()));
  EXPECT_TRUE(third.AbandonArchive());
  Bytes data = TextBytes(10);
  ASSERT_TRUE(first.CreateBlock(data.data(), 10, 0));
  ASSERT_TRUE(EndWithClosingRecord(first));
  ASSERT_TRUE(first.CloseArchive());
  EXPECT_FALSE(fs::exists(File("home.qvlock")));
  ASSERT_TRUE(second.BeginArchive(desc_.get())) << second.GetError();
  EXPECT_TRUE(second.AbandonArchive());

  // A host's own lock spans its runs: others stay out until it lets go.
  CQVStorage host;
  ASSERT_TRUE(host.LockArchive(desc_.get()));
  ASSERT_TRUE(host.BeginArchive(desc_.get()));
  ASSERT_TRUE(host.CloseArchive());
  EXPECT_FALSE(second.LockArchive(desc_.get()));
  EXPECT_EQ(second.GetError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_TRUE(host.UnlockArchive());
  EXPECT_TRUE(second.LockArchive(desc_.get()));
}

}  // namespace
}  // namespace qvtest
