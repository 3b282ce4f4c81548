#include "platform/profile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/drive_map.h"
#include "platform/posix/ini_text.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {

namespace {

// Reads the whole file `path` into `bytes`; false with the last error set.
bool ReadWholeFile(const WCHAR* path, std::string* bytes) {
  posix::NativePath native;
  if (path == nullptr) return posix::FailWith(ERROR_FILE_NOT_FOUND);
  if (!posix::NativePathOf(path, &native)) return false;
  int descriptor = open(native.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return posix::FailWithErrno(errno);
  char chunk[4096];
  for (;;) {
    ssize_t count = read(descriptor, chunk, sizeof chunk);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      int error = errno;
      close(descriptor);
      return count == 0 || posix::FailWithErrno(error);
    }
    bytes->append(chunk, static_cast<std::size_t>(count));
  }
}

// The value of `key` in `section` of the file `path`; false when the file,
// the section or the key is missing.
bool LookUp(const WCHAR* path, const WCHAR* section, const WCHAR* key, WString* value) {
  std::string bytes;
  if (!ReadWholeFile(path, &bytes) || section == nullptr || key == nullptr) return false;
  return posix::FindIniValue(posix::DecodeIniText(bytes), section, key, value);
}

}  // namespace

DWORD ReadProfileString(const WCHAR* path, const WCHAR* section, const WCHAR* key, const WCHAR* defaultValue,
                        DWORD capacity, WString* value) {
  WString found;
  if (!LookUp(path, section, key, &found)) {
    WStringView fallback = defaultValue == nullptr ? WStringView() : WStringView(defaultValue);
    while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
    found.assign(fallback);
  }
  std::size_t room = capacity == 0 ? 0 : capacity - 1;
  if (found.size() > room) found.resize(room);
  *value = std::move(found);
  return static_cast<DWORD>(value->size());
}

UINT ReadProfileInt(const WCHAR* path, const WCHAR* section, const WCHAR* key, INT defaultValue) {
  WString found;
  if (!LookUp(path, section, key, &found) || found.empty()) return static_cast<UINT>(defaultValue);
  return posix::ParseIniInteger(found);
}

}  // namespace qv::platform
