// POSIX behaviour of the platform layer: derived attributes, exact times,
// symbolic links, special files, mount points and native names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/file_system.h"
#include "platform/posix/file_status.h"
#include "platform_test_util.h"
#include "qvbackup/host.h"

namespace qv::platform {
namespace {

using qvtest::DrivePathIn;
using qvtest::ListFolder;
using qvtest::SizeOf;
using qvtest::TempDir;
using qvtest::TicksOf;
using qvtest::W;

constexpr unsigned long long kTicksPerSecond = 10000000ull;
constexpr unsigned long long kUnixEpochTicks = 116444736000000000ull;
constexpr DWORD kReparseTagSymbolicLink = 0xA000000C;
constexpr DWORD kReparseTagMountPoint = 0xA0000003;

DWORD AttributesOf(const WString& path) {
  FileInformation info;
  if (!GetFileInformation(path.c_str(), &info)) return INVALID_FILE_ATTRIBUTES;
  return info.attributes;
}

void MakeSocket(const std::filesystem::path& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string native = path.string();
  ASSERT_LT(native.size(), sizeof(address.sun_path));
  std::memcpy(address.sun_path, native.c_str(), native.size() + 1);
  int bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  close(fd);
  ASSERT_EQ(bound, 0);
}

bool IsSeparateFileSystem(const char* folder) {
  struct stat root, mount;
  return stat("/", &root) == 0 && stat(folder, &mount) == 0 && root.st_dev != mount.st_dev;
}

class PosixFileSystemTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(PosixFileSystemTest, AttributesComeFromKindPermissionsAndLeadingDot) {
  dir_.WriteFile("plain.txt", 1);
  dir_.WriteFile(".hidden", 1);
  dir_.MakeDir("folder");
  dir_.MakeDir(".config");
  chmod(dir_.WriteFile("locked.txt", 1).c_str(), 0444);
  chmod(dir_.MakeDir("lockedFolder").c_str(), 0555);
  EXPECT_EQ(AttributesOf(DrivePathIn(dir_, "plain.txt")), 0x20u);
  EXPECT_EQ(AttributesOf(DrivePathIn(dir_, ".hidden")), 0x22u);
  EXPECT_EQ(AttributesOf(DrivePathIn(dir_, "folder")), 0x10u);
  EXPECT_EQ(AttributesOf(DrivePathIn(dir_, ".config")), 0x12u);
  EXPECT_EQ(AttributesOf(DrivePathIn(dir_, "locked.txt")), 0x21u);
  EXPECT_EQ(AttributesOf(DrivePathIn(dir_, "lockedFolder")), 0x11u);
}

TEST_F(PosixFileSystemTest, TimesKeepTheirHundredNanosecondPrecision) {
  std::filesystem::path file = dir_.WriteFile("timed.txt", 1);
  std::filesystem::path folder = dir_.MakeDir("timedFolder");
  const timespec times[2] = {{1600000000, 123456789}, {1500000000, 987654321}};  // access, write
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  ASSERT_EQ(utimensat(AT_FDCWD, folder.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  for (const char* name : {"timed.txt", "timedFolder"}) {
    SCOPED_TRACE(name);
    FileInformation info;
    ASSERT_TRUE(GetFileInformation(DrivePathIn(dir_, name).c_str(), &info));
    EXPECT_EQ(TicksOf(info.lastAccessTime), 132444736001234567ull);
    EXPECT_EQ(TicksOf(info.lastWriteTime), 131444736009876543ull);
    auto listed = ListFolder(DrivePathIn(dir_, name));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(TicksOf(listed[name].ftLastAccessTime), 132444736001234567ull);
    EXPECT_EQ(TicksOf(listed[name].ftLastWriteTime), 131444736009876543ull);
  }
}

TEST_F(PosixFileSystemTest, CreationTimeIsWhenTheFileWasMadeNotItsWriteTime) {
  timespec before;
  clock_gettime(CLOCK_REALTIME, &before);
  std::filesystem::path file = dir_.WriteFile("born.txt", 1);
  const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  timespec after;
  clock_gettime(CLOCK_REALTIME, &after);
  FileInformation info;
  ASSERT_TRUE(GetFileInformation(DrivePathIn(dir_, "born.txt").c_str(), &info));
  // File system clocks run a tick behind the system clock: allow a second.
  unsigned long long earliest = kUnixEpochTicks + (before.tv_sec - 1) * kTicksPerSecond;
  unsigned long long latest = kUnixEpochTicks + (after.tv_sec + 1) * kTicksPerSecond;
  EXPECT_GE(TicksOf(info.creationTime), earliest);
  EXPECT_LE(TicksOf(info.creationTime), latest);
}

TEST(FileTimeTest, ConvertsUnixTimesAndClampsTheRange) {
  auto ticks = [](std::int64_t seconds, std::int64_t nanoseconds) {
    return TicksOf(posix::FileTimeFromUnix(seconds, nanoseconds));
  };
  EXPECT_EQ(ticks(0, 0), kUnixEpochTicks);
  EXPECT_EQ(ticks(0, 199), kUnixEpochTicks + 1) << "nanoseconds below 100 are cut, not rounded";
  EXPECT_EQ(ticks(-11644473600, 0), 0u) << "1601-01-01";
  EXPECT_EQ(ticks(-11644473601, 0), 0u) << "before 1601 clamps to 0";
  EXPECT_EQ(ticks(-1, 999999900), kUnixEpochTicks - 1);
  EXPECT_EQ(ticks(INT64_MAX, 0), static_cast<unsigned long long>(INT64_MAX));
}

TEST_F(PosixFileSystemTest, SymbolicLinkToAFolderIsAReparsePointNotFollowed) {
  dir_.MakeDir("target");
  std::filesystem::create_directory_symlink(dir_.path() / "target", dir_.path() / "link");
  FileInformation info;
  ASSERT_TRUE(GetFileInformation(DrivePathIn(dir_, "link").c_str(), &info));
  EXPECT_EQ(info.attributes, 0x410u);
  EXPECT_EQ(info.size, 0u);
  EXPECT_TRUE(FileExists(DrivePathIn(dir_, "link").c_str()));
  EXPECT_FALSE(IsDirectory(DrivePathIn(dir_, "link").c_str()));
  EXPECT_FALSE(IsDirectoryEmpty(DrivePathIn(dir_, "link").c_str())) << "the link is not a folder";
  EXPECT_TRUE(IsDirectoryEmpty(DrivePathIn(dir_, "target").c_str()));
}

TEST_F(PosixFileSystemTest, SymbolicLinkToAFileReportsSizeZero) {
  dir_.WriteFile("big.bin", 5000);
  std::filesystem::create_symlink(dir_.path() / "big.bin", dir_.path() / "link.bin");
  std::filesystem::create_symlink(dir_.path() / "big.bin", dir_.path() / ".hiddenLink");
  std::filesystem::create_symlink(dir_.path() / "nowhere", dir_.path() / "dangling");
  FileInformation info;
  ASSERT_TRUE(GetFileInformation(DrivePathIn(dir_, "link.bin").c_str(), &info));
  EXPECT_EQ(info.attributes, 0x420u);
  EXPECT_EQ(info.size, 0u);
  EXPECT_EQ(AttributesOf(DrivePathIn(dir_, ".hiddenLink")), 0x422u);
  EXPECT_EQ(AttributesOf(DrivePathIn(dir_, "dangling")), 0x420u) << "a dangling link still exists";
}

TEST_F(PosixFileSystemTest, EnumeratorMarksLinksWithTheirReparseTag) {
  dir_.MakeDir("target");
  dir_.WriteFile("file.txt", 7);
  std::filesystem::create_directory_symlink(dir_.path() / "target", dir_.path() / "folderLink");
  std::filesystem::create_symlink(dir_.path() / "file.txt", dir_.path() / "fileLink");
  auto items = ListFolder(DrivePathIn(dir_, "*"));
  EXPECT_EQ(items["folderLink"].dwFileAttributes, 0x410u);
  EXPECT_EQ(items["folderLink"].dwReserved0, kReparseTagSymbolicLink);
  EXPECT_EQ(items["fileLink"].dwFileAttributes, 0x420u);
  EXPECT_EQ(SizeOf(items["fileLink"]), 0u);
  EXPECT_EQ(items["file.txt"].dwFileAttributes, 0x20u);
  EXPECT_EQ(items["file.txt"].dwReserved0, 0u);
  EXPECT_EQ(SizeOf(items["file.txt"]), 7u);
  EXPECT_EQ(items["."].dwFileAttributes & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(items[".."].dwFileAttributes & FILE_ATTRIBUTE_HIDDEN, 0u);
}

TEST_F(PosixFileSystemTest, FifosAndSocketsDoNotExist) {
  dir_.MakeDir("special");
  ASSERT_EQ(mkfifo((dir_.path() / "special" / "pipe").c_str(), 0600), 0);
  MakeSocket(dir_.path() / "special" / "sock");
  for (const char* name : {"special\\pipe", "special\\sock"}) {
    SCOPED_TRACE(name);
    FileInformation info;
    SetLastError(0);
    EXPECT_FALSE(GetFileInformation(DrivePathIn(dir_, name).c_str(), &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(FileExists(DrivePathIn(dir_, name).c_str()));
    EXPECT_FALSE(IsDirectory(DrivePathIn(dir_, name).c_str()));
  }
  EXPECT_TRUE(IsDirectoryEmpty(DrivePathIn(dir_, "special").c_str()));
  auto items = ListFolder(DrivePathIn(dir_, "special\\*"));
  EXPECT_EQ(items.size(), 2u) << "only . and ..";
  dir_.WriteFile("special/real.txt", 1);
  EXPECT_FALSE(IsDirectoryEmpty(DrivePathIn(dir_, "special").c_str()));
}

TEST_F(PosixFileSystemTest, DeviceIsNotAFile) {
  FileInformation info;
  EXPECT_FALSE(GetFileInformation(W("C:\\dev\\null").c_str(), &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(PosixMountPointTest, FolderOnAnotherFileSystemIsAReparsePoint) {
  if (!IsSeparateFileSystem("/proc")) GTEST_SKIP() << "/proc is not a separate file system here";
  EXPECT_EQ(AttributesOf(W("C:\\proc")) & 0x410u, 0x410u);
  auto items = ListFolder(W("C:\\*"));
  ASSERT_EQ(items.count("proc"), 1u);
  EXPECT_EQ(items["proc"].dwFileAttributes & 0x410u, 0x410u);
  EXPECT_EQ(items["proc"].dwReserved0, kReparseTagMountPoint);
  EXPECT_EQ(items.count("."), 0u) << "a drive's root lists no dots";
  EXPECT_EQ(items.count(".."), 0u);
}

TEST(PosixMountPointTest, DriveRootOnAMountIsAPlainFolder) {
  if (!IsSeparateFileSystem("/proc")) GTEST_SKIP() << "/proc is not a separate file system here";
  ASSERT_TRUE(QVSetDriveMapping('P', W("/proc").c_str(), nullptr));
  DWORD attributes = AttributesOf(W("P:\\"));
  auto items = ListFolder(W("P:\\*"));
  QVSetDriveMapping('P', nullptr, nullptr);
  EXPECT_EQ(attributes & 0x410u, 0x10u);
  EXPECT_EQ(items.count("self"), 1u);
  EXPECT_EQ(items.count("."), 0u);
}

TEST_F(PosixFileSystemTest, SizesBeyondFourGigabytesSplitIntoTwoWords) {
  std::filesystem::path file = dir_.WriteFile("sparse.img", 0);
  std::filesystem::resize_file(file, (5ull << 30) + 17);
  FileInformation info;
  ASSERT_TRUE(GetFileInformation(DrivePathIn(dir_, "sparse.img").c_str(), &info));
  EXPECT_EQ(info.size, (5ull << 30) + 17);
  auto items = ListFolder(DrivePathIn(dir_, "sparse.img"));
  EXPECT_EQ(items["sparse.img"].nFileSizeHigh, 1u);
  EXPECT_EQ(items["sparse.img"].nFileSizeLow, (1u << 30) + 17);
}

TEST_F(PosixFileSystemTest, NativeNamesWindowsCannotSpellSurviveListingAndOpening) {
  const std::string colonName = "a:b\\c";
  const std::string latin1Name = "caf\xE9";
  dir_.WriteFile(colonName, 11);
  dir_.WriteFile(latin1Name, 12);
  auto items = ListFolder(DrivePathIn(dir_, "*"));
  WString colonDrive = W("a") + WString(1, 0xF03A) + W("b") + WString(1, 0xF05C) + W("c");
  WString latin1Drive = W("caf") + WString(1, 0xDCE9);
  bool sawColon = false;
  bool sawLatin1 = false;
  for (const auto& item : items) {
    WString name = item.second.cFileName;
    sawColon = sawColon || name == colonDrive;
    sawLatin1 = sawLatin1 || name == latin1Drive;
  }
  EXPECT_TRUE(sawColon);
  EXPECT_TRUE(sawLatin1);
  FileInformation info;
  ASSERT_TRUE(GetFileInformation((dir_.DrivePath() + W("\\") + colonDrive).c_str(), &info));
  EXPECT_EQ(info.size, 11u);
  ASSERT_TRUE(GetFileInformation((dir_.DrivePath() + W("\\") + latin1Drive).c_str(), &info));
  EXPECT_EQ(info.size, 12u);
}

TEST_F(PosixFileSystemTest, FileUsedAsAFolderIsAMissingPath) {
  dir_.WriteFile("plain.txt", 1);
  FileInformation info;
  EXPECT_FALSE(GetFileInformation(DrivePathIn(dir_, "plain.txt\\inner").c_str(), &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  DWORD error = 0;
  EXPECT_TRUE(ListFolder(DrivePathIn(dir_, "plain.txt\\*"), &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(PosixDrivePathTest, UnmappedLettersHoldNothing) {
  FileInformation info;
  SetLastError(0);
  EXPECT_FALSE(GetFileInformation(W("Y:\\tmp").c_str(), &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(FileExists(W("Y:\\").c_str()));
  DWORD error = 0;
  EXPECT_TRUE(ListFolder(W("Y:\\*"), &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(PosixExecutablePathTest, IsTheDrivePathOfTheRunningProgram) {
  WString path;
  ASSERT_TRUE(GetExecutablePath(&path));
  std::filesystem::path native = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(qvtest::U8(path), qvtest::U8(qvtest::DrivePathOf(native)));
}

}  // namespace
}  // namespace qv::platform
