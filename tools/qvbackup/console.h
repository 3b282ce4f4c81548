// The terminal side of qvbackup: the arguments as UTF-16, and UTF-8 output.
// One implementation per system (console_posix.cc, console_win32.cc); each
// provides the program's entry point and calls RunQvbackup.
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

// UTF-16 from UTF-8 text (for literals and numbers).
WString Widen(const std::string& text);

// The drive path ("C:\Users\a") of a path as the user typed it (a native
// path on Linux); empty with the last error when no drive holds it.
WString DrivePathOf(const WString& path);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_CONSOLE_H_
