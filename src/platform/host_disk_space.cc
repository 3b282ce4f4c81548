// The host's view of a volume's free space.
#include "platform/disk_space.h"
#include "qvbackup/host.h"

extern "C" {

QVBACKUP_API BOOL QVGetDiskFreeSpace(LPCWSTR path, ULONGLONG* pullFreeBytes) {
  if (path == nullptr || pullFreeBytes == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  qv::platform::DiskSpace space;
  if (!qv::platform::QueryDiskSpace(path, &space)) return FALSE;
  *pullFreeBytes = space.freeBytes;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // extern "C"
