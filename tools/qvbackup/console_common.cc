// What the program and the library's run of the commands share of the
// console layer: text conversion and drive paths.
#include <vector>

#include "console.h"
#include "qvbackup/host.h"

namespace qvtool {

WString Widen(const std::string& text) {
  std::vector<WCHAR> buffer(text.size() + 1);
  DWORD length = QVUtf8ToUtf16(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return WString(buffer.data(), length);
}

WString DrivePathOf(const WString& path) {
  std::vector<WCHAR> buffer(32768);
  DWORD length = QVGetDrivePath(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return WString(buffer.data(), length);
}

}  // namespace qvtool
