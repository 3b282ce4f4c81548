// What the trace log asks of the system about itself: drive types, the
// current folder, the clock, the host program's version strings and the
// system's text for an error number.
#ifndef QVBACKUP_PLATFORM_SYSTEM_INFO_H_
#define QVBACKUP_PLATFORM_SYSTEM_INFO_H_

#include <cstdint>
#include <memory>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::platform {

// Drive types, numbered as GetDriveTypeW numbers them.
constexpr UINT kDriveTypeUnknown = 0;
constexpr UINT kDriveTypeNoRootDir = 1;
constexpr UINT kDriveTypeRemovable = 2;
constexpr UINT kDriveTypeFixed = 3;
constexpr UINT kDriveTypeRemote = 4;
constexpr UINT kDriveTypeCdRom = 5;
constexpr UINT kDriveTypeRamDisk = 6;

// GetDriveTypeW of the root folder `root` ("C:\"). POSIX: kDriveTypeFixed
// for "X:\" when the drive map gives X a folder, kDriveTypeNoRootDir for
// anything else; no other type is reported there.
UINT DriveTypeOf(const WCHAR* root);

// GetCurrentDirectoryW: the process's current folder as a drive path,
// without a trailing backslash except for a drive's root ("C:\"). POSIX:
// false with ERROR_PATH_NOT_FOUND when no drive covers the folder.
bool GetCurrentFolder(WString* folder);

// The time now, in seconds since 1 January 1970 UTC.
std::int64_t CurrentCalendarTime();

// The local time (the system's time zone and daylight saving rules at that
// date) of `seconds` since 1970 UTC, in wYear..wSecond; wMilliseconds is 0
// and wDayOfWeek counts from Sunday = 0. False with ERROR_INVALID_PARAMETER
// when the time cannot be shown (before 1601 or past year 30827).
bool LocalTimeOf(std::int64_t seconds, SYSTEMTIME* local);
// The same fields in UTC.
bool UtcTimeOf(std::int64_t seconds, SYSTEMTIME* utc);

// The UTC time, in 100-nanosecond ticks since 1601, of the local time
// `local` (wYear..wSecond and wMilliseconds) under the system's time zone
// and its daylight saving rules at that date, so that the same local time
// gives the same answer whatever the season of the call. False with
// ERROR_INVALID_PARAMETER for a time before 1601 or fields out of range.
bool LocalTimeToUtcTicks(const SYSTEMTIME& local, ULONGLONG* ticks);

// The system's English (language 1033) text for the error number `error`,
// without the line end the system puts after it ("The system cannot find the
// file specified." for 2). Windows: FormatMessageW. POSIX: the texts of the
// Windows error numbers the library reports. False with
// ERROR_MR_MID_NOT_FOUND (317) when the system has no text for it.
bool GetSystemErrorText(DWORD error, WString* text);

// The version resource of the running program's executable file.
class ExecutableVersion {
 public:
  ExecutableVersion();
  ~ExecutableVersion();
  ExecutableVersion(const ExecutableVersion&) = delete;
  ExecutableVersion& operator=(const ExecutableVersion&) = delete;

  // Reads the resource (GetFileVersionInfoW). False with the system's error
  // when the executable has none; POSIX executables never have one
  // (ERROR_RESOURCE_TYPE_NOT_FOUND, 1813).
  bool Load();

  // VerQueryValueW of a string value, e.g.
  // "\StringFileInfo\040904B0\ProductVersion". False when the resource is not
  // loaded or has no such value; `value` is then left alone.
  bool QueryString(const WCHAR* subBlock, WString* value) const;

 private:
  struct Data;
  std::unique_ptr<Data> data_;
};

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_SYSTEM_INFO_H_
