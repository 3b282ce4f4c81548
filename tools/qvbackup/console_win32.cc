#include <vector>

#include "console.h"

int wmain(int argc, wchar_t** argv) {
  // Output is UTF-8 on every system; a console shows it as such.
  SetConsoleOutputCP(CP_UTF8);
  std::vector<qvtool::WString> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return qvtool::RunQvbackup(arguments);
}
