// The console on POSIX: isatty, termios without ECHO, SIGINT and
// /proc/self/exe.
#include "platform/console.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/posix/posix_error.h"

namespace qv::platform {

namespace {

// Read by the signal handler: a lock-free atomic is safe to read there.
std::atomic<volatile BOOL*> interruptFlag{nullptr};

extern "C" void RaiseInterruptFlag(int) {
  volatile BOOL* flag = interruptFlag.load();
  if (flag != nullptr) *flag = TRUE;
}

int DescriptorOf(StandardStream stream) {
  switch (stream) {
    case StandardStream::kInput:
      return STDIN_FILENO;
    case StandardStream::kOutput:
      return STDOUT_FILENO;
    case StandardStream::kError:
      break;
  }
  return STDERR_FILENO;
}

// Echo off for as long as it lives.
class EchoOff {
 public:
  EchoOff() {
    if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    if (active_) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

}  // namespace

bool IsConsole(StandardStream stream) { return isatty(DescriptorOf(stream)) == 1; }

void UseUtf8ConsoleOutput() {}

bool ReadHiddenLine(WString* line) {
  if (!IsConsole(StandardStream::kInput)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  std::string text;
  bool ended = false;
  {
    EchoOff echoOff;
    char c = 0;
    for (;;) {
      const ssize_t got = read(STDIN_FILENO, &c, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got != 1) break;
      if (c == '\n') {
        ended = true;
        break;
      }
      text.push_back(c);
    }
  }
  if (!ended && text.empty()) {
    SetLastError(ERROR_HANDLE_EOF);
    return false;
  }
  if (!text.empty() && text.back() == '\r') text.pop_back();
  *line = Utf8ToUtf16(text);
  // The typed text leaves no copy behind in this function's buffer.
  for (volatile char& byte : text) byte = 0;
  return true;
}

void SetInterruptFlag(volatile BOOL* flag) {
  // What the program had before (the shell may have it ignore interrupts)
  // comes back when the flag is withdrawn.
  static struct sigaction previous;
  static bool installed = false;
  interruptFlag.store(flag);
  if (flag == nullptr) {
    if (installed) sigaction(SIGINT, &previous, nullptr);
    installed = false;
    return;
  }
  struct sigaction action = {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = RaiseInterruptFlag;
  // The handler goes after the first interrupt, so a second one ends the
  // program; reads and writes under way carry on rather than fail.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, installed ? nullptr : &previous);
  installed = true;
}

bool GetProgramPath(WString* path) {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    return posix::FailWithErrno(error.value());
  }
  *path = Utf8ToUtf16(program.native());
  return true;
}

bool GetEnvironmentText(const WCHAR* name, WString* value) {
  const char* text = std::getenv(Utf16ToUtf8(WStringView(name)).c_str());
  if (text == nullptr) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return false;
  }
  *value = Utf8ToUtf16(text);
  return true;
}

}  // namespace qv::platform
