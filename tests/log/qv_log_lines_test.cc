// What the log writes: the whole file byte for byte, each level, the
// indentation and prefixes of nested operations, error lines and the
// summary. The configuration is a real QV_LOG.INI in a temporary folder
// that the fake system offers as its only drive root.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "log/log_test_util.h"

namespace qvtest {
namespace {

constexpr char kLogName[] = "run.log";

class LogLinesTest : public ::testing::Test {
 protected:
  // A log configured with `level`, writing `name` in the temporary folder.
  std::unique_ptr<QV_LOG> OpenLog(int level, const std::string& name = kLogName) {
    WriteBytes(dir_.path() / "QV_LOG.INI",
               "[LOG]\r\nOutputName=" + name + "\r\nLogLevel=" + std::to_string(level) + "\r\n");
    system_.roots = {dir_.DrivePath() + W("\\")};
    auto log = MakeLog(&system_);
    EXPECT_TRUE(log->IsOpen()) << "level " << level;
    return log;
  }

  // The log's lines without the banner block (banner, empty line) and,
  // once it was written, with the summary block.
  std::vector<WString> Body(const std::string& name = kLogName) {
    std::vector<WString> lines = ReadLogLines(dir_.path() / name);
    if (lines.size() < 2) {
      ADD_FAILURE() << "no banner block";
      return {};
    }
    return std::vector<WString>(lines.begin() + 2, lines.end());
  }

