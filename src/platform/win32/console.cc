// The console on Windows: console modes, ReadConsoleW, the console control
// handler and GetModuleFileNameW.
#include "platform/console.h"

#include <atomic>
#include <vector>

#include "platform/win32/win32_support.h"

namespace qv::platform {

namespace {

DWORD HandleNumberOf(StandardStream stream) {
  switch (stream) {
    case StandardStream::kInput:
      return STD_INPUT_HANDLE;
    case StandardStream::kOutput:
      return STD_OUTPUT_HANDLE;
    case StandardStream::kError:
      break;
  }
  return STD_ERROR_HANDLE;
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

// Echo off (line input on) for as long as it lives.
class EchoOff {
 public:
  explicit EchoOff(HANDLE input) : input_(input) {
    if (!GetConsoleMode(input_, &saved_)) return;
    active_ = SetConsoleMode(input_, (saved_ | ENABLE_LINE_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
  }
  ~EchoOff() {
    if (active_) SetConsoleMode(input_, saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  HANDLE input_;
  DWORD saved_ = 0;
  bool active_ = false;
};

}  // namespace

bool IsConsole(StandardStream stream) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(HandleNumberOf(stream)), &mode) != 0;
}

void UseUtf8ConsoleOutput() { SetConsoleOutputCP(CP_UTF8); }

bool ReadHiddenLine(WString* line) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!IsConsole(StandardStream::kInput)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  WString text;
  bool ended = false;
  {
    EchoOff echoOff(input);
    WCHAR buffer[256];
    DWORD read = 0;
    while (!ended && ReadConsoleW(input, buffer, 256, &read, nullptr) && read > 0) {
      for (DWORD i = 0; i < read && !ended; ++i) {
        if (buffer[i] == L'\n') ended = true;
        else if (buffer[i] != L'\r') text.push_back(buffer[i]);
      }
    }
    SecureZeroMemory(buffer, sizeof(buffer));
  }
  if (!ended && text.empty()) {
    SetLastError(ERROR_HANDLE_EOF);
    return false;
  }
  *line = text;
  SecureZeroMemory(text.data(), text.size() * sizeof(WCHAR));
  return true;
}

void SetInterruptFlag(volatile BOOL* flag) {
  interrupted.store(false);
  interruptFlag.store(flag);
  SetConsoleCtrlHandler(RaiseInterruptFlag, flag != nullptr ? TRUE : FALSE);
}

bool GetProgramPath(WString* path) {
  // The path may be longer than MAX_PATH: grow until it fits.
  std::vector<WCHAR> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return false;
    if (length < buffer.size()) {
      path->assign(buffer.data(), length);
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool GetEnvironmentText(const WCHAR* name, WString* value) {
  // The value may change between the two calls: ask until it fits.
  std::vector<WCHAR> buffer(256);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      if (GetLastError() != ERROR_SUCCESS) return false;
      value->clear();
      return true;
    }
    if (length < buffer.size()) {
      value->assign(buffer.data(), length);
      return true;
    }
    buffer.resize(length);
  }
}

}  // namespace qv::platform
