// Copying a result out to a host's buffer, as every exported function that
// fills one does.
#ifndef QVBACKUP_PLATFORM_HOST_BUFFER_H_
#define QVBACKUP_PLATFORM_HOST_BUFFER_H_

#include <algorithm>
#include <string>

#include "qvbackup/wintypes.h"

namespace qv::platform {

// Copies `text` with its terminator into `buffer` (`cchBuffer` units) and
// returns its length with ERROR_SUCCESS as the last error; on overflow
// leaves an empty string there and returns 0 with ERROR_INSUFFICIENT_BUFFER.
template <typename Char>
DWORD CopyOutToHost(const std::basic_string<Char>& text, Char* buffer, DWORD cchBuffer) {
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

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_HOST_BUFFER_H_
