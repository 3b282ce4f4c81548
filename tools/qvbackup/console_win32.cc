#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <vector>

#include "console.h"

namespace qvtool {

namespace {

bool IsConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

// The console calls its handler on a thread of its own.
std::atomic<volatile BOOL*> interruptFlag{nullptr};
std::atomic<bool> interrupted{false};

BOOL WINAPI RaiseInterruptFlag(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  volatile BOOL* flag = interruptFlag.load();
  // The second interrupt is left to the system, which ends the program.
  if (flag == nullptr || interrupted.exchange(true)) return FALSE;
  *flag = TRUE;
  return TRUE;
}

}  // namespace

void OnInterrupt(volatile BOOL* flag) {
  interrupted.store(false);
  interruptFlag.store(flag);
  SetConsoleCtrlHandler(RaiseInterruptFlag, flag != nullptr ? TRUE : FALSE);
}

bool StandardErrorIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }
bool StandardInputIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }

bool ReadHiddenLine(const WString& prompt, WString* line) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  if (!GetConsoleMode(input, &saved)) return false;
  WriteError(prompt);
  std::fflush(stderr);
  SetConsoleMode(input, (saved | ENABLE_LINE_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  WString text;
  WCHAR buffer[256];
  DWORD read = 0;
  bool ended = false;
  while (ReadConsoleW(input, buffer, 256, &read, nullptr) && read > 0) {
    for (DWORD i = 0; i < read && !ended; ++i) {
      if (buffer[i] == '\n') ended = true;
      else if (buffer[i] != '\r') text.push_back(buffer[i]);
    }
    if (ended) break;
  }
  SetConsoleMode(input, saved);
  WriteError(Widen("\n"));
  if (!ended && text.empty()) return false;
  *line = text;
  return true;
}

}  // namespace qvtool

int wmain(int argc, wchar_t** argv) {
  // Output is UTF-8 on every system; a console shows it as such.
  SetConsoleOutputCP(CP_UTF8);
  std::vector<qvtool::WString> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return qvtool::RunQvbackup(arguments);
}
