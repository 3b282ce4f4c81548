// Running other programs on Windows: the command line built so that each
// argument arrives whole, both output streams kept, exit codes, cancel.
// The child is qvbackup.exe from beside the test program: it names the
// command it was given when it does not know it.
#include <gtest/gtest.h>

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

TEST(ProcessWin32Test, ACancelEndsTheProgram) {
  ProgramRun run;
  volatile BOOL cancel = TRUE;
  SetLastError(0);
  // cmd waits on the NUL input for ever: only the cancel ends it.
  EXPECT_FALSE(RunProgram(W("cmd.exe"), {W("/c"), W("pause")}, &run, &cancel));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
}

}  // namespace
}  // namespace qv::platform
