// The program's entry point where arguments come as UTF-16.
#include <vector>

#include "console.h"
#include "qvbackup/host.h"

int wmain(int argc, wchar_t** argv) {
  // Output is UTF-8 on every system; a console shows it as such.
  QVUseUtf8ConsoleOutput();
  std::vector<qvtool::WString> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return qvtool::RunQvbackup(arguments);
}