  TempDir dir_;
  FakeSystem system_;
};

TEST_F(LogLinesTest, ExampleRunIsWrittenByteForByte) {
  auto log = OpenLog(5);
  log->Enter(QVT("CQVBackupControl::EndBackup()"));
  SetLastError(ERROR_FILE_NOT_FOUND);
  log->LogError(QVT("%s failed"), QVT("CreateBlock"));
  EXPECT_EQ(log->Returned(0), 0);
  system_.now = kExampleEnd;
  EXPECT_EQ(log->WriteSummary(), 1);

  std::vector<WString> expected = {
      ExpectedExampleBanner(),
      W(""),
      W("  CQVBackupControl::EndBackup : ENTER CQVBackupControl::EndBackup()"),
      W("  CQVBackupControl::EndBackup : ERROR : CreateBlock failed") + ExplanationOf(ERROR_FILE_NOT_FOUND),
      W("  CQVBackupControl::EndBackup : RETURNED 0"),
      W("  "),
      W(""),
      W("-> 03/02/2011 - 10:12:55"),
      W("-> 1 error(s), 0 warning(s)"),
      W(""),
  };
  EXPECT_EQ(ReadBytes(dir_.path() / kLogName), LogFileBytes(expected));
  EXPECT_FALSE(log->IsOpen());
}

struct LevelCase {
  int level;
  std::vector<std::string> body;  // between the banner block and the summary's time line
  bool countsLine;
};

TEST_F(LogLinesTest, EachLevelWritesOnlyItsKindsOfLines) {
  const std::string denied = U8(ExplanationOf(ERROR_ACCESS_DENIED));
  const LevelCase cases[] = {
      {3, {"ERROR : open" + denied, ""}, true},
      {4, {"  Op::Run : ENTER Op::Run(7)", "  Op::Run : RETURNED 1", "  ", ""}, false},
      {8, {"detail 1", ""}, false},
      {2, {""}, false},
      {13,
       {"  Op::Run : ENTER Op::Run(7)", "  Op::Run : ERROR : open" + denied, "  Op::Run : detail 1",
        "  Op::Run : RETURNED 1", "  ", ""},
       true},
  };
  for (const LevelCase& c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level));
    std::string name = "level" + std::to_string(c.level) + ".log";
    auto log = OpenLog(c.level, name);
    log->Enter(QVT("Op::Run(%d)"), 7);
    SetLastError(ERROR_ACCESS_DENIED);
    log->LogError(QVT("open"));
    bool errorsOn = (c.level & LOG_ERRORS) != 0;
    EXPECT_EQ(GetLastError(), errorsOn ? 0u : static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(log->GetErrorCount(), errorsOn ? 1u : 0u);
    log->LogDetail(QVT("detail %d"), 1);
    log->Returned(1);
    log->WriteSummary();

    std::vector<WString> expected;
    for (const std::string& line : c.body) expected.push_back(W(line));
    expected.push_back(W("-> 03/02/2011 - 10:12:40"));
    if (c.countsLine) expected.push_back(W("-> 1 error(s), 0 warning(s)"));
    expected.push_back(W(""));
    EXPECT_EQ(Body(name), expected);
  }
}

TEST_F(LogLinesTest, NestedOperationsIndentAndRestoreTheOuterPrefix) {
  auto log = OpenLog(LOG_TRACE | LOG_DETAILS);
  log->Enter(QVT("Outer::Run()"));
  log->LogDetail(QVT("a"));
  log->Enter(QVT("Inner::Step(%s)"), QVT("x"));
  log->LogDetail(QVT("b"));
  log->Exit();
  log->LogDetail(QVT("c"));
  EXPECT_EQ(log->Returned(3, QVT("done")), 3);
  log->LogDetail(QVT("d"));
  EXPECT_EQ(Body(), (std::vector<WString>{
                        W("  Outer::Run : ENTER Outer::Run()"),
                        W("  Outer::Run : a"),
                        W("    Inner::Step : ENTER Inner::Step(x)"),
                        W("    Inner::Step : b"),
                        W("    Inner::Step : EXIT"),
                        W("    "),
                        W("  Outer::Run : c"),
                        W("  Outer::Run : RETURNED 3 (done)"),
                        W("  "),
                        W("d"),
                    }));
}

TEST_F(LogLinesTest, NameIsTheFormatTextUpToItsFirstParenthesisOrAllOfIt) {
  auto log = OpenLog(LOG_TRACE | LOG_DETAILS);
  log->Enter(QVT("Worker::Do(%s)"), QVT("a(b"));
  log->Enter(QVT("Plain step"));
  log->LogDetail(QVT("x"));
  EXPECT_EQ(log->ReturnedText(QVT("value")), CQVString(QVT("value")));
  log->Exit();
  EXPECT_EQ(Body(), (std::vector<WString>{
                        W("  Worker::Do : ENTER Worker::Do(a(b)"),
                        W("    Plain step : ENTER Plain step"),
                        W("    Plain step : x"),
                        W("    Plain step : RETURNED value"),
                        W("    "),
                        W("  Worker::Do : EXIT"),
                        W("  "),
                    }));
}

TEST_F(LogLinesTest, EmptyEnterTextPushesNothingAndSaysNoFunctionDefined) {
  auto log = OpenLog(LOG_TRACE | LOG_DETAILS);
  log->Enter(QVT(""));
  log->LogDetail(QVT("x"));
  log->Exit();
  log->LogDetail(QVT("y"));
  EXPECT_EQ(Body(), (std::vector<WString>{
                        W("No function defined : ENTER "),
                        W("No function defined : x"),
                        W("No function defined : EXIT"),
                        W(""),
                        W("y"),
                    }));
}

TEST_F(LogLinesTest, ErrorLineExplainsTheLastErrorOnlyWhenThereIsOne) {
  auto log = OpenLog(LOG_ERRORS);
  SetLastError(0);
  EXPECT_EQ(log->LogError(QVT("plain")), 1);
  SetLastError(12345);
  EXPECT_EQ(log->LogError(QVT("code %d"), 1), 1);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(log->GetErrorCount(), 2u);
  log->WriteSummary();
  EXPECT_EQ(Body(), (std::vector<WString>{
                        W("ERROR : plain"),
                        W("ERROR : code 1 (Error 12345)"),
                        W(""),
                        W("-> 03/02/2011 - 10:12:40"),
                        W("-> 2 error(s), 0 warning(s)"),
                        W(""),
                    }));
}

TEST_F(LogLinesTest, MessagesAreCutAt1024UnitsNeverInsideASurrogatePair) {
  auto log = OpenLog(LOG_DETAILS);
  WString longText(2000, 'a');
  log->LogDetail(QVT("%s"), longText.c_str());
  WString pairAtTheEdge = WString(1023, 'b') + W("\xF0\x9F\x98\x80") + W("tail");
  log->LogDetail(QVT("%s"), pairAtTheEdge.c_str());
  EXPECT_EQ(Body(), (std::vector<WString>{WString(1024, 'a'), WString(1023, 'b')}));
}

TEST_F(LogLinesTest, LoggingKeepsTheCallersLastErrorEvenWhenTheFileFails) {
  auto log = OpenLog(LOG_TRACE | LOG_DETAILS);
  auto traceAndCheck = [&](const char* when) {
    SetLastError(ERROR_INVALID_PARAMETER);
    log->Enter(QVT("Op::Run()"));
    log->LogDetail(QVT("working"));
    EXPECT_EQ(log->Returned(0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << when;
  };
  traceAndCheck("writes succeed");
  system_.failWrites = true;
  traceAndCheck("writes fail");
  log->WriteSummary();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "summary";
}

TEST_F(LogLinesTest, LeavingPassesValuesThroughWithAndWithoutTrace) {
  auto log = OpenLog(LOG_ERRORS);
  static_assert(std::is_same_v<decltype(log->Returned(DWORD{1})), DWORD>);
  EXPECT_EQ(log->Returned(DWORD{0xFFFFFFFF}), DWORD{0xFFFFFFFF});
  EXPECT_EQ(log->ReturnedText(QVT("text")), CQVString(QVT("text")));
  EXPECT_TRUE(Body().empty());

  auto traced = OpenLog(LOG_TRACE, "traced.log");
  traced->Enter(QVT("Op::Size()"));
  EXPECT_EQ(traced->Returned(DWORD{0xFFFFFFFF}, QVT("")), DWORD{0xFFFFFFFF});
  EXPECT_EQ(Body("traced.log"), (std::vector<WString>{W("  Op::Size : ENTER Op::Size()"),
                                                      W("  Op::Size : RETURNED -1"), W("  ")}));
}

TEST_F(LogLinesTest, FailedWriteReturnsZeroAndLaterLinesAreWrittenAgain) {
  auto log = OpenLog(LOG_DETAILS);
  EXPECT_EQ(log->LogDetail(QVT("before")), 1);
  system_.failWrites = true;
  EXPECT_EQ(log->LogDetail(QVT("lost")), 0);
  EXPECT_TRUE(log->IsOpen());
  system_.failWrites = false;
  EXPECT_EQ(log->LogDetail(QVT("after")), 1);
  EXPECT_EQ(Body(), (std::vector<WString>{W("before"), W("after")}));
}

TEST_F(LogLinesTest, DestroyingTheLogWritesTheSummaryWithTheTimeThen) {
  {
    auto log = OpenLog(LOG_DETAILS);
    log->LogDetail(QVT("work"));
    system_.now = 1324803907;  // 25 December 2011 09:05:07
  }
  EXPECT_EQ(Body(), (std::vector<WString>{W("work"), W(""), W("-> 25/12/2011 - 09:05:07"), W("")}));
}

TEST_F(LogLinesTest, OpenOnAnOpenLogOnlyReportsThatItIsOpen) {
  auto log = OpenLog(LOG_DETAILS);
  WString other = dir_.DrivePath() + W("\\other.log");
  EXPECT_NE(log->Open(other.c_str()), 0);
  EXPECT_EQ(WString(log->GetFileName()), dir_.DrivePath() + W("\\run.log"));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "other.log"));
  EXPECT_EQ(system_.createdFiles, 1);
}

TEST_F(LogLinesTest, LogThatCannotCreateItsFileStaysClosedAndSilent) {
  WString unreachable = dir_.DrivePath() + W("\\missing\\run.log");
  auto log = MakeLog(&system_, unreachable);
  EXPECT_FALSE(log->IsOpen());
  EXPECT_EQ(log->WriteLine(QVT("text")), 1);
  EXPECT_EQ(log->Enter(QVT("Op::Run()")), 0);  // the default level has no trace
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(log->LogError(QVT("failed")), 1);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(log->WriteSummary(), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "missing"));
}

}  // namespace
}  // namespace qvtest
