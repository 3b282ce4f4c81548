// A chain written anew in place of another: nothing of it is read before
// the commit, an increment staged with a base that never took its place is
// no member, the old chain's files go once the new chain is in place; and
// the time each member records.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "storage/storage_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

class ChainRewriteTest : public ::testing::Test {
 protected:
  // Writes one member of `content` with `storage` (begun by the caller's
  // description: increment and flags).
  static void WriteMember(CQVStorage& storage, QVS_ARCHIVE_INFO* info, const Bytes& content) {
    ASSERT_TRUE(storage.BeginArchive(info)) << storage.GetError();
    ASSERT_TRUE(storage.CreateBlock(content.data(), static_cast<DWORD>(content.size()), 0));
    ASSERT_TRUE(EndWithClosingRecord(storage));
    ASSERT_TRUE(storage.CloseArchive()) << storage.GetError();
  }
  // The old chain: a base and two increments.
  void WriteOldChain() {
    for (DWORD member = 0; member < 3; ++member) {
      CQVStorage storage;
      QVS_ARCHIVE_INFO info = *desc_.get();
      info.dwFlags = member == 0 ? 0 : QVS_FLAG_INCREMENTAL;
      WriteMember(storage, &info, RandomBytes(3000, 10 + member));
    }
  }
  // Stages a new chain of `members` members in `storage`, which holds the lock.
  void StageNewChain(CQVStorage& storage, DWORD members) {
    ASSERT_TRUE(storage.LockArchive(desc_.get())) << storage.GetError();
    ASSERT_TRUE(storage.BeginChainRewrite()) << storage.GetError();
    for (DWORD member = 0; member < members; ++member) {
      QVS_ARCHIVE_INFO info = *desc_.get();
      info.dwIncrementToOpen = member;
      WriteMember(storage, &info, RandomBytes(2000, 100 + member));
    }
  }
  Bytes Content(DWORD increment) {
    CQVStorage reader;
    QVS_ARCHIVE_INFO info = *desc_.get();
    info.dwIncrementToOpen = increment;
    if (!reader.OpenArchive(&info)) return Bytes();
    return BlockAt(reader, QVS_HEADER_SIZE);
  }
  std::vector<DWORD> States() {
    CQVStorage probe;
    std::vector<QVS_MEMBER_STATE> states(16);
    const DWORD count = probe.InspectChain(desc_.get(), states.data(), static_cast<DWORD>(states.size()));
    std::vector<DWORD> result;
    for (DWORD i = 0; i < count && i < states.size(); ++i) result.push_back(states[i].dwState);
    return result;
  }
  fs::path File(const std::string& name) const { return temp_.path() / name; }

  TempDir temp_;
  ArchiveDescription desc_{temp_.DrivePath()};
};

TEST_F(ChainRewriteTest, NewChainTakesThePlaceOfTheOldOnlyAtItsCommit) {
  WriteOldChain();
  CQVStorage storage;
  StageNewChain(storage, 2);
  // Staged: the old chain is what readers see.
  EXPECT_TRUE(fs::exists(File("home.QVA.qvtmp")));
  EXPECT_TRUE(fs::exists(File("home.I1.QVA.qvtmp")));
  EXPECT_EQ(Content(0), RandomBytes(3000, 10));
  EXPECT_EQ(Content(2), RandomBytes(3000, 12));
  ASSERT_TRUE(storage.CommitChainRewrite()) << storage.GetError();
  EXPECT_EQ(NamesIn(temp_.path()), (std::vector<std::string>{"home.I1.QVA", "home.QVA", "home.qvlock"}));
  EXPECT_EQ(Content(0), RandomBytes(2000, 100));
  EXPECT_EQ(Content(1), RandomBytes(2000, 101));
  EXPECT_EQ(States(), (std::vector<DWORD>{QVS_MEMBER_COMPLETE, QVS_MEMBER_COMPLETE}));
  // The old increment past the new end went, told as replaced.
  ASSERT_GE(storage.GetRemovedFileCount(), 1u);
  DWORD reason = 0;
  const std::string removed = U8(storage.GetRemovedFile(0, &reason));
  EXPECT_EQ(removed.substr(removed.size() - 12), "\\home.I2.QVA") << removed;
  EXPECT_EQ(reason, static_cast<DWORD>(QVS_REMOVED_REPLACED));
  ASSERT_TRUE(storage.UnlockArchive());
}

