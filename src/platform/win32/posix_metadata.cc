// Windows keeps none of the POSIX metadata: archives made where it is kept
// restore here with their content, names and Windows times and attributes.
// Hard links are the one part Windows can hold.
#include "platform/posix_metadata.h"

#include "platform/win32/win32_support.h"

namespace qv::platform {

bool KeepsPosixMetadata() { return false; }

bool ReadPosixMetadata(const WCHAR*, PosixMetadata*) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

DWORD ApplyPosixMetadata(const WCHAR*, const PosixMetadata&, bool) { return 0; }

bool CreateSymbolicLink(const WCHAR*, const std::string&) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

bool CreateHardLink(const WCHAR* existing, const WCHAR* path) {
  if (existing == nullptr || path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return ::CreateHardLinkW(path, existing, nullptr) != FALSE;
}

}  // namespace qv::platform
