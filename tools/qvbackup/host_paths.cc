#include "host_paths.h"

#include <string>
#include <type_traits>
#include <vector>

#include "qvbackup/host.h"

namespace qvtool {

std::filesystem::path NativePath(const WString& typed) {
  // The standard library names files in UTF-16 where the system does, and
  // in bytes elsewhere; the library's conversion keeps bytes that are not
  // UTF-8 as they were.
  using NativeChar = std::filesystem::path::value_type;
  if constexpr (sizeof(NativeChar) == sizeof(WCHAR)) {
    return std::filesystem::path(std::basic_string<NativeChar>(typed.begin(), typed.end()));
  } else {
    std::vector<char> buffer(typed.size() * 3 + 1);
    const DWORD length = QVUtf16ToUtf8(typed.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::filesystem::path(std::string(buffer.data(), length));
  }
}

std::filesystem::path ProgramFolder() {
  std::vector<WCHAR> buffer(4096);
  DWORD length = QVGetProgramPath(buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0) {
    buffer.resize(32768);
    length = QVGetProgramPath(buffer.data(), static_cast<DWORD>(buffer.size()));
  }
  if (length == 0) return std::filesystem::path();
  return NativePath(WString(buffer.data(), length)).parent_path();
}

}  // namespace qvtool
