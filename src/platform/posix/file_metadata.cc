#include "platform/file_metadata.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/posix/drive_map.h"
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

bool SetFileTimes(const WCHAR* path, const FILETIME&, const FILETIME& lastAccess, const FILETIME& lastWrite) {
  std::string native;
  if (!ResolvePath(path, &native)) return false;
  struct timespec times[2] = {TimespecOf(lastAccess), TimespecOf(lastWrite)};
  if (::utimensat(AT_FDCWD, native.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return FailWithErrno(errno);
  return true;
}

bool SetFileAttributesOf(const WCHAR* path, DWORD attributes) {
  std::string native;
  if (!ResolvePath(path, &native)) return false;
  struct stat status;
  if (::lstat(native.c_str(), &status) != 0) return FailWithErrno(errno);
  if (S_ISLNK(status.st_mode)) return true;
  mode_t mode = status.st_mode & 07777;
  mode_t wanted = (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
  if (wanted == mode) return true;
  if (::chmod(native.c_str(), wanted) != 0) return FailWithErrno(errno);
  return true;
}

}  // namespace qv::platform
