// What a host program asks of the system about its console and itself: is a
// standard stream a terminal, a line read without echo, Ctrl-C turned into
// a flag, UTF-8 output, the program's own path and its environment.
//
// Functions that fail set the thread's last error to a Windows error number.
#ifndef QVBACKUP_PLATFORM_CONSOLE_H_
#define QVBACKUP_PLATFORM_CONSOLE_H_

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::platform {

enum class StandardStream { kInput, kOutput, kError };

// Whether the stream is a terminal (a console on Windows), not a file or a
// pipe.
bool IsConsole(StandardStream stream);

// Makes a console show the UTF-8 bytes the programs write as such
// (SetConsoleOutputCP(CP_UTF8)); POSIX terminals already do.
void UseUtf8ConsoleOutput();

// Reads one line from the terminal on standard input without echoing it;
// the line break is not stored (nor a carriage return before it). False
// with ERROR_INVALID_HANDLE when standard input is not a terminal, and with
// ERROR_HANDLE_EOF when the input ends before anything was typed.
bool ReadHiddenLine(WString* line);

// From now on an interrupt from the terminal (Ctrl-C) sets *flag to TRUE
// instead of ending the program; a second interrupt ends it as usual. Null
// gives interrupts back to what the program had before. `flag` must stay
// valid until then.
void SetInterruptFlag(volatile BOOL* flag);

// The full native path of the running program's file. False with the
// system's error when it cannot tell.
bool GetProgramPath(WString* path);

// The value of the environment variable `name`. False with
// ERROR_ENVVAR_NOT_FOUND when it is not set.
bool GetEnvironmentText(const WCHAR* name, WString* value);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_CONSOLE_H_
