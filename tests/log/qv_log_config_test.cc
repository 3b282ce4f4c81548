// Where the log finds QV_LOG.INI, what it takes from it, and how a new start
// keeps the previous log. Drive roots and the current folder are temporary
// folders offered by the fake system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log_test_util.h"
#include "platform/system_info.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

class LogConfigTest : public ::testing::Test {
 protected:
  // A folder standing for a drive root; its drive path ends with '\'.
  WString Root(const std::string& name) {
    dir_.MakeDir(name);
    return DrivePathOf(dir_.path() / name) + W("\\");
  }

  void WriteConfig(const std::string& folder, const std::string& text) {
    WriteBytes(dir_.path() / folder / "QV_LOG.INI", text);
  }

  // The first detail line of a log file, which the runs below use as a mark.
  std::string MarkOf(const fs::path& path) {
    std::vector<WString> lines = ReadLogLines(path);
    return lines.size() > 2 ? U8(lines[2]) : std::string();
  }

  void RunOnce(const std::string& mark) {
    auto log = MakeLog(&system_);
    ASSERT_TRUE(log->IsOpen());
    log->LogDetail(QVT("%s"), W(mark).c_str());
  }

  TempDir dir_;
  FakeSystem system_;
};

TEST_F(LogConfigTest, WithoutConfigurationNoFileIsWrittenAndAllIsSilent) {
  system_.roots = {Root("c"), Root("d")};
  dir_.MakeDir("cwd");
  system_.currentFolder = DrivePathOf(dir_.path() / "cwd");
  auto log = MakeLog(&system_);
  EXPECT_FALSE(log->IsOpen());
  EXPECT_TRUE(log->GetFileName().IsEmpty());
  EXPECT_EQ(log->GetLevel(), 3u);
  EXPECT_EQ(log->WriteLine(QVT("line")), 1);
  EXPECT_EQ(log->LogDetail(QVT("detail")), 0);
  EXPECT_EQ(log->Returned(5), 5);
  EXPECT_EQ(log->WriteSummary(), 0);
  EXPECT_EQ(system_.createdFiles, 0);
  for (const char* folder : {"c", "d", "cwd"}) EXPECT_TRUE(fs::is_empty(dir_.path() / folder)) << folder;
}

TEST_F(LogConfigTest, FirstRootHoldingTheFileWinsAndCdRomRootsAreSkipped) {
  system_.roots = {Root("cdrom"), Root("empty"), Root("fixed"), Root("later")};
  system_.driveTypes[system_.roots[0]] = qv::platform::kDriveTypeCdRom;
  WriteConfig("cdrom", "[LOG]\r\nOutputName=cdrom.log\r\n");
  WriteConfig("fixed", "[LOG]\r\nOutputName=fixed.log\r\n");
  WriteConfig("later", "[LOG]\r\nOutputName=later.log\r\n");
  auto log = MakeLog(&system_);
  EXPECT_TRUE(log->IsOpen());
  EXPECT_EQ(WString(log->GetFileName()), system_.roots[2] + W("fixed.log"));
  EXPECT_TRUE(fs::exists(dir_.path() / "fixed" / "fixed.log"));
  EXPECT_FALSE(fs::exists(dir_.path() / "cdrom" / "cdrom.log"));
  EXPECT_FALSE(fs::exists(dir_.path() / "later" / "later.log"));
}

TEST_F(LogConfigTest, RelativeOutputNameIsTakenFromTheConfigurationFolder) {
  system_.roots = {Root("root")};
  dir_.MakeDir("root/logs");
  WriteConfig("root", "[LOG]\r\nOutputName=logs\\run.log\r\n");
  auto log = MakeLog(&system_);
  EXPECT_TRUE(log->IsOpen());
  EXPECT_TRUE(fs::exists(dir_.path() / "root" / "logs" / "run.log"));
}

TEST_F(LogConfigTest, OutputNameWithDriveIsUsedUnchanged) {
  system_.roots = {Root("root")};
  WString elsewhere = Root("elsewhere") + W("abs.log");
  WriteConfig("root", "[LOG]\r\nOutputName=" + U8(elsewhere) + "\r\n");
  auto log = MakeLog(&system_);
  EXPECT_EQ(WString(log->GetFileName()), elsewhere);
  EXPECT_TRUE(fs::exists(dir_.path() / "elsewhere" / "abs.log"));
}

