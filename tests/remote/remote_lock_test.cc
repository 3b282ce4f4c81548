// The lock of an archive on a remote folder: one holder at a time, the
// others told who holds it; given back, it can be taken again; parts of
// lock files being sent and other archives' locks do not count.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/file_lock.h"
#include "remote/remote_lock.h"
#include "remote/remote_test_util.h"

namespace qv::remote {
namespace {

namespace fs = std::filesystem;

class RemoteLockTest : public RemoteFolderTest {
 protected:
  void SetUp() override {
    RemoteFolderTest::SetUp();
    folder_ = remoteRoot_;
    scratch_ = qvtest::DrivePathOf(temp_.MakeDir("scratch"));
  }

  std::vector<std::string> Files() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) names.push_back(entry.path().filename().string());
    return names;
  }

  fs::path folder_;
  WString scratch_;
};

TEST_F(RemoteLockTest, OneHolderAtATimeAndTheOthersAreToldWho) {
  RcloneRemote first = Remote();
  RcloneRemote second = Remote();
  RemoteLock held(first, W("home"), scratch_);
  ASSERT_TRUE(held.Acquire()) << platform::Utf16ToUtf8(first.reason());
  ASSERT_EQ(Files().size(), 1u);
  EXPECT_EQ(Files()[0].rfind("home.qvlock-", 0), 0u);

  RemoteLock other(second, W("home"), scratch_);
  SetLastError(0);
  EXPECT_FALSE(other.Acquire());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(platform::Utf16ToUtf8(other.heldBy()), Files()[0]);
  EXPECT_NE(platform::Utf16ToUtf8(other.holder()).find("process"), std::string::npos)
      << platform::Utf16ToUtf8(other.holder());
  // The loser's own lock file is gone again; nothing of it is left locally.
  EXPECT_EQ(Files().size(), 1u);
  EXPECT_TRUE(fs::is_empty(temp_.path() / "scratch"));

  // Another archive of the folder is not held by it.
  RemoteLock otherArchive(second, W("homework"), scratch_);
  EXPECT_TRUE(otherArchive.Acquire());
  EXPECT_TRUE(otherArchive.Release());

  EXPECT_TRUE(held.Release());
  EXPECT_TRUE(Files().empty());
  EXPECT_TRUE(other.Acquire());
}

TEST_F(RemoteLockTest, TheLockGoesWithItsObjectAndPartsDoNotCount) {
  {
    RcloneRemote remote = Remote();
    RemoteLock lock(remote, W("home"), scratch_);
    ASSERT_TRUE(lock.Acquire());
  }
  EXPECT_TRUE(Files().empty());
  // What a run that died while sending its lock file left.
  std::ofstream(folder_ / "home.qvlock-0123456789abcdef.qvpart-42").close();
  RcloneRemote remote = Remote();
  RemoteLock lock(remote, W("home"), scratch_);
  EXPECT_TRUE(lock.Acquire());
  EXPECT_FALSE(IsLockOf(W("home.qvlock-1.qvpart-2"), W("home")));
  EXPECT_TRUE(IsLockOf(W("home.qvlock-1"), W("home")));
  EXPECT_FALSE(IsLockOf(W("homework.qvlock-1"), W("home")));
  EXPECT_FALSE(IsLockOf(W("home.qvlock-"), W("home")));
}

TEST_F(RemoteLockTest, TwoRunsAtOnceNeverBothHoldIt) {
  for (int round = 0; round < 4; ++round) {
    RcloneRemote a = Remote();
    RcloneRemote b = Remote();
    RemoteLock first(a, W("home"), scratch_);
    RemoteLock second(b, W("home"), scratch_);
    bool gotFirst = false;
    bool gotSecond = false;
    std::thread one([&] { gotFirst = first.Acquire(); });
    std::thread two([&] { gotSecond = second.Acquire(); });
    one.join();
    two.join();
    EXPECT_FALSE(gotFirst && gotSecond) << "round " << round;
    EXPECT_EQ(Files().size(), static_cast<std::size_t>(gotFirst) + gotSecond) << "round " << round;
    first.Release();
    second.Release();
    EXPECT_TRUE(Files().empty());
  }
}

// A run of this machine that died holding the lock: its process is gone, so
// its lock goes; a live process's and another machine's stay.
TEST_F(RemoteLockTest, TheLockOfADeadRunOfThisMachineGoes) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  const std::string self = platform::Utf16ToUtf8(platform::ThisProcessDescription());
  const std::string host = self.substr(self.find(" on "));
  auto lockSaying = [&](const std::string& text) {
    std::ofstream(folder_ / "home.qvlock-00000000000000aa") << text << "\n";
  };
  RcloneRemote remote = Remote();
  lockSaying("process " + std::to_string(child) + host + ", since 2026-12-09 10:00:00 UTC");
  {
    RemoteLock lock(remote, W("home"), scratch_);
    ASSERT_TRUE(lock.Acquire()) << GetLastError();
    ASSERT_EQ(lock.removedStale().size(), 1u);
    EXPECT_EQ(platform::Utf16ToUtf8(lock.removedStale()[0].file), "home.qvlock-00000000000000aa");
  }
  EXPECT_TRUE(Files().empty());
  for (const std::string& live : {"process " + std::to_string(getpid()) + host + ", since 2026-12-09 10:00:00 UTC",
                                  "process " + std::to_string(child) + " on another-machine, since 2026-12-09",
                                  std::string("written by something else")}) {
    lockSaying(live);
    RemoteLock lock(remote, W("home"), scratch_);
    SetLastError(0);
    EXPECT_FALSE(lock.Acquire()) << live;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
    EXPECT_EQ(platform::Utf16ToUtf8(lock.holder()), live);
    EXPECT_EQ(Files(), std::vector<std::string>{"home.qvlock-00000000000000aa"});
  }
}

}  // namespace
}  // namespace qv::remote
