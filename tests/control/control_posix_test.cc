// A file whose backup fails after its record was written, between good
// files: every good file still comes back with its own bytes.
#include <gtest/gtest.h>

#include <algorithm>

#include "control/control_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

TEST(ControlPosixTest, FileFailingHalfWayLeavesTheOthersTheirOwnBytes) {
  TempDir sources, archives, restored;
  fs::path first = sources.WriteFile("first.bin", 5000);
  fs::path last = sources.WriteFile("last.bin", 7000);
  ArchiveDescription desc(archives.DrivePath());
  CQVBackupControl control;
  ASSERT_TRUE(control.BeginBackup(desc.get()));
  ASSERT_TRUE(control.AddFileToArchive(DrivePathOf(first).c_str()));
  // This file opens and has a name and a size, but reading it fails: its
  // record is in the stream, its data never comes.
  EXPECT_FALSE(control.AddFileToArchive(QVT("C:\\proc\\self\\mem")));
  ASSERT_TRUE(control.AddFileToArchive(DrivePathOf(last).c_str()));
  ASSERT_TRUE(control.EndBackup());

  RestoreAll(desc, restored);
  EXPECT_EQ(ReadAll(RestoredPath(restored.path(), DrivePathOf(first))), ReadAll(first));
  EXPECT_EQ(ReadAll(RestoredPath(restored.path(), DrivePathOf(last))), ReadAll(last));
  EXPECT_FALSE(fs::exists(restored.path() / "Kelvar_C" / "proc"));
}

// "work" and "Work" are two archives here: cleaning one leaves the other.
TEST(ControlPosixTest, CleanArchiveTakesOnlyTheNameAsSpelled) {
  TempDir archives;
  for (const char* name : {"Work.QVA", "Work.I1.QVA", "work.QVA", "work.I1.QVA", "WORK.2.QVA"}) {
    WriteAll(archives.path() / name, TextBytes(10));
  }
  CQVBackupControl control;
  control.CleanArchive(archives.DrivePath().c_str(), W("work").c_str());
  std::vector<std::string> left;
  for (const auto& item : fs::directory_iterator(archives.path())) left.push_back(item.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"WORK.2.QVA", "Work.I1.QVA", "Work.QVA"}));
}

}  // namespace
}  // namespace qvtest
