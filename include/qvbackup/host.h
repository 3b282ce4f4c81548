// Helpers for host programs: text conversion and, on POSIX, the drive map
// that gives every drive letter of the library's Windows-form paths a folder
// of the native file system.
#ifndef QVBACKUP_HOST_H_
#define QVBACKUP_HOST_H_

#include "qvbackup/wintypes.h"

extern "C" {

// Maps drive `letter` (A to Z, either case) to the native folder `root` and,
// optionally, the raw device or image file `device` (null or empty: none).
// A null or empty `root` removes the letter's folder. The map starts as
// "C" -> "/" plus whatever the QV_DRIVES environment variable says
// ("C=/;E=/mnt/usb,/dev/sdb1;F=,/tmp/fat.img"). Returns FALSE with
// ERROR_INVALID_PARAMETER for a bad letter, and with ERROR_NOT_SUPPORTED on
// Windows, where drive letters are the system's own.
QVBACKUP_API BOOL QVSetDriveMapping(WCHAR letter, LPCWSTR root, LPCWSTR device);

// Writes into `buffer` (`cchBuffer` code units) the drive-letter form of the
// native path `nativePath`: on Windows its full path; on POSIX the absolute
// path expressed through the drive whose root folder is its longest prefix
// ("/home/a" -> "C:\home\a" with the default map). Returns the length written
// without the terminator, or 0 with the last error: ERROR_PATH_NOT_FOUND when
// no drive covers the path, ERROR_INSUFFICIENT_BUFFER when it does not fit.
QVBACKUP_API DWORD QVGetDrivePath(LPCWSTR nativePath, LPWSTR buffer, DWORD cchBuffer);

// Converts between UTF-8 and UTF-16 (see the library's text rules: bytes
// that are not UTF-8 survive a round trip). Each returns the number of units
// written without the terminator, always terminates the output when
// `cchBuffer` > 0, and returns 0 with ERROR_INSUFFICIENT_BUFFER when the
// whole text does not fit.
QVBACKUP_API DWORD QVUtf8ToUtf16(const char* text, LPWSTR buffer, DWORD cchBuffer);
QVBACKUP_API DWORD QVUtf16ToUtf8(LPCWSTR text, char* buffer, DWORD cchBuffer);

// Writes into `buffer` the system's English text for the Windows error
// number `error` ("The system cannot find the file specified."), without a
// trailing line break. Returns its length, or 0 with the last error:
// ERROR_MR_MID_NOT_FOUND for a number without a text,
// ERROR_INSUFFICIENT_BUFFER when it does not fit.
QVBACKUP_API DWORD QVGetErrorText(DWORD error, LPWSTR buffer, DWORD cchBuffer);

}  // extern "C"

#endif  // QVBACKUP_HOST_H_
