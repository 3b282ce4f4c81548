// What the platform layer reads and gives back of POSIX metadata, checked
// against the system's own view (stat, readlink, getxattr).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>

#include "common/test_util.h"
#include "platform/posix_metadata.h"
#include "platform/random_access_file.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;
using qv::platform::ItemType;
using qv::platform::PosixMetadata;

struct stat Lstat(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status;
}

bool XattrsWork(const fs::path& path) {
  return ::setxattr(path.c_str(), "user.qvtest", "1", 1, 0) == 0 && ::removexattr(path.c_str(), "user.qvtest") == 0;
}

TEST(PosixMetadataTest, ReadsWhatTheSystemKeepsAndGivesItBack) {
  TempDir temp;
  fs::path file = temp.WriteFile("f.bin", 10);
  ASSERT_EQ(::chmod(file.c_str(), 02741), 0);
  const bool xattrs = XattrsWork(file);
  if (xattrs) {
    ASSERT_EQ(::setxattr(file.c_str(), "user.note", "hello", 5, 0), 0);
  }
  struct timespec times[2] = {{1000000000, 5}, {1200000000, 987654321}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);

  PosixMetadata read;
  ASSERT_TRUE(qv::platform::ReadPosixMetadata(DrivePathOf(file).c_str(), &read)) << GetLastError();
  const struct stat status = Lstat(file);
  EXPECT_EQ(read.type, ItemType::kFile);
  EXPECT_EQ(read.mode, status.st_mode & 07777u);
  EXPECT_EQ(read.uid, status.st_uid);
  EXPECT_EQ(read.gid, status.st_gid);
  EXPECT_EQ(read.modifiedSeconds, 1200000000);
  EXPECT_EQ(read.modifiedNanoseconds, 987654321u);
  EXPECT_EQ(read.accessedSeconds, 1000000000);
  EXPECT_EQ(read.accessedNanoseconds, 5u);
  EXPECT_EQ(read.inode, status.st_ino);
  EXPECT_EQ(read.links, 1u);
  if (xattrs) {
    ASSERT_EQ(read.attributes.size(), 1u);
    EXPECT_EQ(read.attributes[0].name, "user.note");
    EXPECT_EQ(std::string(read.attributes[0].value.begin(), read.attributes[0].value.end()), "hello");
  }

  // Another file given all of it.
  fs::path other = temp.WriteFile("g.bin", 3);
  EXPECT_EQ(qv::platform::ApplyPosixMetadata(DrivePathOf(other).c_str(), read, true), 0u);
  const struct stat given = Lstat(other);
  EXPECT_EQ(given.st_mode & 07777u, status.st_mode & 07777u);
  EXPECT_EQ(given.st_mtim.tv_sec, 1200000000);
  EXPECT_EQ(given.st_mtim.tv_nsec, 987654321);
  EXPECT_EQ(given.st_atim.tv_nsec, 5);
  if (xattrs) {
    char value[16] = {};
    EXPECT_EQ(::getxattr(other.c_str(), "user.note", value, sizeof(value)), 5);
    EXPECT_STREQ(value, "hello");
  }
}

TEST(PosixMetadataTest, LinksAreReadAsLinksAndMadeAsLinks) {
  TempDir temp;
  temp.WriteFile("target", 4);
  const std::string text = "../no where/\x01\xfe";
  fs::path link = temp.path() / "link";
  ASSERT_EQ(::symlink(text.c_str(), link.c_str()), 0);
  PosixMetadata read;
  ASSERT_TRUE(qv::platform::ReadPosixMetadata(DrivePathOf(link).c_str(), &read));
  EXPECT_EQ(read.type, ItemType::kSymbolicLink);
  EXPECT_EQ(read.linkTarget, text);

  const WString made = DrivePathOf(temp.path()) + W("\\made");
  ASSERT_TRUE(qv::platform::CreateSymbolicLink(made.c_str(), text)) << GetLastError();
  char buffer[64] = {};
  EXPECT_EQ(::readlink((temp.path() / "made").c_str(), buffer, sizeof(buffer)), static_cast<ssize_t>(text.size()));
  EXPECT_EQ(std::string(buffer), text);
  EXPECT_FALSE(qv::platform::CreateSymbolicLink(made.c_str(), text));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  // Times of the link itself, never of what it names.
  read.modifiedSeconds = 1100000000;
  read.modifiedNanoseconds = 1;
  EXPECT_EQ(qv::platform::ApplyPosixMetadata(made.c_str(), read, true), 0u);
  EXPECT_EQ(Lstat(temp.path() / "made").st_mtim.tv_sec, 1100000000);
  EXPECT_NE(Lstat(temp.path() / "target").st_mtim.tv_sec, 1100000000);

  // A folder and a hard link.
  temp.MakeDir("d");
  ASSERT_TRUE(qv::platform::ReadPosixMetadata(DrivePathOf(temp.path() / "d").c_str(), &read));
  EXPECT_EQ(read.type, ItemType::kFolder);
  const WString second = DrivePathOf(temp.path()) + W("\\second");
  ASSERT_TRUE(qv::platform::CreateHardLink(DrivePathOf(temp.path() / "target").c_str(), second.c_str()));
  EXPECT_EQ(Lstat(temp.path() / "second").st_ino, Lstat(temp.path() / "target").st_ino);
  ASSERT_TRUE(qv::platform::ReadPosixMetadata(second.c_str(), &read));
  EXPECT_EQ(read.links, 2u);
}

