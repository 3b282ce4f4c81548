// An increment's record of which items of earlier members still exist, its
// way through a real archive beside the metadata table, with and without a
// password, and damage to it.
#include <gtest/gtest.h>

#include <vector>

#include "control/control_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

bool SameEntries(const std::vector<QVBC_KEPT_ENTRY>& a, const std::vector<QVBC_KEPT_ENTRY>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].dwMember != b[i].dwMember || a[i].dwEntry != b[i].dwEntry) return false;
  }
  return true;
}

class ChainStateArchive : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) desc_.password = W("pit of time");
    desc_.info.dwFlags = QVS_FLAG_INCREMENTAL;
  }
  void Backup(const std::vector<fs::path>& files, const std::vector<QVBC_KEPT_ENTRY>* kept) {
    CQVBackupControl control;
    ASSERT_TRUE(control.BeginBackup(desc_.get())) << GetLastError();
    for (const fs::path& file : files) EXPECT_TRUE(control.AddFileToArchive(DrivePathOf(file).c_str()));
    if (kept != nullptr) {
      ASSERT_TRUE(control.SetKeptEntries(kept->data(), static_cast<DWORD>(kept->size())));
    }
    ASSERT_TRUE(control.EndBackup()) << GetLastError();
  }
  // Loads member `member`'s index into `control`.
  void Load(DWORD member, CQVBackupControl& control) {
    QVS_ARCHIVE_INFO info = *desc_.get();
    info.dwFlags = 0;
    info.dwIncrementToOpen = member;
    ASSERT_TRUE(control.GetStorage().OpenArchive(&info)) << control.GetStorage().GetError();
    ASSERT_TRUE(control.LoadArchiveIndex()) << GetLastError();
  }
  static std::vector<QVBC_KEPT_ENTRY> Kept(const CQVBackupControl& control) {
    const QVBC_KEPT_ENTRY* entries = nullptr;
    const DWORD count = control.GetKeptEntries(&entries);
    return std::vector<QVBC_KEPT_ENTRY>(entries, entries + count);
  }

  TempDir sources_, archives_;
  ArchiveDescription desc_{archives_.DrivePath()};
};

TEST_P(ChainStateArchive, IncrementsKeepTheirRecordAndTheBaseHasNone) {
  const fs::path a = sources_.WriteFile("a.txt", 3000);
  const fs::path b = sources_.WriteFile("b.txt", 70000);
  Backup({a, b}, nullptr);
  CQVBackupControl base;
  Load(0, base);
  EXPECT_FALSE(base.HasChainState());
  EXPECT_EQ(base.GetChainStateError(), 0u);
  const DWORD entryA = base.GetIndex().Add(DrivePathOf(a).c_str(), nullptr, QVFA_ADD_LOOKUP | QVFA_ADD_EXACT_CASE);
  ASSERT_NE(entryA, 0u);
  base.GetStorage().CloseArchive();

  // Increment 1 saves b again and keeps a; increment 2 keeps nothing.
  const std::vector<QVBC_KEPT_ENTRY> kept = {{0, entryA}};
  Backup({b}, &kept);
  const std::vector<QVBC_KEPT_ENTRY> nothing;
  Backup({}, &nothing);

  CQVBackupControl first;
  Load(1, first);
  EXPECT_TRUE(first.HasChainState());
  EXPECT_EQ(first.GetChainStateError(), 0u);
  EXPECT_TRUE(SameEntries(Kept(first), kept));
  EXPECT_EQ(first.GetMetadataError(), 0u) << "the metadata table is still found beside the record";
  CQVBackupControl second;
  Load(2, second);
  EXPECT_TRUE(second.HasChainState()) << "a record of no items still says the rest is gone";
  EXPECT_TRUE(Kept(second).empty());
}

TEST_P(ChainStateArchive, ADamagedRecordIsToldNotTakenForNone) {
  const fs::path a = sources_.WriteFile("a.txt", 3000);
  Backup({a}, nullptr);
  const std::vector<QVBC_KEPT_ENTRY> kept = {{0, 86}};
  const fs::path b = sources_.WriteFile("b.txt", 100);
  Backup({b}, &kept);
  // The record's first block follows b's content; flip a byte of its
  // payload (found by its kind word, 5, in its block header).
  const fs::path increment = archives_.path() / "home.I1.QVA";
  Bytes bytes = ReadAll(increment);
  std::size_t at = 0;
  for (std::size_t i = 246; i + 14 < bytes.size(); ++i) {
    const unsigned kind = bytes[i + 4] | (bytes[i + 5] << 8);
    if ((kind & 0x0FFF) == 5 && (kind & 0xC000) == 0) {
      const DWORD stored = bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16 | bytes[i + 3] << 24;
      if (stored != 0 && stored < 4096 && i + 14 + stored <= bytes.size()) {
        at = i + 14 + stored / 2;
        break;
      }
    }
  }
  ASSERT_NE(at, 0u) << "no block of the record found";
  bytes[at] ^= 0x40;
  WriteAll(increment, bytes);
  CQVBackupControl control;
  Load(1, control);
  EXPECT_FALSE(control.HasChainState());
  EXPECT_NE(control.GetChainStateError(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Plain, ChainStateArchive, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(Encrypted, ChainStateArchive, ::testing::Values(true));

}  // namespace
}  // namespace qvtest
