// The console layer of a run of the program on a terminal (console.h tells
// what each does); the library's console layer turns to it when no host's
// session is under way.
#ifndef QVBACKUP_TOOLS_CONSOLE_TERMINAL_H_
#define QVBACKUP_TOOLS_CONSOLE_TERMINAL_H_

#include "console.h"

namespace qvtool::terminal {

void WriteOut(const WString& text);
void WriteError(const WString& text);
bool StandardErrorIsTerminal();
bool StandardInputIsTerminal();
bool ReadHiddenLine(const WString& prompt, WString* line);
void OnInterrupt(volatile BOOL* flag);
void ReportProgress(DWORD percent);
WString PasswordHint();
bool HostPassword(WString* password);

}  // namespace qvtool::terminal

#endif  // QVBACKUP_TOOLS_CONSOLE_TERMINAL_H_
