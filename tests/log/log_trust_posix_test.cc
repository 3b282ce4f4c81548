// Which QV_LOG.INI the log takes on POSIX, and where it refuses to write:
// configurations others could have planted or changed are ignored with a
// notice, and nothing but a new regular file is ever written, moved or
// removed under the log's names. Folders stand for drive roots, as in the
// configuration tests.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "log/log_test_util.h"
#include "platform/file_ops.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

class LogTrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.MakeDir("root");
    ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
    system_.roots = {DrivePathOf(root_) + W("\\")};
  }

  // Writes QV_LOG.INI with `mode` into the root, logging to `output`.
  fs::path WriteConfig(mode_t mode, const std::string& output = "run.log") {
    fs::path config = root_ / "QV_LOG.INI";
    WriteBytes(config, "[LOG]\r\nOutputName=" + output + "\r\nLogLevel=8\r\n");
    EXPECT_EQ(chmod(config.c_str(), mode), 0);
    return config;
  }

  // A file someone would like the log to overwrite.
  fs::path Victim() {
    fs::path victim = dir_.path() / "victim.txt";
    WriteBytes(victim, "precious bytes\n");
    return victim;
  }

  std::string Notice(const QV_LOG& log) { return U8(log.GetNotice().GetString()); }

  // A log built now stays closed and says `notice`; the victim keeps its
  // bytes.
  void ExpectNoLog(const std::string& notice, const fs::path& victim) {
    auto log = MakeLog(&system_);
    EXPECT_FALSE(log->IsOpen());
    EXPECT_EQ(Notice(*log), notice);
    EXPECT_EQ(ReadBytes(victim), "precious bytes\n");
  }

  TempDir dir_;
  fs::path root_;
  FakeSystem system_;
};

TEST_F(LogTrustTest, OwnUnsharedConfigurationIsTakenWithoutNotice) {
  WriteConfig(0644);
  auto log = MakeLog(&system_);
  EXPECT_TRUE(log->IsOpen());
  EXPECT_EQ(log->GetLevel(), 8u);
  EXPECT_EQ(Notice(*log), "");
  EXPECT_TRUE(fs::is_regular_file(root_ / "run.log"));
}

TEST_F(LogTrustTest, ConfigurationOthersOrItsGroupMayWriteIsIgnored) {
  const fs::path victim = Victim();
  for (auto [mode, why] : {std::pair<mode_t, std::string>{0646, "writable by others"}, {0664, "writable by its group"}}) {
    SCOPED_TRACE(why);
    const fs::path config = WriteConfig(mode, U8(DrivePathOf(victim)));
    ExpectNoLog("ignoring " + config.string() + ": " + why, victim);
    EXPECT_EQ(MakeLog(&system_)->GetLevel(), 3u);  // the default: nothing of the file is taken
    EXPECT_FALSE(fs::exists(victim.string() + ".bak"));
    EXPECT_EQ(system_.createdFiles, 0);
  }
}

TEST_F(LogTrustTest, SymbolicLinkAndFifoNamedLikeTheConfigurationAreIgnored) {
  const fs::path elsewhere = dir_.path() / "good.ini";
  WriteBytes(elsewhere, "[LOG]\r\nOutputName=run.log\r\n");
  fs::create_symlink(elsewhere, root_ / "QV_LOG.INI");
  auto linked = MakeLog(&system_);
  EXPECT_FALSE(linked->IsOpen());
  EXPECT_EQ(Notice(*linked), "ignoring " + (root_ / "QV_LOG.INI").string() + ": a symbolic link");

  fs::remove(root_ / "QV_LOG.INI");
  ASSERT_EQ(mkfifo((root_ / "QV_LOG.INI").c_str(), 0644), 0);
  // Opening it must not wait for a writer.
  auto fifo = MakeLog(&system_);
  EXPECT_FALSE(fifo->IsOpen());
  EXPECT_EQ(Notice(*fifo), "ignoring " + (root_ / "QV_LOG.INI").string() + ": not a regular file");
  EXPECT_FALSE(fs::exists(root_ / "run.log"));
}

