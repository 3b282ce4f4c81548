#include <string>
#include <system_error>
#include <vector>

#include "host_paths.h"
#include "qvbackup/host.h"

namespace qvtool {

std::filesystem::path NativePath(const WString& typed) {
  std::vector<char> buffer(typed.size() * 3 + 1);
  const DWORD length = QVUtf16ToUtf8(typed.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return std::filesystem::path(std::string(buffer.data(), length));
}

std::filesystem::path ProgramFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : program.parent_path();
}

}  // namespace qvtool