TEST(PosixMetadataTest, WhatCannotBeGivenIsTold) {
  TempDir temp;
  fs::path file = temp.WriteFile("f", 1);
  PosixMetadata item;
  item.type = ItemType::kFile;
  item.mode = 0640;
  item.attributes = {{"user.ok", {'1'}}, {"trusted.or.not", {'2'}}, {"nonsense", {'3'}}};
  const DWORD missed = qv::platform::ApplyPosixMetadata(DrivePathOf(file).c_str(), item, false);
  // Only user.* attributes that fail count; the others are given where the
  // process may.
  EXPECT_EQ(missed & ~qv::platform::kMetadataAttributesNotSet, 0u);
  EXPECT_EQ((missed & qv::platform::kMetadataAttributesNotSet) != 0, !XattrsWork(file));
  EXPECT_EQ(Lstat(file).st_mode & 07777u, 0640u);
  const WString missing = DrivePathOf(temp.path()) + W("\\missing");
  EXPECT_NE(qv::platform::ApplyPosixMetadata(missing.c_str(), item, true) & qv::platform::kMetadataModeNotSet, 0u);
  PosixMetadata none;
  EXPECT_FALSE(qv::platform::ReadPosixMetadata(missing.c_str(), &none));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A file of this process's user with `mode` and times of its own.
PosixMetadata OwnFile(DWORD mode) {
  PosixMetadata item;
  item.type = ItemType::kFile;
  item.mode = mode;
  item.uid = ::geteuid();
  item.gid = ::getegid();
  item.modifiedSeconds = 1300000000;
  item.modifiedNanoseconds = 123456789;
  item.accessedSeconds = 1250000000;
  item.accessedNanoseconds = 7;
  return item;
}

// Given through an open file, the metadata goes to that file whatever
// its name has become, and nothing now under its old name is touched.
TEST(PosixMetadataTest, AnOpenFileGetsItWhereverItsNameWent) {
  TempDir temp;
  fs::path made = temp.WriteFile("made.bin", 4);
  ASSERT_EQ(::chmod(made.c_str(), 0600), 0);
  auto file = qv::platform::OpenFile(DrivePathOf(made).c_str(), qv::platform::OpenMode::kReadWriteExisting,
                                     qv::platform::Sharing::kRead);
  ASSERT_TRUE(file) << GetLastError();
  fs::rename(made, temp.path() / "moved.bin");
  fs::path planted = temp.WriteFile("made.bin", 1);
  ASSERT_EQ(::chmod(planted.c_str(), 0644), 0);
  const struct stat plantedBefore = Lstat(planted);
  const bool xattrs = XattrsWork(planted);

  PosixMetadata item = OwnFile(0444);
  item.attributes = {{"user.note", {'h', 'i'}}};
  const DWORD missed = file->ApplyPosixMetadata(item, true);
  EXPECT_EQ(missed & ~qv::platform::kMetadataAttributesNotSet, 0u);
  EXPECT_EQ((missed & qv::platform::kMetadataAttributesNotSet) != 0, !xattrs);
  // Read-only now, yet still open for writing as it was opened.
  EXPECT_TRUE(file->Write("more", 4));
  EXPECT_TRUE(file->Sync());
  file.reset();

  const struct stat moved = Lstat(temp.path() / "moved.bin");
  EXPECT_EQ(moved.st_mode & 07777u, 0444u);
  EXPECT_EQ(moved.st_size, 4);  // written at the start, over the 4 bytes
  if (xattrs) {
    char value[8] = {};
    EXPECT_EQ(::getxattr((temp.path() / "moved.bin").c_str(), "user.note", value, sizeof(value)), 2);
    EXPECT_STREQ(value, "hi");
  }
  const struct stat plantedAfter = Lstat(planted);
  EXPECT_EQ(plantedAfter.st_mode & 07777u, 0644u);
  EXPECT_EQ(plantedAfter.st_mtim.tv_sec, plantedBefore.st_mtim.tv_sec);
  EXPECT_EQ(plantedAfter.st_mtim.tv_nsec, plantedBefore.st_mtim.tv_nsec);
  if (xattrs) {
    EXPECT_EQ(::getxattr(planted.c_str(), "user.note", nullptr, 0), -1);
  }
}

// The times last: writing after them would move the modification time,
// so they are checked on a file that was only synced after them.
TEST(PosixMetadataTest, AnOpenFileKeepsTheTimesItWasGiven) {
  TempDir temp;
  fs::path made = temp.WriteFile("t.bin", 10);
  auto file = qv::platform::OpenFile(DrivePathOf(made).c_str(), qv::platform::OpenMode::kReadWriteExisting,
                                     qv::platform::Sharing::kRead);
  ASSERT_TRUE(file) << GetLastError();
  PosixMetadata item = OwnFile(0640);
  EXPECT_EQ(file->ApplyPosixMetadata(item, true), 0u);
  EXPECT_TRUE(file->Sync());
  file.reset();
  const struct stat status = Lstat(made);
  EXPECT_EQ(status.st_mode & 07777u, 0640u);
  EXPECT_EQ(status.st_mtim.tv_sec, 1300000000);
  EXPECT_EQ(status.st_mtim.tv_nsec, 123456789);
  EXPECT_EQ(status.st_atim.tv_sec, 1250000000);
  EXPECT_EQ(status.st_atim.tv_nsec, 7);
}

}  // namespace
}  // namespace qvtest
