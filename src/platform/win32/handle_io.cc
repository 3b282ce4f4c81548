#include "platform/handle_io.h"

#include "platform/win32/win32_support.h"

namespace qv::platform {

bool ReadHandle(HANDLE file, void* buffer, DWORD size, DWORD* read) {
  *read = 0;
  auto* target = static_cast<unsigned char*>(buffer);
  while (*read < size) {
    DWORD count = 0;
    if (!::ReadFile(file, target + *read, size - *read, &count, nullptr)) return false;
    if (count == 0) break;
    *read += count;
  }
  return true;
}

bool WriteHandle(HANDLE file, const void* data, DWORD size, DWORD* written) {
  *written = 0;
  const auto* source = static_cast<const unsigned char*>(data);
  while (*written < size) {
    DWORD count = 0;
    if (!::WriteFile(file, source + *written, size - *written, &count, nullptr)) return false;
    if (count == 0) {
      ::SetLastError(ERROR_DISK_FULL);
      return false;
    }
    *written += count;
  }
  return true;
}

}  // namespace qv::platform
