// The host's view of the POSIX drive map.
#include <string>

#include "platform/posix/drive_map.h"
#include "platform/posix/posix_error.h"
#include "platform/text.h"
#include "qvbackup/host.h"

namespace {

using qv::WString;
using qv::WStringView;

std::string NativeOrEmpty(LPCWSTR text) {
  return text == nullptr ? std::string() : qv::platform::Utf16ToUtf8(WStringView(text));
}

}  // namespace

extern "C" {

QVBACKUP_API BOOL QVSetDriveMapping(WCHAR letter, LPCWSTR root, LPCWSTR device) {
  return qv::platform::posix::SetDriveMapping(letter, NativeOrEmpty(root), NativeOrEmpty(device)) ? TRUE
                                                                                                  : FALSE;
}

QVBACKUP_API DWORD QVGetDrivePath(LPCWSTR nativePath, LPWSTR buffer, DWORD cchBuffer) {
  if (nativePath == nullptr || (buffer == nullptr && cchBuffer > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (cchBuffer > 0) buffer[0] = 0;
  WString drivePath;
  if (!qv::platform::posix::DrivePathOf(NativeOrEmpty(nativePath), &drivePath)) return 0;
  if (drivePath.size() >= cchBuffer) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  drivePath.copy(buffer, drivePath.size());
  buffer[drivePath.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(drivePath.size());
}

}  // extern "C"
