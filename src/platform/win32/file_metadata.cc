#include "platform/file_metadata.h"

#include "platform/win32/win32_support.h"

namespace qv::platform {

namespace {

bool FailWith(DWORD error) {
  SetLastError(error);
  return false;
}

// SetFileTime reads a null pointer as "leave it"; 0 does the same, and a
// value with the top bit set is no time at all.
const FILETIME* TimeOrNone(const FILETIME& time) {
  if (time.dwLowDateTime == 0 && time.dwHighDateTime == 0) return nullptr;
  if ((time.dwHighDateTime & 0x80000000u) != 0) return nullptr;
  return &time;
}

}  // namespace

bool SetFileTimes(const WCHAR* path, const FILETIME& creation, const FILETIME& lastAccess,
                  const FILETIME& lastWrite) {
  if (path == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  win32::FileHandle file(CreateFileW(path, FILE_WRITE_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsValid()) return false;
  return SetFileTime(file.Get(), TimeOrNone(creation), TimeOrNone(lastAccess), TimeOrNone(lastWrite)) != FALSE;
}

bool SetFileAttributesOf(const WCHAR* path, DWORD attributes) {
  if (path == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  DWORD settable = attributes & kSettableFileAttributes;
  // NORMAL is valid only alone.
  if ((settable & ~FILE_ATTRIBUTE_NORMAL) != 0) settable &= ~FILE_ATTRIBUTE_NORMAL;
  if (settable == 0) settable = FILE_ATTRIBUTE_NORMAL;
  return SetFileAttributesW(path, settable) != FALSE;
}

}  // namespace qv::platform
