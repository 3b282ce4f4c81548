// The terminal's side of the console layer: standard output and error, the
// terminal's prompts and its interrupt, for runs of the program (runs for a
// host of the C interface have theirs in src/capi).
#include <cstdio>
#include <vector>

#include "console_terminal.h"
#include "qvbackup/host.h"

namespace qvtool::terminal {

namespace {

void Write(std::FILE* stream, const WString& text) {
  std::vector<char> buffer(text.size() * 3 + 1);
  DWORD length = QVUtf16ToUtf8(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  std::fwrite(buffer.data(), 1, length, stream);
}

}  // namespace

void WriteOut(const WString& text) { Write(stdout, text); }
void WriteError(const WString& text) { Write(stderr, text); }

bool StandardErrorIsTerminal() { return QVIsConsole(QV_STANDARD_ERROR) != FALSE; }
bool StandardInputIsTerminal() { return QVIsConsole(QV_STANDARD_INPUT) != FALSE; }

bool ReadHiddenLine(const WString& prompt, WString* line) {
  if (!StandardInputIsTerminal()) return false;
  WriteError(prompt);
  std::fflush(stderr);
  std::vector<WCHAR> buffer(4096);
  DWORD length = 0;
  const bool read = QVReadHiddenLine(buffer.data(), static_cast<DWORD>(buffer.size()), &length) != FALSE;
  WriteError(Widen("\n"));
  if (read) line->assign(buffer.data(), length);
  for (volatile WCHAR& unit : buffer) unit = 0;
  return read;
}

void OnInterrupt(volatile BOOL* flag) { QVSetInterruptFlag(flag); }

// The progress bar draws itself on the terminal.
void ReportProgress(DWORD) {}

WString PasswordHint() { return Widen("with --password-file or --password-env"); }

// On a terminal the password comes from the options or the prompt.
bool HostPassword(WString*) { return false; }

}  // namespace qvtool::terminal