TEST_F(ChainRewriteTest, AbandonedOrUnlockedRewriteLeavesTheOldChainAlone) {
  WriteOldChain();
  const Bytes base = ReadAll(File("home.QVA"));
  {
    CQVStorage unlocked;
    EXPECT_FALSE(unlocked.BeginChainRewrite());
    EXPECT_EQ(unlocked.GetError(), static_cast<DWORD>(ERROR_INVALID_STATE));
    CQVStorage storage;
    StageNewChain(storage, 3);
    EXPECT_FALSE(storage.BeginChainRewrite());  // one at a time
    ASSERT_TRUE(storage.AbandonChainRewrite());
    EXPECT_FALSE(storage.CommitChainRewrite());
  }
  {
    // Given up by the object's end too.
    CQVStorage storage;
    StageNewChain(storage, 2);
  }
  EXPECT_EQ(NamesIn(temp_.path()),
            (std::vector<std::string>{"home.I1.QVA", "home.I2.QVA", "home.QVA"}));
  EXPECT_EQ(ReadAll(File("home.QVA")), base);
  // A member out of order is refused.
  CQVStorage storage;
  ASSERT_TRUE(storage.LockArchive(desc_.get()));
  ASSERT_TRUE(storage.BeginChainRewrite());
  QVS_ARCHIVE_INFO info = *desc_.get();
  info.dwIncrementToOpen = 1;
  EXPECT_FALSE(storage.BeginArchive(&info));
  EXPECT_EQ(storage.GetError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// A run that died between staging the increments as ".qvnew" and the base:
// those files are no members of the old chain, and the next run removes
// them. One that died after the base's rename: the new chain is read, and
// the next run finishes its move.
TEST_F(ChainRewriteTest, StagedIncrementsCountOnlyWithTheirBase) {
  WriteOldChain();
  {
    CQVStorage storage;
    StageNewChain(storage, 2);
    // What the commit does first, by hand, and then the run "dies".
    fs::rename(File("home.I1.QVA.qvtmp"), File("home.I1.QVA.qvnew"));
    fs::copy_file(File("home.I1.QVA.qvnew"), File("keep.I1"));
    fs::copy_file(File("home.QVA.qvtmp"), File("keep.base"));
  }
  // The object's end removed its own staged files; put the increment back
  // as the dead run would have left it.
  fs::copy_file(File("keep.I1"), File("home.I1.QVA.qvnew"));
  EXPECT_EQ(Content(1), RandomBytes(3000, 11));
  EXPECT_EQ(States(), (std::vector<DWORD>{QVS_MEMBER_COMPLETE, QVS_MEMBER_COMPLETE, QVS_MEMBER_COMPLETE}));
  CQVStorage cleaner;
  ASSERT_TRUE(cleaner.ClearLeftovers(desc_.get())) << cleaner.GetError();
  EXPECT_FALSE(fs::exists(File("home.I1.QVA.qvnew")));
  EXPECT_EQ(Content(1), RandomBytes(3000, 11));

  // Now with the base committed too.
  fs::copy_file(File("keep.I1"), File("home.I1.QVA.qvnew"));
  fs::copy_file(File("keep.base"), File("home.QVA.qvnew"));
  EXPECT_EQ(Content(0), RandomBytes(2000, 100));
  EXPECT_EQ(Content(1), RandomBytes(2000, 101));
  EXPECT_EQ(States(), (std::vector<DWORD>{QVS_MEMBER_COMPLETE, QVS_MEMBER_COMPLETE, QVS_MEMBER_REPLACED}));
  ASSERT_TRUE(cleaner.ClearLeftovers(desc_.get())) << cleaner.GetError();
  fs::remove(File("keep.I1"));
  fs::remove(File("keep.base"));
  EXPECT_EQ(NamesIn(temp_.path()), (std::vector<std::string>{"home.I1.QVA", "home.QVA"}));
  EXPECT_EQ(Content(1), RandomBytes(2000, 101));
}

TEST_F(ChainRewriteTest, MembersRecordWhenTheyWereMadeAndARewriteKeepsAGivenTime) {
  const LONGLONG before = static_cast<LONGLONG>(std::time(nullptr));
  WriteOldChain();
  const LONGLONG after = static_cast<LONGLONG>(std::time(nullptr));
  CQVStorage reader;
  ASSERT_TRUE(reader.OpenArchive(desc_.get()));
  const LONGLONG made = reader.GetMemberTime();
  EXPECT_GE(made, before);
  EXPECT_LE(made, after);
  ASSERT_TRUE(reader.AbandonArchive());
  const Bytes header = ReadAll(File("home.QVA"));
  EXPECT_EQ(static_cast<LONGLONG>(Qword(header, 213)), made);

  CQVStorage storage;
  ASSERT_TRUE(storage.LockArchive(desc_.get()));
  ASSERT_TRUE(storage.BeginChainRewrite());
  QVS_ARCHIVE_INFO info = *desc_.get();
  ASSERT_TRUE(storage.BeginArchive(&info));
  ASSERT_TRUE(storage.SetMemberTime(1234567890));
  const Bytes content = TextBytes(500);
  ASSERT_TRUE(storage.CreateBlock(content.data(), 500, 0));
  ASSERT_TRUE(EndWithClosingRecord(storage));
  ASSERT_TRUE(storage.CloseArchive());
  EXPECT_FALSE(storage.SetMemberTime(1));  // nothing being written
  ASSERT_TRUE(storage.CommitChainRewrite());
  CQVStorage again;
  ASSERT_TRUE(again.OpenArchive(desc_.get()));
  EXPECT_EQ(again.GetMemberTime(), 1234567890);
  EXPECT_EQ(States(), (std::vector<DWORD>{QVS_MEMBER_COMPLETE}));
}

}  // namespace
}  // namespace qvtest
