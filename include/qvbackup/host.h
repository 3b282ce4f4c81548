// Helpers for host programs: text conversion, the console and, on POSIX,
// the drive map that gives every drive letter of the library's Windows-form
// paths a folder of the native file system.
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

// The free bytes of the volume that holds the existing folder `path` (a
// drive path, "E:\Restore"), all of them whatever the caller's quota, as
// GetDiskFreeSpaceExW and statvfs tell them. FALSE with the last error:
// ERROR_INVALID_PARAMETER for a null argument, ERROR_PATH_NOT_FOUND for a
// folder that does not exist, or the system's reason.
QVBACKUP_API BOOL QVGetDiskFreeSpace(LPCWSTR path, ULONGLONG* pullFreeBytes);

// Converts between UTF-8 and UTF-16 (see the library's text rules: bytes
// that are not UTF-8 survive a round trip). Each returns the number of units
// written without the terminator, always terminates the output when
// `cchBuffer` > 0, and returns 0 with ERROR_INSUFFICIENT_BUFFER when the
// whole text does not fit.
QVBACKUP_API DWORD QVUtf8ToUtf16(const char* text, LPWSTR buffer, DWORD cchBuffer);
QVBACKUP_API DWORD QVUtf16ToUtf8(LPCWSTR text, char* buffer, DWORD cchBuffer);

// TRUE when two file names that differ only in letter case name the same
// file (Windows); FALSE on POSIX, where they are two files.
QVBACKUP_API BOOL QVFileNamesIgnoreCase(void);

// Writes into `buffer` the system's English text for the Windows error
// number `error` ("The system cannot find the file specified."), without a
// trailing line break. Returns its length, or 0 with the last error:
// ERROR_MR_MID_NOT_FOUND for a number without a text,
// ERROR_INSUFFICIENT_BUFFER when it does not fit.
QVBACKUP_API DWORD QVGetErrorText(DWORD error, LPWSTR buffer, DWORD cchBuffer);

// The standard streams, as QVIsConsole names them.
#define QV_STANDARD_INPUT 0
#define QV_STANDARD_OUTPUT 1
#define QV_STANDARD_ERROR 2

// Whether the standard stream `stream` (QV_STANDARD_...) is a terminal (a
// console on Windows) rather than a file or a pipe.
QVBACKUP_API BOOL QVIsConsole(DWORD stream);

// Has a Windows console show the UTF-8 bytes a program writes as such; does
// nothing where terminals already do.
QVBACKUP_API void QVUseUtf8ConsoleOutput(void);

// Reads one line from the terminal on standard input without echoing it
// (for a password; the caller shows the prompt and, after, a line break).
// The line, without its line break, goes into `buffer` (`cchBuffer` units)
// and its length into *pcchLine. FALSE with ERROR_INVALID_HANDLE when
// standard input is not a terminal, ERROR_HANDLE_EOF when the input ends
// before anything was typed, ERROR_INSUFFICIENT_BUFFER when the line does
// not fit (it is consumed all the same).
QVBACKUP_API BOOL QVReadHiddenLine(LPWSTR buffer, DWORD cchBuffer, DWORD* pcchLine);

// From now on an interrupt from the terminal (Ctrl-C) sets *flag to TRUE
// instead of ending the program, so that the work under way can stop
// cleanly (hand the same word to the engine as its cancel flag); a second
// interrupt ends the program as usual. Null gives interrupts back to what
// the program had before. `flag` must stay valid until then.
QVBACKUP_API void QVSetInterruptFlag(volatile BOOL* flag);

// Writes into `buffer` the full native path of the running program's file.
// Returns its length, or 0 with the system's error, or
// ERROR_INSUFFICIENT_BUFFER when it does not fit.
QVBACKUP_API DWORD QVGetProgramPath(LPWSTR buffer, DWORD cchBuffer);

// Writes into `buffer` the value of the environment variable `name` and its
// length into *pcchValue (text that is not UTF-8 on POSIX survives as the
// library's text rules say). FALSE with ERROR_ENVVAR_NOT_FOUND when it is
// not set, ERROR_INSUFFICIENT_BUFFER when it does not fit.
QVBACKUP_API BOOL QVGetEnvironmentText(LPCWSTR name, LPWSTR buffer, DWORD cchBuffer, DWORD* pcchValue);

// Writes into `buffer` the one line the library's trace log has for the
// user, when it has one: the configuration file "QV_LOG.INI" it found and
// ignored, and why ("ignoring /tmp/QV_LOG.INI: writable by others"), or
// the log file it would not write ("not writing the log /tmp/run.log: a
// symbolic link is there"). A host shows it once, on its own terms (the
// library prints nothing). Returns its length, 0 when there is none (with
// ERROR_SUCCESS) or when it does not fit (ERROR_INSUFFICIENT_BUFFER).
QVBACKUP_API DWORD QVGetLogNotice(LPWSTR buffer, DWORD cchBuffer);

// Runs qvbackup's command line `arguments` (`count` of them, without the
// program's name) in this process, on its terminal and standard streams,
// and returns the exit status: the qvbackup program is this call. Hosts
// have the C interface (qvbackup.h) instead.
QVBACKUP_API int QVRunQvbackup(DWORD count, const LPCWSTR* arguments);

}  // extern "C"

#endif  // QVBACKUP_HOST_H_
