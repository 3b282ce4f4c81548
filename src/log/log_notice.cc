// The log's notice, handed to the host (qvbackup/host.h).
#include "log/qv_log.h"
#include "platform/host_buffer.h"
#include "platform/text.h"
#include "qvbackup/host.h"

extern "C" {

QVBACKUP_API DWORD QVGetLogNotice(LPWSTR buffer, DWORD cchBuffer) {
  if (buffer == nullptr && cchBuffer != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const CQVString& notice = theLog.GetNotice();
  return qv::platform::CopyOutToHost(qv::WString(notice.GetString(), notice.GetLength()), buffer, cchBuffer);
}

}  // extern "C"
