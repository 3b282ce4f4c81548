// Setting a file's times and attributes by its drive-letter path, as a
// restore does once the file's content is written.
//
// Every function that fails sets the thread's last error to a Windows error
// number; success leaves it as it was.
#ifndef QVBACKUP_PLATFORM_FILE_METADATA_H_
#define QVBACKUP_PLATFORM_FILE_METADATA_H_

#include "qvbackup/wintypes.h"

namespace qv::platform {

// SetFileTime: gives the file `path` the three times. A time of 0, or one
// past the last FILETIME the system accepts (the top bit set), leaves that
// time as it is. POSIX: last access and last write are set with their full
// 100 ns precision; Linux keeps no settable creation time, so `creation` is
// ignored there. A symbolic link's own times are set, never its target's.
// False with the system's error (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED).
bool SetFileTimes(const WCHAR* path, const FILETIME& creation, const FILETIME& lastAccess,
                  const FILETIME& lastWrite);

// The attributes that SetFileAttributes can give a file: read-only, hidden,
// system, archive, normal, temporary, offline, not content indexed. The rest
// (folder, reparse point, device, compressed, encrypted, sparse) describe
// what the file is or how it is stored, and cannot be given this way.
constexpr DWORD kSettableFileAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
    FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// SetFileAttributesW with `attributes` limited to kSettableFileAttributes
// (nothing left means FILE_ATTRIBUTE_NORMAL). POSIX: only read-only has a
// meaning there: set, it takes every write permission away (owner, group,
// others); clear, it gives the owner write permission back. Hidden follows
// the name (a leading '.') and the other attributes have no equivalent, so
// they are ignored. A symbolic link is left alone. False with the system's
// error.
bool SetFileAttributesOf(const WCHAR* path, DWORD attributes);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_FILE_METADATA_H_
