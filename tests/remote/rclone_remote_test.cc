// The remote folder through the rclone of the system, on rclone's on-the-fly
// local remote (":local:/path"): files sent whole under their names, listed,
// fetched, read in ranges, renamed and removed; and the failures a user
// meets, each with its error number and rclone's words.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "remote/remote_test_util.h"

namespace qv::remote {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

class RcloneRemoteTest : public RemoteFolderTest {
 protected:
  // A local file of `bytes`, as the library names it.
  WString LocalFile(const std::string& name, const std::string& bytes) {
    const fs::path path = temp_.path() / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return qvtest::DrivePathOf(path);
  }
};

TEST_F(RcloneRemoteTest, FilesGoAndComeBackWhole) {
  std::string bytes(300000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 256);
  RcloneRemote remote = Remote("archives");
  ASSERT_TRUE(remote.Send(LocalFile("home.1.QVA", bytes), W("home.1.QVA"))) << platform::Utf16ToUtf8(remote.reason());
  EXPECT_EQ(Read(remoteRoot_ / "archives" / "home.1.QVA"), bytes);
  // Nothing is left under a temporary name.
  EXPECT_EQ(std::distance(fs::directory_iterator(remoteRoot_ / "archives"), fs::directory_iterator()), 1);

  std::vector<RemoteFile> files;
  ASSERT_TRUE(remote.List(&files));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].name, W("home.1.QVA"));
  EXPECT_EQ(files[0].size, bytes.size());

  const WString fetched = qvtest::DrivePathOf(temp_.path() / "fetched");
  ASSERT_TRUE(remote.Fetch(W("home.1.QVA"), fetched));
  EXPECT_EQ(Read(temp_.path() / "fetched"), bytes);
  EXPECT_FALSE(fs::exists(temp_.path() / "fetched.qvpart"));

  std::string range;
  ASSERT_TRUE(remote.ReadRange(W("home.1.QVA"), 123456, 1000, &range));
  EXPECT_EQ(range, bytes.substr(123456, 1000));
  ASSERT_TRUE(remote.ReadRange(W("home.1.QVA"), bytes.size() - 10, 1000, &range));
  EXPECT_EQ(range, bytes.substr(bytes.size() - 10));

  ASSERT_TRUE(remote.Rename(W("home.1.QVA"), W("home.QVA")));
  ASSERT_TRUE(remote.List(&files));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].name, W("home.QVA"));
  ASSERT_TRUE(remote.Remove(W("home.QVA")));
  ASSERT_TRUE(remote.List(&files));
  EXPECT_TRUE(files.empty());
  // Removing what is not there is no failure.
  EXPECT_TRUE(remote.Remove(W("home.QVA")));
}

TEST_F(RcloneRemoteTest, AFolderNotMadeYetHoldsNothing) {
  RcloneRemote remote = Remote("not/made");
  std::vector<RemoteFile> files{{W("x"), 1}};
  EXPECT_TRUE(remote.List(&files));
  EXPECT_TRUE(files.empty());
}

TEST_F(RcloneRemoteTest, AFileThatIsNotThereIsNotFetched) {
  RcloneRemote remote = Remote();
  const WString local = qvtest::DrivePathOf(temp_.path() / "nothing");
  SetLastError(0);
  EXPECT_FALSE(remote.Fetch(W("missing.QVA"), local));
  const DWORD error = GetLastError();
  EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
  EXPECT_FALSE(remote.reason().empty());
  EXPECT_FALSE(fs::exists(temp_.path() / "nothing"));
  EXPECT_FALSE(fs::exists(temp_.path() / "nothing.qvpart"));
}

TEST_F(RcloneRemoteTest, ARemoteThatIsNotConfiguredIsNamed) {
  RcloneRemote remote(W("rclone"), W("nosuchremote:backups"));
  std::vector<RemoteFile> files;
  SetLastError(0);
  EXPECT_FALSE(remote.List(&files));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NET_NAME));
  EXPECT_NE(platform::Utf16ToUtf8(remote.reason()).find("config"), std::string::npos)
      << platform::Utf16ToUtf8(remote.reason());
  EXPECT_FALSE(remote.Send(LocalFile("a", "a"), W("a")));
}