TEST_F(LogTrustTest, LogNamedByALinkLeavesItsTargetAsItWas) {
  const fs::path victim = Victim();
  WriteConfig(0644);
  fs::create_symlink(victim, root_ / "run.log");
  ExpectNoLog("not writing the log " + (root_ / "run.log").string() + ": a symbolic link is there", victim);
  EXPECT_TRUE(fs::is_symlink(root_ / "run.log"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "run.log.bak")));
}

TEST_F(LogTrustTest, FifoOrFolderUnderTheLogsNameMeansNoLog) {
  WriteConfig(0644);
  ASSERT_EQ(mkfifo((root_ / "run.log").c_str(), 0644), 0);
  auto fifo = MakeLog(&system_);
  EXPECT_FALSE(fifo->IsOpen());
  EXPECT_EQ(Notice(*fifo), "not writing the log " + (root_ / "run.log").string() + ": a device, FIFO or socket is there");
  EXPECT_TRUE(fs::is_fifo(root_ / "run.log"));

  fs::remove(root_ / "run.log");
  dir_.MakeDir("root/run.log");
  auto folder = MakeLog(&system_);
  EXPECT_FALSE(folder->IsOpen());
  EXPECT_EQ(Notice(*folder), "not writing the log " + (root_ / "run.log").string() + ": a folder is there");
}

TEST_F(LogTrustTest, PreviousLogIsNeverMovedOverALink) {
  const fs::path victim = Victim();
  WriteConfig(0644);
  WriteBytes(root_ / "run.log", "last run\n");
  fs::create_symlink(victim, root_ / "run.log.bak");
  ExpectNoLog("not writing the log " + (root_ / "run.log").string() + ": a symbolic link is at " +
                  (root_ / "run.log.bak").string() + ", where the previous log would go",
              victim);
  EXPECT_EQ(ReadBytes(root_ / "run.log"), "last run\n");
  EXPECT_TRUE(fs::is_symlink(root_ / "run.log.bak"));
}

TEST_F(LogTrustTest, HardLinkOfThePreviousLogIsMovedNotWrittenThrough) {
  const fs::path victim = Victim();
  WriteConfig(0644);
  fs::create_hard_link(victim, root_ / "run.log");
  auto log = MakeLog(&system_);
  EXPECT_TRUE(log->IsOpen());
  log.reset();
  EXPECT_EQ(ReadBytes(victim), "precious bytes\n");
  EXPECT_EQ(ReadBytes(root_ / "run.log.bak"), "precious bytes\n");
  EXPECT_FALSE(fs::equivalent(victim, root_ / "run.log"));
}

// Owners other than the running user need root to be made.
class LogOwnerTest : public LogTrustTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "files of another owner can only be made by root";
    LogTrustTest::SetUp();
  }
};

TEST_F(LogOwnerTest, ConfigurationOfAnotherUserIsIgnored) {
  const fs::path victim = Victim();
  const fs::path config = WriteConfig(0644, U8(DrivePathOf(victim)));
  ASSERT_EQ(chown(config.c_str(), kNobody, kNobody), 0);
  ExpectNoLog("ignoring " + config.string() + ": owned by another user", victim);
}

TEST_F(LogOwnerTest, FolderOthersMayWriteCountsUnlessItIsTheUsersOwn) {
  const fs::path config = WriteConfig(0644);
  // Others may write it: refused when someone else owns it, sticky or not.
  for (mode_t mode : {01777, 0777}) {
    ASSERT_EQ(chmod(root_.c_str(), mode), 0);
    ASSERT_EQ(chown(root_.c_str(), kNobody, kNobody), 0);
    auto refused = MakeLog(&system_);
    EXPECT_FALSE(refused->IsOpen()) << std::oct << mode;
    EXPECT_EQ(Notice(*refused), "ignoring " + config.string() + ": its folder is writable by others");
  }
  // The same folder as the running user's own.
  ASSERT_EQ(chown(root_.c_str(), geteuid(), getegid()), 0);
  auto taken = MakeLog(&system_);
  EXPECT_TRUE(taken->IsOpen());
  EXPECT_EQ(Notice(*taken), "");
}

}  // namespace
}  // namespace qvtest
