// The fault plan itself: which calls it fails, with which error, and what a
// full disk leaves in the file.
#include <gtest/gtest.h>

#include <filesystem>

#include "faults/faults_test_util.h"

namespace {

namespace fs = std::filesystem;
using namespace qvtest;
using qv::platform::OpenMode;
using qv::platform::Sharing;
using qv::WStringView;

std::unique_ptr<qv::platform::RandomAccessFile> Open(const fs::path& path, OpenMode mode = OpenMode::kReadWriteAlways) {
  return qv::platform::OpenFile(DrivePathOf(path).c_str(), mode, Sharing::kRead);
}

TEST(FaultPlanTest, NthMatchingCallFailsWithTheChosenErrorAndOthersPass) {
  TempDir dir;
  fs::path a = dir.WriteFile("a.txt", 100);
  fs::path b = dir.WriteFile("b.txt", 100);
  FaultPlan plan;
  plan.Fail(FaultOp::kRead, W("b.txt"), ERROR_CRC, 2, 2);
  ScopedFaultInjection guard(plan);
  auto fileA = Open(a);
  auto fileB = Open(b);
  ASSERT_TRUE(fileA && fileB);
  BYTE buffer[10];
  DWORD read = 0;
  EXPECT_TRUE(fileB->Read(buffer, 10, &read));
  for (int i = 0; i < 2; ++i) {
    SetLastError(0);
    EXPECT_FALSE(fileB->Read(buffer, 10, &read));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CRC));
    EXPECT_EQ(read, 0u);
  }
  // Past its window, and on another path, the rule lets reads through; a
  // failed read did not move the position.
  EXPECT_TRUE(fileB->Read(buffer, 10, &read));
  ULONGLONG position = 0;
  EXPECT_TRUE(fileB->Tell(&position));
  EXPECT_EQ(position, 20u);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(fileA->Read(buffer, 10, &read));
  EXPECT_EQ(plan.Injected(), 2u);
}

TEST(FaultPlanTest, BudgetWritesWhatFitsThenFailsAsAFullDisk) {
  TempDir dir;
  fs::path path = dir.path() / "out.bin";
  FaultPlan plan;
  plan.LimitWrites(10, W("out.bin"));
  ScopedFaultInjection guard(plan);
  auto file = Open(path);
  ASSERT_TRUE(file);
  const Bytes data = TextBytes(8);
  EXPECT_TRUE(file->Write(data.data(), 6));
  SetLastError(0);
  EXPECT_FALSE(file->Write(data.data(), 8));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_FALSE(file->Write(data.data(), 1));
  Bytes expected(data.begin(), data.begin() + 6);
  expected.insert(expected.end(), data.begin(), data.begin() + 4);  // what fitted of the crossing write
  EXPECT_EQ(ReadAll(path), expected);
  // Rewriting bytes the file holds takes no room.
  ASSERT_TRUE(file->Seek(2));
  EXPECT_TRUE(file->Write(data.data(), 8));
  file.reset();
  EXPECT_EQ(fs::file_size(path), 10u);
}

TEST(FaultPlanTest, BudgetWithoutPartialWritesLeavesNothingOfTheCrossingWrite) {
  TempDir dir;
  fs::path path = dir.path() / "out.bin";
  FaultPlan plan;
  plan.LimitWrites(5, WStringView(), false);
  ScopedFaultInjection guard(plan);
  auto file = Open(path);
  ASSERT_TRUE(file);
  const Bytes data = TextBytes(8);
  EXPECT_FALSE(file->Write(data.data(), 8));
  EXPECT_TRUE(file->Write(data.data(), 5));
  EXPECT_FALSE(file->Write(data.data(), 1));
  file.reset();
  EXPECT_EQ(ReadAll(path), Bytes(data.begin(), data.begin() + 5));
}

TEST(FaultPlanTest, OpenDeleteRenameSeekAndTruncateFailAndChangeNothing) {
  TempDir dir;
  fs::path a = dir.WriteFile("a.txt", 30);
  FaultPlan plan;
  plan.Fail(FaultOp::kOpen, W("new.txt"), ERROR_ACCESS_DENIED, 1, 0)
      .Fail(FaultOp::kDelete, W("a.txt"), ERROR_SHARING_VIOLATION)
      .Fail(FaultOp::kRename, W("a.txt"), ERROR_WRITE_PROTECT)
      .Fail(FaultOp::kSeek, W("a.txt"), ERROR_SEEK)
      .Fail(FaultOp::kTruncate, W("a.txt"), ERROR_WRITE_FAULT);
  ScopedFaultInjection guard(plan);
  EXPECT_EQ(Open(dir.path() / "new.txt"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(fs::exists(dir.path() / "new.txt"));
  EXPECT_EQ(qv::platform::CreateWritableFile(DrivePathOf(dir.path() / "new.txt").c_str()), nullptr);
  EXPECT_FALSE(qv::platform::RemoveFile(DrivePathOf(a).c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(qv::platform::RenameFile(DrivePathOf(a).c_str(), DrivePathOf(dir.path() / "b.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_PROTECT));
  {
    auto file = Open(a, OpenMode::kReadWriteExisting);
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->Seek(10));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEEK));
    EXPECT_FALSE(file->Truncate());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT));
  }
  EXPECT_EQ(fs::file_size(a), 30u);
  EXPECT_FALSE(fs::exists(dir.path() / "b.txt"));
  // The open rule fired twice, the others once: the second delete goes
  // through.
  EXPECT_EQ(plan.Injected(), 6u);
  EXPECT_TRUE(qv::platform::RemoveFile(DrivePathOf(a).c_str()));
}

TEST(FaultPlanTest, FilesOpenedWithoutAPlanAndPlansRemovedStayPlain) {
  TempDir dir;
  fs::path a = dir.WriteFile("a.txt", 30);
  auto before = Open(a, OpenMode::kReadExisting);
  ASSERT_TRUE(before);
  FaultPlan plan;
  plan.Fail(FaultOp::kRead, WStringView(), ERROR_CRC, 1, 0);
  BYTE buffer[10];
  DWORD read = 0;
  {
    ScopedFaultInjection guard(plan);
    EXPECT_TRUE(before->Read(buffer, 10, &read));
    auto during = Open(a, OpenMode::kReadExisting);
    ASSERT_TRUE(during);
    EXPECT_FALSE(during->Read(buffer, 10, &read));
  }
  auto after = Open(a, OpenMode::kReadExisting);
  ASSERT_TRUE(after);
  EXPECT_TRUE(after->Read(buffer, 10, &read));
  EXPECT_EQ(qv::platform::ActiveFaultPlan(), nullptr);
  EXPECT_EQ(plan.Injected(), 1u);
}

}  // namespace