TEST_F(RcloneRemoteTest, AFailedSendLeavesNothingThatPassesForTheFile) {
  // A folder that cannot be made: a file stands where it would go.
  std::ofstream(remoteRoot_ / "blocked").close();
  RcloneRemote remote = Remote("blocked/archives");
  EXPECT_FALSE(remote.Send(LocalFile("v.QVA", std::string(5000, 'v')), W("v.QVA")));
  EXPECT_FALSE(remote.reason().empty());
  EXPECT_TRUE(fs::is_regular_file(remoteRoot_ / "blocked"));
}

TEST_F(RcloneRemoteTest, ACancelledSendLeavesNothingBehind) {
  RcloneRemote remote = Remote("archives");
  volatile BOOL cancel = TRUE;
  remote.SetCancelFlag(&cancel);
  SetLastError(0);
  EXPECT_FALSE(remote.Send(LocalFile("big.QVA", std::string(2000000, 'b')), W("big.QVA")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
  remote.SetCancelFlag(nullptr);
  std::vector<RemoteFile> files;
  ASSERT_TRUE(remote.List(&files));
  EXPECT_TRUE(files.empty()) << platform::Utf16ToUtf8(files[0].name);
}

TEST_F(RcloneRemoteTest, WithoutRcloneTheReasonSaysSo) {
  RcloneRemote remote(W("/nonexistent/rclone"), W(":local:/tmp"));
  std::vector<RemoteFile> files;
  SetLastError(0);
  EXPECT_FALSE(remote.List(&files));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_NE(platform::Utf16ToUtf8(remote.reason()).find("rclone is not installed"), std::string::npos);
}

TEST(RcloneDestinationTest, TheDestinationForm) {
  WString folder;
  EXPECT_TRUE(RcloneRemote::ParseDestination(W("rclone:nas:backups/home"), &folder));
  EXPECT_EQ(folder, W("nas:backups/home"));
  EXPECT_TRUE(RcloneRemote::ParseDestination(W("rclone::local:/srv/b"), &folder));
  EXPECT_EQ(folder, W(":local:/srv/b"));
  EXPECT_TRUE(RcloneRemote::ParseDestination(W("rclone:s3:"), &folder));
  EXPECT_FALSE(RcloneRemote::ParseDestination(W("rclone:"), &folder));
  EXPECT_FALSE(RcloneRemote::ParseDestination(W("rclone:nocolon"), &folder));
  EXPECT_FALSE(RcloneRemote::ParseDestination(W("/mnt/backup"), &folder));
  EXPECT_FALSE(RcloneRemote::ParseDestination(W("rclone:/x"), &folder));
}

TEST(RcloneErrorTest, ExitStatusesAndWordsBecomeErrorNumbers) {
  const std::string stamped =
      "2026/12/09 16:37:35 NOTICE: Config file not found\n"
      "2026/12/09 16:37:35 ERROR : : error listing: directory not found\n"
      "2026/12/09 16:37:35 Failed to lsjson with 2 errors: last error was: directory not found\n";
  EXPECT_EQ(RcloneReason(stamped), "Failed to lsjson with 2 errors: last error was: directory not found");
  EXPECT_EQ(RcloneReason("2026/12/09 16:37:35 ERROR : x: sftp: permission denied\n"), "ERROR : x: sftp: permission denied");
  EXPECT_EQ(RcloneError(3, stamped), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(RcloneError(2, "Failed to copy: sftp: \"Permission Denied\" permission denied\n"),
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RcloneError(2, "Failed to copy: dial tcp 127.0.0.1:1: connect: connection refused\n"),
            static_cast<DWORD>(ERROR_BAD_NETPATH));
  EXPECT_EQ(RcloneError(2, "Failed to copy: write: no space left on device\n"), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(RcloneError(5, ""), static_cast<DWORD>(ERROR_RETRY));
  EXPECT_EQ(RcloneError(42, ""), static_cast<DWORD>(ERROR_GEN_FAILURE));
}

}  // namespace
}  // namespace qv::remote
