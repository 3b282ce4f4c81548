// The console side of qvsfx: UTF-8 output, the password without echo, the
// program's own path, and the system's text for an error.
#ifndef QVBACKUP_TOOLS_QVSFX_SFX_CONSOLE_H_
#define QVBACKUP_TOOLS_QVSFX_SFX_CONSOLE_H_

#include <string>

#include "qvbackup/wintypes.h"

namespace qvsfx {

void WriteOut(const std::wstring& text);
void WriteError(const std::wstring& text);

// "qvsfx: WHAT: WHY" on standard error, WHY being the system's text for
// `error` (its number when there is none).
void Complain(const std::wstring& what, DWORD error);
void ComplainBecause(const std::wstring& what, const std::wstring& why);

// The full path of the running program; empty when the system cannot say.
std::wstring ProgramPath();

// The full form of `path` (relative to the current folder); `path` itself
// when the system cannot make it.
std::wstring FullPath(const std::wstring& path);

// The value of the environment variable `name`; false when it is not set.
bool ReadEnvironment(const wchar_t* name, std::wstring* value);

// Shows `prompt` and reads one line from the console without echoing it.
// False when standard input is no console or at its end.
bool ReadHiddenLine(const std::wstring& prompt, std::wstring* line);

}  // namespace qvsfx

#endif  // QVBACKUP_TOOLS_QVSFX_SFX_CONSOLE_H_
