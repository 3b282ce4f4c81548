// The program's entry point where arguments come as bytes (UTF-8, or
// names of any bytes, which the library carries through unchanged).
#include <string>
#include <vector>

#include "qvbackup/host.h"

int main(int argc, char** argv) {
  std::vector<std::basic_string<WCHAR>> arguments;
  for (int i = 1; i < argc; ++i) {
    std::string bytes(argv[i]);
    std::vector<WCHAR> buffer(bytes.size() + 1);
    const DWORD length = QVUtf8ToUtf16(bytes.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    arguments.emplace_back(buffer.data(), length);
  }
  std::vector<LPCWSTR> pointers;
  for (const auto& argument : arguments) pointers.push_back(argument.c_str());
  return QVRunQvbackup(static_cast<DWORD>(pointers.size()), pointers.data());
}
