// The host's text conversions, the same on every platform.
#include <cstring>

#include "platform/file_system.h"
#include "platform/host_buffer.h"
#include "platform/system_info.h"
#include "platform/text.h"
#include "qvbackup/host.h"

namespace {

template <typename In, typename Out>
bool ArgumentsValid(const In* text, const Out* buffer, DWORD cchBuffer) {
  if (text != nullptr && (buffer != nullptr || cchBuffer == 0)) return true;
  SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

}  // namespace

extern "C" {

QVBACKUP_API DWORD QVUtf8ToUtf16(const char* text, LPWSTR buffer, DWORD cchBuffer) {
  if (!ArgumentsValid(text, buffer, cchBuffer)) return 0;
  return qv::platform::CopyOutToHost(qv::platform::Utf8ToUtf16(std::string_view(text, std::strlen(text))), buffer, cchBuffer);
}

QVBACKUP_API DWORD QVUtf16ToUtf8(LPCWSTR text, char* buffer, DWORD cchBuffer) {
  if (!ArgumentsValid(text, buffer, cchBuffer)) return 0;
  return qv::platform::CopyOutToHost(qv::platform::Utf16ToUtf8(qv::WStringView(text)), buffer, cchBuffer);
}

QVBACKUP_API BOOL QVFileNamesIgnoreCase(void) { return qv::platform::FileNamesIgnoreCase() ? TRUE : FALSE; }

QVBACKUP_API DWORD QVGetErrorText(DWORD error, LPWSTR buffer, DWORD cchBuffer) {
  if (buffer == nullptr && cchBuffer != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  qv::WString text;
  if (!qv::platform::GetSystemErrorText(error, &text)) {
    if (cchBuffer > 0) buffer[0] = 0;
    return 0;
  }
  return qv::platform::CopyOutToHost(text, buffer, cchBuffer);
}

}  // extern "C"
