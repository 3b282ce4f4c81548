// A file whose backup fails after its record was written, between good
// files: every good file still comes back with its own bytes.
#include <gtest/gtest.h>

#include <sys/stat.h>

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

// An archive may hold files only their owner may read: its volumes, the
// first and the later ones, are their owner's only whatever the umask.
TEST(ControlPosixTest, ArchiveVolumesAreTheirOwnersOnly) {
  TempDir sources, archives;
  fs::path file = sources.WriteFile("big.bin", 300000);
  ::chmod(file.c_str(), 0600);
  const mode_t saved = ::umask(022);
  ArchiveDescription desc(archives.DrivePath());
  desc.get()->ullVolumeSize = 100000;
  desc.get()->dwCompression = 0;
  CQVBackupControl control;
  const bool begun = control.BeginBackup(desc.get()) != FALSE;
  const bool added = begun && control.AddFileToArchive(DrivePathOf(file).c_str()) != FALSE;
  const bool ended = added && control.EndBackup() != FALSE;
  ::umask(saved);
  ASSERT_TRUE(ended) << GetLastError();
  int volumes = 0;
  for (const auto& item : fs::directory_iterator(archives.path())) {
    if (item.path().extension() != ".QVA") continue;
    ++volumes;
    struct stat status {};
    ASSERT_EQ(::stat(item.path().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << item.path();
  }
  EXPECT_GE(volumes, 3);
}

}  // namespace
}  // namespace qvtest