TEST_F(LogConfigTest, DefaultOutputNameIsTheProgramFileFollowedByReLog) {
  std::string name = U8(WString(QV_LOG::DefaultLogName()));
  EXPECT_TRUE(name == "qv_log_tests.re.LOG" || name == "qv_log_tests.exe.re.LOG") << name;

  system_.roots = {Root("root")};
  WriteConfig("root", "[LOG]\r\nLogLevel=4\r\n");
  auto log = MakeLog(&system_);
  EXPECT_EQ(log->GetLevel(), 4u);
  EXPECT_TRUE(fs::exists(dir_.path() / "root" / name));
}

TEST_F(LogConfigTest, LevelAndNameAreReadFromUtf16ConfigurationIgnoringCase) {
  system_.roots = {Root("root")};
  WriteBytes(dir_.path() / "root" / "QV_LOG.INI",
             Utf16LeWithMark("; trace everything\r\n[log]\r\n outputname = u16.log \r\n LOGLEVEL = 13 \r\n"));
  auto log = MakeLog(&system_);
  EXPECT_EQ(log->GetLevel(), 13u);
  EXPECT_TRUE(fs::exists(dir_.path() / "root" / "u16.log"));
}

TEST_F(LogConfigTest, ExplicitNameWinsButTheLevelStillComesFromTheConfiguration) {
  system_.roots = {Root("root")};
  WriteConfig("root", "[LOG]\r\nOutputName=configured.log\r\nLogLevel=8\r\n");
  WString explicitName = Root("mine") + W("explicit.log");
  auto log = MakeLog(&system_, explicitName);
  EXPECT_EQ(WString(log->GetFileName()), explicitName);
  EXPECT_EQ(log->GetLevel(), 8u);
  EXPECT_FALSE(fs::exists(dir_.path() / "root" / "configured.log"));
}

TEST_F(LogConfigTest, CurrentFolderIsSearchedLastWithoutTrailingBackslash) {
  system_.roots = {Root("c")};
  dir_.MakeDir("cwd");
  WriteConfig("cwd", "[LOG]\r\nOutputName=here.log\r\n");
  system_.currentFolder = DrivePathOf(dir_.path() / "cwd");
  auto log = MakeLog(&system_);
  EXPECT_EQ(WString(log->GetFileName()), system_.currentFolder + W("\\here.log"));
  EXPECT_TRUE(fs::exists(dir_.path() / "cwd" / "here.log"));
}

TEST_F(LogConfigTest, CurrentFolderCandidateMustOpenForReadingAndWriting) {
  // A folder of that name exists but is no file to open.
  dir_.MakeDir("cwd/QV_LOG.INI");
  system_.currentFolder = DrivePathOf(dir_.path() / "cwd");
  auto log = MakeLog(&system_);
  EXPECT_FALSE(log->IsOpen());
  EXPECT_TRUE(log->GetFileName().IsEmpty());
}

TEST_F(LogConfigTest, EachStartKeepsOnePreviousLogAsBak) {
  system_.roots = {Root("root")};
  WriteConfig("root", "[LOG]\r\nOutputName=run.log\r\nLogLevel=8\r\n");
  fs::path current = dir_.path() / "root" / "run.log";
  fs::path previous = dir_.path() / "root" / "run.log.bak";

  RunOnce("first");
  EXPECT_FALSE(fs::exists(previous));
  RunOnce("second");
  EXPECT_EQ(MarkOf(previous), "first");
  EXPECT_EQ(MarkOf(current), "second");
  RunOnce("third");
  EXPECT_EQ(MarkOf(previous), "second");
  EXPECT_EQ(MarkOf(current), "third");
}

TEST_F(LogConfigTest, FolderNamedLikeTheLogIsNeitherMovedNorReplaced) {
  system_.roots = {Root("root")};
  WriteConfig("root", "[LOG]\r\nOutputName=run.log\r\n");
  dir_.WriteFile("root/run.log/inside.txt", 1);
  auto log = MakeLog(&system_);
  EXPECT_FALSE(log->IsOpen());
  EXPECT_TRUE(fs::exists(dir_.path() / "root" / "run.log" / "inside.txt"));
  EXPECT_FALSE(fs::exists(dir_.path() / "root" / "run.log.bak"));
}

}  // namespace
}  // namespace qvtest
