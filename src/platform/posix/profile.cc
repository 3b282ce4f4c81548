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

// The decoded text of the INI file `path`; false when it cannot be read.
bool ReadText(const WCHAR* path, WString* text) {
  std::string bytes;
  if (!ReadWholeFile(path, &bytes)) return false;
  *text = posix::DecodeIniText(bytes);
  return true;
}

}  // namespace

DWORD ReadProfileString(const WCHAR* path, const WCHAR* section, const WCHAR* key, const WCHAR* defaultValue,
                        DWORD capacity, WString* value) {
  WString text;
  const bool read = ReadText(path, &text);
  return posix::ProfileStringFrom(read ? &text : nullptr, section, key, defaultValue, capacity, value);
}

UINT ReadProfileInt(const WCHAR* path, const WCHAR* section, const WCHAR* key, INT defaultValue) {
  WString text;
  const bool read = ReadText(path, &text);
  return posix::ProfileIntFrom(read ? &text : nullptr, section, key, defaultValue);
}

}  // namespace qv::platform
