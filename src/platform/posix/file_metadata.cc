#include "platform/file_metadata.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/posix/drive_map.h"
#include "platform/posix/items_at.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {

namespace {

using posix::FailWith;
using posix::FailWithErrno;

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

bool ResolvePath(const WCHAR* path, std::string* native) {
  if (path == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  posix::NativePath resolved;
  if (!posix::NativePathOf(path, &resolved)) return false;
  *native = std::move(resolved.path);
  return true;
}

// A FILETIME as utimensat wants it; 0 and values past the signed 64-bit
// range mean "leave it", as SetFileTime reads them.
struct timespec TimespecOf(const FILETIME& time) {
  std::uint64_t ticks = static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
  struct timespec result {};
  if (ticks == 0 || ticks > static_cast<std::uint64_t>(INT64_MAX)) {
    result.tv_nsec = UTIME_OMIT;
    return result;
  }
  // Times before 1970 are negative seconds with a non-negative fraction.
  std::int64_t sinceUnixEpoch = static_cast<std::int64_t>(ticks) - kSecondsFrom1601To1970 * kTicksPerSecond;
  std::int64_t seconds = sinceUnixEpoch / kTicksPerSecond;
  std::int64_t remainder = sinceUnixEpoch % kTicksPerSecond;
  if (remainder < 0) {
    remainder += kTicksPerSecond;
    --seconds;
  }
  result.tv_sec = static_cast<time_t>(seconds);
  result.tv_nsec = static_cast<long>(remainder * 100);
  return result;
}

}  // namespace

bool posix::ChangeModeAt(int folderFd, const char* name, mode_t mode) {
  if (::fchmodat(folderFd, name, mode, AT_SYMLINK_NOFOLLOW) == 0) return true;
  if (errno != EOPNOTSUPP && errno != ENOTSUP) return false;
  // Where the C library cannot change a mode without following a link (no
  // /proc, an older kernel), through a descriptor of the item itself,
  // which opens only when it is no link.
  const int item = ::openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (item < 0) {
    if (errno == ELOOP) errno = EOPNOTSUPP;
    return false;
  }
  const int result = ::fchmod(item, mode);
  const int error = errno;
  ::close(item);
  errno = error;
  return result == 0;
}

bool posix::SetTimesAt(int folderFd, const char* name, const FILETIME& lastAccess, const FILETIME& lastWrite) {
  struct timespec times[2] = {TimespecOf(lastAccess), TimespecOf(lastWrite)};
  return ::utimensat(folderFd, name, times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool posix::SetAttributesAt(int folderFd, const char* name, DWORD attributes, int baseMode) {
  struct stat status;
  if (::fstatat(folderFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (S_ISLNK(status.st_mode)) return true;
  const mode_t mode = status.st_mode & 07777;
  const mode_t base = baseMode < 0 ? mode : static_cast<mode_t>(baseMode) & 07777;
  const mode_t wanted =
      (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? base & ~(S_IWUSR | S_IWGRP | S_IWOTH) : base | S_IWUSR;
  return wanted == mode || ChangeModeAt(folderFd, name, wanted);
}

bool posix::MakeWritableAt(int folderFd, const char* name) {
  struct stat status;
  if (::fstatat(folderFd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (S_ISLNK(status.st_mode) || (status.st_mode & S_IWUSR) != 0) return true;
  return ChangeModeAt(folderFd, name, (status.st_mode & 07777) | S_IWUSR);
}

bool SetFileTimes(const WCHAR* path, const FILETIME&, const FILETIME& lastAccess, const FILETIME& lastWrite) {
  std::string native;
  if (!ResolvePath(path, &native)) return false;
  return posix::SetTimesAt(AT_FDCWD, native.c_str(), lastAccess, lastWrite) || FailWithErrno(errno);
}

bool SetFileAttributesOf(const WCHAR* path, DWORD attributes) {
  std::string native;
  if (!ResolvePath(path, &native)) return false;
  return posix::SetAttributesAt(AT_FDCWD, native.c_str(), attributes, -1) || FailWithErrno(errno);
}

}  // namespace qv::platform
