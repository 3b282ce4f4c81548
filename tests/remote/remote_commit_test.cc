// Replacing an archive on a remote folder: whichever rclone run fails (as
// when the machine or the link goes down there), the next run's recovery
// leaves either the whole old archive or the whole new one, never a mix,
// and nothing of the replacement behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "remote/remote_commit.h"
#include "remote/remote_names.h"
#include "remote/remote_test_util.h"
#include "remote/remote_upload.h"

namespace qv::remote {
namespace {

namespace fs = std::filesystem;

using Contents = std::map<std::string, std::string>;

Contents Read(const fs::path& folder) {
  Contents contents;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    contents[entry.path().filename().string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return contents;
}

class RemoteCommitTest : public RemoteFolderTest {
 protected:
  void SetUp() override {
    RemoteFolderTest::SetUp();
    staging_ = temp_.MakeDir("staging");
    // rclone, failing from its run number `limit` on (counted in a file).
    wrapper_ = temp_.path() / "failing-rclone";
    std::ofstream(wrapper_) << "#!/bin/sh\n"
                               "n=$(cat \"$0.count\" 2>/dev/null || echo 0)\n"
                               "echo $((n + 1)) > \"$0.count\"\n"
                               "if [ \"$n\" -ge \"$(cat \"$0.limit\")\" ]; then echo 'ERROR : cut' >&2; exit 5; fi\n"
                               "exec rclone \"$@\"\n";
    fs::permissions(wrapper_, fs::perms::owner_all);
  }

  RcloneRemote Failing(int limit) {
    std::ofstream(wrapper_.string() + ".limit") << limit;
    std::ofstream(wrapper_.string() + ".count") << 0;
    return RcloneRemote(W(wrapper_.string()), W(":local:" + remoteRoot_.string()));
  }

  void Put(const Contents& contents) {
    for (const auto& [name, text] : contents) std::ofstream(remoteRoot_ / name, std::ios::binary) << text;
  }

  WString Staged(const std::string& name, const std::string& text) {
    std::ofstream(staging_ / name, std::ios::binary) << text;
    return qvtest::DrivePathOf(staging_ / name);
  }

  fs::path staging_;
  fs::path wrapper_;
};

TEST_F(RemoteCommitTest, EveryCutLeavesTheOldArchiveOrTheNewOneWhole) {
  // The old archive has three volumes, the new one two: names shared and not.
  const Contents old = {{"home.1.QVA", "old 1"}, {"home.2.QVA", "old 2"}, {"home.3.QVA", "old 3"},
                        {"home.I1.QVA", "old increment"}};
  const Contents next = {{"home.1.QVA", "new 1"}, {"home.2.QVA", "new 2"}};
  const std::vector<WString> oldNames = {W("home.1.QVA"), W("home.2.QVA"), W("home.3.QVA"), W("home.I1.QVA")};
  const std::vector<WString> order = {W("home.2.QVA"), W("home.1.QVA")};
  bool sawOld = false;
  bool sawNew = false;
  for (int limit = 0;; ++limit) {
    ASSERT_LT(limit, 100) << "the replacement never ended";
    fs::remove_all(remoteRoot_);
    fs::create_directories(remoteRoot_);
    Put(old);
    bool replaced = false;
    {
      RcloneRemote failing = Failing(limit);
      RemoteUpload upload(failing, 2);
      for (const WString& name : order) {
        const std::string text = next.at(platform::Utf16ToUtf8(name));
        ASSERT_TRUE(upload.Queue(Staged(platform::Utf16ToUtf8(name), text), name));
      }
      if (upload.Finish()) replaced = Replace(failing, upload, W("home"), oldNames, order, qvtest::DrivePathOf(staging_));
    }
    // The next run, rclone working again.
    RcloneRemote remote = Remote();
    std::vector<RemoteFile> files;
    ASSERT_TRUE(remote.List(&files));
    Recovery recovery;
    ASSERT_TRUE(Recover(remote, W("home"), files, &recovery)) << "cut at run " << limit;
    const Contents now = Read(remoteRoot_);
    if (now == next) {
      sawNew = true;
    } else {
      EXPECT_EQ(now, old) << "cut at run " << limit;
      EXPECT_FALSE(recovery.keptNew);
      sawOld = true;
    }
    // Past the last run, nothing was cut: the replacement ended.
    std::ifstream counted(wrapper_.string() + ".count");
    int runs = 0;
    counted >> runs;
    if (runs <= limit) {
      EXPECT_TRUE(replaced);
      EXPECT_EQ(now, next);
      break;
    }
  }
  EXPECT_TRUE(sawOld);
  EXPECT_TRUE(sawNew);
}

TEST_F(RemoteCommitTest, ARecordIsReadBackAsWritten) {
  ReplaceRecord record;
  record.old = {W("a.1.QVA"), W("a.2.QVA")};
  record.placed = {W("a.2.QVA"), W("a.1.QVA")};
  ReplaceRecord read;
  ASSERT_TRUE(ReadRecord(WriteRecord(record), &read));
  EXPECT_EQ(read.old, record.old);
  EXPECT_EQ(read.placed, record.placed);
  // Cut short, of another kind, or naming a file of another folder: not a record.
  const std::string text = WriteRecord(record);
  EXPECT_FALSE(ReadRecord(text.substr(0, text.size() - 1), &read));
  EXPECT_FALSE(ReadRecord("something else\nnew a.1.QVA\n", &read));
  EXPECT_FALSE(ReadRecord("qvbackup replacement\nnew ../a.1.QVA\n", &read));
  EXPECT_FALSE(ReadRecord("qvbackup replacement\nold a.1.QVA\n", &read));
}

// A record that names anything but the archive's volumes is not followed:
// nothing is renamed or removed by it, and the run is told.
TEST_F(RemoteCommitTest, ARecordNamingOtherFilesIsNotFollowed) {
  ReplaceRecord record;
  record.old = {W("home.1.QVA"), W("..")};
  record.placed = {W("other.1.QVA")};
  Put({{"home.1.QVA", "old 1"}, {"other.1.QVA", "another archive"}, {"home.qvcommit", WriteRecord(record)}});
  RcloneRemote remote = Remote();
  std::vector<RemoteFile> files;
  ASSERT_TRUE(remote.List(&files));
  Recovery recovery;
  SetLastError(0);
  EXPECT_FALSE(Recover(remote, W("home"), files, &recovery));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(Read(remoteRoot_).size(), 3u);
  EXPECT_EQ(Read(remoteRoot_).at("other.1.QVA"), "another archive");
}

TEST_F(RemoteCommitTest, NoRecordMeansNothingToDo) {
  Put({{"home.1.QVA", "old 1"}, {"home.1.QVA.qvold", "kept by its owner"}});
  RcloneRemote remote = Remote();
  std::vector<RemoteFile> files;
  ASSERT_TRUE(remote.List(&files));
  Recovery recovery;
  ASSERT_TRUE(Recover(remote, W("home"), files, &recovery));
  EXPECT_FALSE(recovery.found);
  EXPECT_EQ(Read(remoteRoot_).size(), 2u);
}

}  // namespace
}  // namespace qv::remote

namespace qv::remote {
namespace {

TEST(RemoteNamesTest, VolumesAndLeftoversOfOneArchiveOnly) {
  for (const char* volume : {"home.QVA", "home.1.QVA", "home.12.QVA", "home.I2.QVA", "home.I2.3.QVA", "home.exe",
                             "home.1.exe"}) {
    EXPECT_TRUE(IsVolumeOf(W(volume), W("home"))) << volume;
  }
  for (const char* other : {"home.qva", "home.01.QVA", "home.I.QVA", "home.x.QVA", "home..QVA", "home.1.QVA.qvnew",
                            "homes.QVA", "home.photos.1.QVA", "home.I2.", "home.qvcommit"}) {
    EXPECT_FALSE(IsVolumeOf(W(other), W("home"))) << other;
  }
  for (const char* left : {"home.1.QVA.qvnew", "home.QVA.qvnew.qvpart-0123456789abcdef", "home.I3.2.QVA.qvnew",
                           "home.qvcommit.qvpart-0123456789abcdef"}) {
    EXPECT_TRUE(IsLeftoverOf(W(left), W("home"))) << left;
  }
  // Another archive's, whose name begins with this one's; a lock; a file set
  // aside (a record tells of those); a finished volume.
  for (const char* kept : {"home.photos.1.QVA.qvnew", "home.qvlock-0123456789abcdef.qvpart-0123456789abcdef",
                           "home.qvlock-0123456789abcdef", "home.1.QVA.qvold", "home.1.QVA", "home.qvcommit"}) {
    EXPECT_FALSE(IsLeftoverOf(W(kept), W("home"))) << kept;
  }
}

}  // namespace
}  // namespace qv::remote
