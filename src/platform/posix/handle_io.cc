#include "platform/handle_io.h"

#include <cerrno>
#include <cstdint>
#include <unistd.h>

#include "platform/posix/posix_error.h"

namespace qv::platform {

namespace {

int DescriptorOf(HANDLE file) {
  auto value = reinterpret_cast<std::intptr_t>(file);
  return (value < 0 || value > INT32_MAX) ? -1 : static_cast<int>(value);
}

}  // namespace

bool ReadHandle(HANDLE file, void* buffer, DWORD size, DWORD* read) {
  *read = 0;
  int fd = DescriptorOf(file);
  if (fd < 0) return posix::FailWith(ERROR_INVALID_HANDLE);
  auto* target = static_cast<unsigned char*>(buffer);
  while (*read < size) {
    ssize_t count = ::read(fd, target + *read, size - *read);
    if (count < 0) {
      if (errno == EINTR) continue;
      return posix::FailWithErrno(errno);
    }
    if (count == 0) break;
    *read += static_cast<DWORD>(count);
  }
  return true;
}

bool WriteHandle(HANDLE file, const void* data, DWORD size, DWORD* written) {
  *written = 0;
  int fd = DescriptorOf(file);
  if (fd < 0) return posix::FailWith(ERROR_INVALID_HANDLE);
  const auto* source = static_cast<const unsigned char*>(data);
  while (*written < size) {
    ssize_t count = ::write(fd, source + *written, size - *written);
    if (count < 0) {
      if (errno == EINTR) continue;
      return posix::FailWithErrno(errno);
    }
    *written += static_cast<DWORD>(count);
  }
  return true;
}

}  // namespace qv::platform
