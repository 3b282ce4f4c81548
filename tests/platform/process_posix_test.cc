// Running other programs: arguments passed whole, both output streams kept
// apart, exit statuses and signals, a program that is not there, cancel.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "platform/process.h"
#include "platform/text.h"

namespace qv::platform {
namespace {

WString W(const char* text) { return Utf8ToUtf16(text); }

TEST(ProcessPosixTest, ArgumentsArriveWholeAndBothStreamsAreKept) {
  ProgramRun run;
  // Spaces, quotes, a shell's metacharacters and a byte that is not UTF-8,
  // each one argument, none interpreted.
  const std::vector<WString> arguments{W("-c"), W("printf '%s|' \"$@\"; printf 'to err' >&2; exit 3"), W("sh"),
                                       W("a b"), W("\"q\""), W("$HOME;*"), Utf8ToUtf16("\xff")};
  ASSERT_TRUE(RunProgram(W("sh"), arguments, &run));
  EXPECT_EQ(run.exitCode, 3u);
  EXPECT_EQ(run.output, "a b|\"q\"|$HOME;*|\xff|");
  EXPECT_EQ(run.errors, "to err");
}

TEST(ProcessPosixTest, LargeOutputOnBothStreamsDoesNotStall) {
  ProgramRun run;
  // More than a pipe holds on each stream, written in turns.
  ASSERT_TRUE(RunProgram(W("sh"), {W("-c"), W("i=0; while [ $i -lt 2000 ]; do echo 0123456789012345678901234567890123456789; "
                                          "echo abcdefghijabcdefghijabcdefghijabcdefghij >&2; i=$((i+1)); done")},
                         &run));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output.size(), 2000u * 41);
  EXPECT_EQ(run.errors.size(), 2000u * 41);
}

TEST(ProcessPosixTest, StandardInputIsEmptyAndSignalsAreTold) {
  ProgramRun run;
  ASSERT_TRUE(RunProgram(W("sh"), {W("-c"), W("cat; echo done")}, &run));
  EXPECT_EQ(run.output, "done\n");
  ASSERT_TRUE(RunProgram(W("sh"), {W("-c"), W("kill -9 $$")}, &run));
  EXPECT_EQ(run.exitCode, 128u + 9);
}

TEST(ProcessPosixTest, AProgramThatIsNotThereIsNotFound) {
  ProgramRun run;
  SetLastError(0);
  EXPECT_FALSE(RunProgram(W("qv-no-such-program"), {}, &run));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(RunProgram(W("/nonexistent/folder/prog"), {}, &run));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(FindProgram(W("qv-no-such-program")).empty());
  EXPECT_FALSE(FindProgram(W("sh")).empty());
  // A folder is not a program.
  EXPECT_TRUE(FindProgram(W("/tmp")).empty());
}

TEST(ProcessPosixTest, ACancelEndsTheProgram) {
  // The program opens a named pipe nobody ever writes to: it waits for
  // ever, and only the cancel word, raised already, ends it.
  qvtest::TempDir temp;
  const std::filesystem::path fifo = temp.path() / "never-written";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ProgramRun run;
  volatile BOOL cancel = TRUE;
  SetLastError(0);
  EXPECT_FALSE(RunProgram(W("sh"), {W("-c"), W("exec cat \"$0\""), Utf8ToUtf16(fifo.string())}, &run, &cancel));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
}

}  // namespace
}  // namespace qv::platform
