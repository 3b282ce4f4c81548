/* The C interface of the backup engine: what a host in any language calls.
 *
 * Plain C (C89 and later, and C++), every name prefixed qvb_, exported from
 * the shared library and the DLL under these very names. Strings are UTF-8.
 * A call that can fail returns 0 on success or the Windows error number that
 * says why (qvb_error_text gives its text); nothing is reported through a
 * global last error. doc/c_api.md tells more.
 */
#ifndef QVBACKUP_QVBACKUP_H_
#define QVBACKUP_QVBACKUP_H_

#include <stddef.h>

#include "qvbackup/export.h"

/* Each function of the C interface, exported as the library's others are. */
#define QVB_API QVBACKUP_API

#ifdef __cplusplus
extern "C" {
#endif

/* Error numbers the calls return besides the system's own. */
#define QVB_OK 0
#define QVB_ERROR_NOT_SUPPORTED 50       /* not on this system */
#define QVB_ERROR_INVALID_PARAMETER 87   /* an argument is wrong */
#define QVB_ERROR_INSUFFICIENT_BUFFER 122 /* the output does not fit; the size needed is told */
#define QVB_ERROR_PATH_NOT_FOUND 3       /* no drive covers the path */

/* The library's version, "MAJOR.MINOR.PATCH"; the numbers through the
 * pointers that are not null. */
QVB_API const char* qvb_version(int* major, int* minor, int* patch);

/* The English text of error number `error` (0 and the numbers the calls
 * return), "Error N" for a number without one, written into `buffer`
 * (`size` bytes, always terminated when size > 0, cut at a character's
 * end). Returns the length of the whole text in bytes without its
 * terminator: a result of `size` or more means the text was cut. */
QVB_API size_t qvb_error_text(int error, char* buffer, size_t size);

/* POSIX hosts: the library names files by drive paths ("C:\home\ann\a.txt").
 * qvb_map_drive gives drive `letter` (A to Z, either case) the native folder
 * `root` and, optionally, the raw device or image `device` (null or empty:
 * none); a null or empty root removes the letter's folder. The map starts as
 * C -> "/" plus what the QV_DRIVES environment variable says. Windows hosts
 * use the system's letters: QVB_ERROR_NOT_SUPPORTED. */
QVB_API int qvb_map_drive(char letter, const char* root, const char* device);

/* The drive path of the native path `native` (on Windows its full path), in
 * `buffer` (`size` bytes). *needed, when not null, gets its length in bytes
 * without the terminator, also when it does not fit
 * (QVB_ERROR_INSUFFICIENT_BUFFER). QVB_ERROR_PATH_NOT_FOUND when no drive
 * covers it. */
QVB_API int qvb_drive_path(const char* native, char* buffer, size_t size, size_t* needed);

#ifdef __cplusplus
}
#endif

#endif /* QVBACKUP_QVBACKUP_H_ */
