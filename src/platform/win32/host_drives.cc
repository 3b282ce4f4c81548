// The host's drive helpers on Windows, where drive letters are the system's.
#include "platform/win32/win32_support.h"
#include "qvbackup/host.h"

extern "C" {

QVBACKUP_API BOOL QVSetDriveMapping(WCHAR, LPCWSTR, LPCWSTR) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

QVBACKUP_API DWORD QVGetDrivePath(LPCWSTR nativePath, LPWSTR buffer, DWORD cchBuffer) {
  if (nativePath == nullptr || (buffer == nullptr && cchBuffer > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD length = GetFullPathNameW(nativePath, cchBuffer, buffer, nullptr);
  if (length == 0) return 0;
  // A result that does not fit is the size needed, terminator included.
  if (length >= cchBuffer) {
    if (cchBuffer > 0) buffer[0] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  SetLastError(ERROR_SUCCESS);
  return length;
}

}  // extern "C"
