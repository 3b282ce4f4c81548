// Running another program and waiting for it: the library hands files to
// tools of the user's system (rclone) this way.
//
// Every function that fails sets the thread's last error to a Windows error
// number; success leaves the last error as it was.
#ifndef QVBACKUP_PLATFORM_PROCESS_H_
#define QVBACKUP_PLATFORM_PROCESS_H_

#include <string>
#include <vector>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::platform {

struct ProgramRun {
  DWORD exitCode = 0;   // the program's exit status (POSIX: 128 + N when signal N ended it)
  std::string output;   // what it wrote on standard output, as bytes
  std::string errors;   // what it wrote on standard error
};

// Runs `program` (a native path, or a bare name looked up on the PATH) with
// `arguments` (native texts, each passed as one argument, nothing
// interpreted by a shell), standard input empty, the environment the
// library's process has; waits for it to end and keeps what it wrote.
// When *cancel (may be null) becomes TRUE the program is ended and the run
// fails with ERROR_CANCELLED. False with the system's error when the
// program cannot be started (ERROR_FILE_NOT_FOUND when there is none by
// that name); a program that ran and failed is a success with its exit
// code.
bool RunProgram(const WString& program, const std::vector<WString>& arguments, ProgramRun* run,
                const volatile BOOL* cancel = nullptr);

// The native path of `name` found on the PATH (a name with a separator is
// taken as it is, when it names a file that may be run). Empty with
// ERROR_FILE_NOT_FOUND when there is none.
WString FindProgram(const WString& name);

// The path another program is given for the library's drive path
// `drivePath` (POSIX: through the drive map; Windows: the path itself).
// False with ERROR_PATH_NOT_FOUND when no drive holds it.
bool ProgramPathOf(const WString& drivePath, WString* native);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_PROCESS_H_
