// Running other programs on Windows: the command line built so that each
// argument arrives whole, both output streams kept, exit codes, cancel.
// The child is qvbackup.exe from beside the test program, which names the
// command it was given when it does not know it, or this program itself.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/text.h"

namespace qv::platform {
namespace {

WString W(const char* text) { return Utf8ToUtf16(text); }

WString Qvbackup() {
  WString self;
  EXPECT_TRUE(GetExecutablePath(&self));
  return self.substr(0, self.find_last_of('\\') + 1) + W("qvbackup.exe");
}

TEST(ProcessWin32Test, ArgumentsArriveWholeAndTheExitCodeIsKept) {
  ProgramRun run;
  ASSERT_TRUE(RunProgram(Qvbackup(), {W("--version")}, &run));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output.rfind("qvbackup ", 0), 0u) << run.output;
  for (const char* typed : {"un known", "say \"hi\"", "trailing\\", "back\\\\slash \\\"q\\\"", ""}) {
    ASSERT_TRUE(RunProgram(Qvbackup(), {W(typed)}, &run));
    if (*typed == 0) {
      EXPECT_NE(run.exitCode, 0u);
      continue;
    }
    EXPECT_EQ(run.exitCode, 2u) << typed;
    EXPECT_NE(run.errors.find(std::string("unknown command '") + typed + "'"), std::string::npos)
        << typed << ": " << run.errors;
  }
}

TEST(ProcessWin32Test, AProgramThatIsNotThereIsNotFound) {
  ProgramRun run;
  SetLastError(0);
  EXPECT_FALSE(RunProgram(W("qv-no-such-program"), {}, &run));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(FindProgram(W("cmd")).empty());
}

// The long-running child of the cancel test: this test program itself, run
// for this case alone (disabled otherwise).
TEST(ProcessWin32Child, DISABLED_WaitsForEver) {
  // An event nothing ever raises.
  std::mutex lock;
  std::condition_variable never;
  std::unique_lock<std::mutex> hold(lock);
  never.wait(hold, [] { return false; });
}

TEST(ProcessWin32Test, ACancelEndsTheProgram) {
  WString self;
  ASSERT_TRUE(GetExecutablePath(&self));
  ProgramRun run;
  volatile BOOL cancel = TRUE;
  SetLastError(0);
  EXPECT_FALSE(RunProgram(self, {W("--gtest_also_run_disabled_tests"),
                                 W("--gtest_filter=ProcessWin32Child.DISABLED_WaitsForEver")},
                          &run, &cancel));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
}

TEST(ProcessWin32Test, TheWholeOutputComes) {
  // A usage text of some pages, read as the program writes it.
  ProgramRun run;
  ASSERT_TRUE(RunProgram(Qvbackup(), {W("backup"), W("--help")}, &run));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_GT(run.output.size(), 2000u);
  EXPECT_NE(run.output.find("--threads N"), std::string::npos);
}

}  // namespace
}  // namespace qv::platform
