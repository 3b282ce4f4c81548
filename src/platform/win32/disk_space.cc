#include "platform/disk_space.h"

#include "platform/win32/win32_support.h"

namespace qv::platform {

bool GetDiskSpace(const WCHAR* path, DiskSpace* space) {
  if (path == nullptr || space == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  ULARGE_INTEGER total;
  ULARGE_INTEGER totalFree;
  if (!GetDiskFreeSpaceExW(path, nullptr, &total, &totalFree)) return false;
  space->totalBytes = total.QuadPart;
  space->freeBytes = totalFree.QuadPart;
  return true;
}

}  // namespace qv::platform
