// The one translation of POSIX errno values into the Windows error numbers
// that the library reports on every platform.
#ifndef QVBACKUP_PLATFORM_POSIX_POSIX_ERROR_H_
#define QVBACKUP_PLATFORM_POSIX_POSIX_ERROR_H_

#include "qvbackup/wintypes.h"

namespace qv::platform::posix {

// The Windows error number for `errnoValue`: 0 for 0, ERROR_GEN_FAILURE for
// a value without a closer equivalent.
DWORD WindowsErrorFromErrno(int errnoValue);

// Sets the thread's last error from `errnoValue` and returns false, so a
// failing call can end with `return FailWithErrno(errno);`.
bool FailWithErrno(int errnoValue);

// Sets the thread's last error to `error` and returns false.
bool FailWith(DWORD error);

}  // namespace qv::platform::posix

#endif  // QVBACKUP_PLATFORM_POSIX_POSIX_ERROR_H_
