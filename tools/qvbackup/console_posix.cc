#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "console.h"

namespace qvtool {

namespace {

// Read by the signal handler: a lock-free atomic is safe to read there.
std::atomic<volatile BOOL*> interruptFlag{nullptr};

extern "C" void RaiseInterruptFlag(int) {
  volatile BOOL* flag = interruptFlag.load();
  if (flag != nullptr) *flag = TRUE;
}

}  // namespace

void OnInterrupt(volatile BOOL* flag) {
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

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }
bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

bool ReadHiddenLine(const WString& prompt, WString* line) {
  if (!StandardInputIsTerminal()) return false;
  WriteError(prompt);
  std::fflush(stderr);
  termios saved;
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return false;
  termios quiet = saved;
  quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  std::string text;
  bool ended = false;
  char c = 0;
  while (read(STDIN_FILENO, &c, 1) == 1) {
    if (c == '\n') {
      ended = true;
      break;
    }
    text.push_back(c);
  }
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  WriteError(Widen("\n"));
  if (!ended && text.empty()) return false;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  *line = Widen(text);
  return true;
}

}  // namespace qvtool

int main(int argc, char** argv) {
  std::vector<qvtool::WString> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(qvtool::Widen(argv[i]));
  return qvtool::RunQvbackup(arguments);
}
