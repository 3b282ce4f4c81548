// The host's text conversions, the same on every platform.
#include <algorithm>
#include <cstring>

#include "platform/system_info.h"
#include "platform/text.h"
#include "qvbackup/host.h"

namespace {

// Copies `text` with its terminator into `buffer`; on overflow leaves an
// empty string there and fails with ERROR_INSUFFICIENT_BUFFER.
template <typename Char>
DWORD CopyOut(const std::basic_string<Char>& text, Char* buffer, DWORD cchBuffer) {
  if (text.size() >= cchBuffer) {
    if (cchBuffer > 0) buffer[0] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(text.size());
}

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
  return CopyOut(qv::platform::Utf8ToUtf16(std::string_view(text, std::strlen(text))), buffer, cchBuffer);
}

QVBACKUP_API DWORD QVUtf16ToUtf8(LPCWSTR text, char* buffer, DWORD cchBuffer) {
  if (!ArgumentsValid(text, buffer, cchBuffer)) return 0;
  return CopyOut(qv::platform::Utf16ToUtf8(qv::WStringView(text)), buffer, cchBuffer);
}

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
  return CopyOut(text, buffer, cchBuffer);
}

}  // extern "C"
