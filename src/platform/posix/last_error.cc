// The thread's last error for systems without one of their own. Exported
// under the Windows names so that hosts and the core read it the same way.
#include "qvbackup/wintypes.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

extern "C" {

QVBACKUP_API DWORD GetLastError(void) { return lastError; }

QVBACKUP_API void SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

}  // extern "C"
