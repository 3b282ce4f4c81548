// The program's entry point where arguments come as UTF-16.
#include <vector>

#include "qvbackup/host.h"

int wmain(int argc, wchar_t** argv) {
  // Output is UTF-8 on every system; a console shows it as such.
  QVUseUtf8ConsoleOutput();
  std::vector<LPCWSTR> arguments(argv + 1, argv + argc);
  return QVRunQvbackup(static_cast<DWORD>(arguments.size()), arguments.data());
}
