// On POSIX two names that differ in letter case are two files: an archive
// "work" is not "Work", in its members, its replacement and its clean-up.
#include <gtest/gtest.h>

#include "storage/storage_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

void WriteMember(ArchiveDescription& desc, const Bytes& content, bool incremental) {
  CQVStorage storage;
  if (incremental) desc.get()->dwFlags |= QVS_FLAG_INCREMENTAL;
  ASSERT_TRUE(storage.BeginArchive(desc.get())) << storage.GetError();
  desc.info.dwFlags &= ~static_cast<DWORD>(QVS_FLAG_INCREMENTAL);
  ASSERT_TRUE(storage.CreateBlock(content.data(), static_cast<DWORD>(content.size()), 0));
  ASSERT_TRUE(EndWithClosingRecord(storage));
  ASSERT_TRUE(storage.CloseArchive());
}

TEST(ArchiveNamesPosixTest, NamesDifferingInCaseAreOtherArchives) {
  TempDir temp;
  ArchiveDescription upper(temp.DrivePath());
  upper.name = W("Work");
  WriteMember(upper, TextBytes(100), false);
  WriteMember(upper, TextBytes(200), true);
  const Bytes base = ReadAll(temp.path() / "Work.QVA");
  const Bytes increment = ReadAll(temp.path() / "Work.I1.QVA");

  ArchiveDescription lower(temp.DrivePath());
  lower.name = W("work");
  CQVStorage probe;
  EXPECT_EQ(probe.InspectChain(lower.get(), nullptr, 0), 0u);
  WriteMember(lower, TextBytes(300), true);  // no base of its own: a new one
  EXPECT_TRUE(fs::exists(temp.path() / "work.QVA"));
  WriteMember(lower, TextBytes(400), true);
  EXPECT_TRUE(fs::exists(temp.path() / "work.I1.QVA"));
  WriteMember(lower, TextBytes(500), false);  // a full backup of "work" replaces only its own chain
  EXPECT_FALSE(fs::exists(temp.path() / "work.I1.QVA"));
  EXPECT_EQ(ReadAll(temp.path() / "Work.QVA"), base);
  EXPECT_EQ(ReadAll(temp.path() / "Work.I1.QVA"), increment);
  // Both lock on their own.
  CQVStorage one;
  CQVStorage two;
  EXPECT_TRUE(one.LockArchive(lower.get()));
  EXPECT_TRUE(two.LockArchive(upper.get()));
}

}  // namespace
}  // namespace qvtest
