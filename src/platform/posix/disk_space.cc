#include "platform/disk_space.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <limits>

#include "platform/posix/drive_map.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {

namespace {

// Some network and FUSE file systems report block counts whose product
// with the block size does not fit 64 bits; such a volume is simply huge.
ULONGLONG BytesOf(unsigned long long blocks, unsigned long long blockSize) {
  constexpr ULONGLONG kMost = std::numeric_limits<ULONGLONG>::max();
  if (blockSize != 0 && blocks > kMost / blockSize) return kMost;
  return static_cast<ULONGLONG>(blocks * blockSize);
}

}  // namespace

bool GetDiskSpace(const WCHAR* path, DiskSpace* space) {
  if (path == nullptr || space == nullptr) return posix::FailWith(ERROR_INVALID_PARAMETER);
  posix::NativePath native;
  if (!posix::NativePathOf(WStringView(path), &native)) return false;
  struct statvfs figures;
  if (statvfs(native.path.c_str(), &figures) != 0) {
    // GetDiskFreeSpaceExW names a missing folder a missing path.
    return errno == ENOENT ? posix::FailWith(ERROR_PATH_NOT_FOUND) : posix::FailWithErrno(errno);
  }
  space->totalBytes = BytesOf(figures.f_blocks, figures.f_frsize);
  space->freeBytes = BytesOf(figures.f_bfree, figures.f_frsize);
  return true;
}

}  // namespace qv::platform
