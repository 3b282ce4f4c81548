// The terminal side of qvbackup: the arguments as UTF-16, and UTF-8 output.
// The entry point of each system (entry_posix.cc, entry_win32.cc) calls
// RunQvbackup. The commands also run inside the library, for its C
// interface: there a host's session stands in for the terminal
// (console_terminal.cc is the program's side, src/capi the library's).
#ifndef QVBACKUP_TOOLS_CONSOLE_H_
#define QVBACKUP_TOOLS_CONSOLE_H_

#include <string>
#include <vector>

#include "qvbackup/wintypes.h"

namespace qvtool {

using WString = std::basic_string<WCHAR>;

// The program proper: `arguments` without the program name; returns the exit
// status.
int RunQvbackup(const std::vector<WString>& arguments);

// Writes text to standard output / standard error as UTF-8.
void WriteOut(const WString& text);
void WriteError(const WString& text);

// Whether standard error / standard input is a terminal (a console).
bool StandardErrorIsTerminal();
bool StandardInputIsTerminal();

// Shows `prompt` on standard error and reads one line from the terminal
// without echoing it. False at end of input or when there is no terminal.
bool ReadHiddenLine(const WString& prompt, WString* line);

// From now on an interrupt from the terminal (Ctrl-C) sets *flag to TRUE
// instead of ending the program, so that the work under way can stop
// cleanly; a second interrupt ends the program as usual. A null `flag`
// gives the interrupt back to the system. `flag` must stay valid until then.
void OnInterrupt(volatile BOOL* flag);

// Ctrl-C raises `*flag` while the guard lives.
class InterruptGuard {
 public:
  explicit InterruptGuard(volatile BOOL* flag) { OnInterrupt(flag); }
  ~InterruptGuard() { Release(); }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
  void Release() { OnInterrupt(nullptr); }
};

// The progress of the work under way, 0 to 100, as the progress bar gets
// it: a terminal draws the bar instead, a host is told.
void ReportProgress(DWORD percent);

// The password a host gave for the run, taking the place of a prompt.
// False on a terminal, and when the host gave none.
bool HostPassword(WString* password);

// How to give a password, for messages: "with --password-file or
// --password-env" on the command line, the host's call in the library.
WString PasswordHint();

// UTF-16 from UTF-8 text (for literals and numbers).
WString Widen(const std::string& text);

// The drive path ("C:\Users\a") of a path as the user typed it (a native
// path on Linux); empty with the last error when no drive holds it.
WString DrivePathOf(const WString& path);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_CONSOLE_H_
