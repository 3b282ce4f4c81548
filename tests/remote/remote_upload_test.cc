// A new archive's files sent to a remote folder as they are finished:
// nothing passes for the archive until the commit, the previous archive
// stands until then, an abandoned upload leaves nothing, a failed one
// keeps the local files it could not send.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "remote/remote_test_util.h"
#include "remote/remote_upload.h"
#include "storage/storage_test_util.h"

namespace qv::remote {
namespace {

namespace fs = std::filesystem;

class RemoteUploadTest : public RemoteFolderTest {
 protected:
  void SetUp() override {
    RemoteFolderTest::SetUp();
    folder_ = remoteRoot_;
    staging_ = temp_.MakeDir("staging");
    // The previous archive of that name.
    std::ofstream(folder_ / "home.1.QVA") << "old first";
    std::ofstream(folder_ / "home.2.QVA") << "old second";
  }

  // A finished local volume of `size` bytes.
  WString Staged(const std::string& name, std::size_t size) {
    const qvtest::Bytes bytes = qvtest::RandomBytes(size, static_cast<unsigned>(name.size() + size));
    qvtest::WriteAll(staging_ / name, bytes);
    return qvtest::DrivePathOf(staging_ / name);
  }

  fs::path folder_;
  fs::path staging_;
};

TEST_F(RemoteUploadTest, NothingPassesForTheArchiveUntilTheCommit) {
  RcloneRemote remote = Remote();
  RemoteUpload upload(remote, 2, /*senders=*/3);  // several at once, renamed several at once
  std::vector<WString> names;
  for (int v = 1; v <= 4; ++v) {
    const std::string name = "next." + std::to_string(v) + ".QVA";
    ASSERT_TRUE(upload.Queue(Staged(name, 5000 + v), W(name)));
    names.push_back(W(name));
  }
  ASSERT_TRUE(upload.Finish()) << platform::Utf16ToUtf8(upload.reason());
  EXPECT_EQ(upload.bytesSent(), 4u * 5000 + 1 + 2 + 3 + 4);
  // The local files are gone once sent; the old archive is as it was.
  EXPECT_TRUE(qvtest::NamesIn(staging_).empty());
  EXPECT_EQ(qvtest::NamesIn(folder_),
            (std::vector<std::string>{"home.1.QVA", "home.2.QVA", "next.1.QVA.qvnew", "next.2.QVA.qvnew",
                                      "next.3.QVA.qvnew", "next.4.QVA.qvnew"}));
  // The first volume last.
  ASSERT_TRUE(upload.Commit({names[1], names[2], names[3], names[0]})) << platform::Utf16ToUtf8(upload.reason());
  EXPECT_EQ(qvtest::NamesIn(folder_), (std::vector<std::string>{"home.1.QVA", "home.2.QVA", "next.1.QVA",
                                                                "next.2.QVA", "next.3.QVA", "next.4.QVA"}));
  EXPECT_EQ(fs::file_size(folder_ / "next.1.QVA"), 5001u);
}

TEST_F(RemoteUploadTest, NothingIsRenamedOverThePreviousArchive) {
  RcloneRemote remote = Remote();
  RemoteUpload upload(remote, 2);
  ASSERT_TRUE(upload.Queue(Staged("home.3.QVA", 100), W("home.3.QVA")));
  ASSERT_TRUE(upload.Queue(Staged("home.1.QVA", 100), W("home.1.QVA")));
  ASSERT_TRUE(upload.Finish());
  SetLastError(0);
  EXPECT_FALSE(upload.Commit({W("home.3.QVA"), W("home.1.QVA")}));
  EXPECT_EQ(upload.error(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  // Not even the volume that had no old one took its name.
  EXPECT_EQ(qvtest::NamesIn(folder_),
            (std::vector<std::string>{"home.1.QVA", "home.1.QVA.qvnew", "home.2.QVA", "home.3.QVA.qvnew"}));
}

TEST_F(RemoteUploadTest, AnUploadNotCommittedLeavesThePreviousArchiveAlone) {
  {
    RcloneRemote remote = Remote();
    RemoteUpload upload(remote, 1);
    ASSERT_TRUE(upload.Queue(Staged("home.1.QVA", 3000), W("home.1.QVA")));
    ASSERT_TRUE(upload.Queue(Staged("home.2.QVA", 3000), W("home.2.QVA")));
    ASSERT_TRUE(upload.Finish());
    // A name never sent is not committed, nor anything after it.
    EXPECT_FALSE(upload.Commit({W("home.9.QVA"), W("home.1.QVA")}));
  }
  EXPECT_EQ(qvtest::NamesIn(folder_), (std::vector<std::string>{"home.1.QVA", "home.2.QVA"}));
  std::ifstream first(folder_ / "home.1.QVA");
  std::string text;
  std::getline(first, text);
  EXPECT_EQ(text, "old first");
}

TEST_F(RemoteUploadTest, AFailedSendKeepsWhatItCouldNotSend) {
  RcloneRemote remote(W("rclone"), W("nosuchremote:backups"));
  RemoteUpload upload(remote, 4);
  ASSERT_TRUE(upload.Queue(Staged("home.1.QVA", 1000), W("home.1.QVA")));
  EXPECT_FALSE(upload.Finish());
  EXPECT_EQ(upload.error(), static_cast<DWORD>(ERROR_BAD_NET_NAME));
  EXPECT_FALSE(upload.reason().empty());
  // Once failed, nothing more is taken.
  EXPECT_FALSE(upload.Queue(Staged("home.2.QVA", 1000), W("home.2.QVA")));
  EXPECT_EQ(qvtest::NamesIn(staging_), (std::vector<std::string>{"home.1.QVA", "home.2.QVA"}));
}

}  // namespace
}  // namespace qv::remote
