// The program's entry point where arguments come as bytes (UTF-8).
#include <vector>

#include "console.h"

int main(int argc, char** argv) {
  std::vector<qvtool::WString> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(qvtool::Widen(argv[i]));
  return qvtool::RunQvbackup(arguments);
}
