#include <windows.h>

#include <string>
#include <vector>

#include "host_paths.h"

namespace qvtool {

std::filesystem::path NativePath(const WString& typed) { return std::filesystem::path(std::wstring(typed)); }

std::filesystem::path ProgramFolder() {
  // The path may be longer than MAX_PATH: grow until it fits.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::filesystem::path();
    if (length < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), length)).parent_path();
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace qvtool
