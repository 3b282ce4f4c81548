// How big a volume is and how much of it is free, and the drive type, as the
// backup run asks them before it writes an archive; with a seam through
// which tests give a destination the size or type they need.
#ifndef QVBACKUP_PLATFORM_DISK_SPACE_H_
#define QVBACKUP_PLATFORM_DISK_SPACE_H_

#include "qvbackup/wintypes.h"

namespace qv::platform {

// The size of a volume and its free bytes, in bytes.
struct DiskSpace {
  ULONGLONG totalBytes = 0;
  ULONGLONG freeBytes = 0;  // all free bytes, whatever the caller's quota
};

// GetDiskFreeSpaceExW of `path`, a folder ("E:\" or "E:\Backups\"): the
// total size of the volume that holds it and its total free bytes (not only
// the part available to the caller). POSIX: statvfs of the folder the drive
// map gives the path: f_blocks x f_frsize and f_bfree x f_frsize, each
// held at 2^64 - 1 rather than wrapping. False with the last error:
// ERROR_INVALID_PARAMETER for a null argument, otherwise the system's
// reason (on POSIX ERROR_PATH_NOT_FOUND for a folder that does not exist or
// a letter the drive map does not know). `space` is left alone on failure.
bool GetDiskSpace(const WCHAR* path, DiskSpace* space);

// The two questions the backup run asks of a destination. A null member
// stands for the system's answer (DriveTypeOf of system_info.h,
// GetDiskSpace above).
struct VolumeQueries {
  UINT (*driveType)(const WCHAR* root) = nullptr;
  bool (*diskSpace)(const WCHAR* path, DiskSpace* space) = nullptr;
};

// Test seam: makes `queries` answer for the whole process from now on and
// returns the queries that answered before. Tests use it to stand for a
// destination that is too small, or a CD-ROM drive, which no test machine
// offers on demand; they put the previous queries back when they end. Not
// synchronised with queries running on other threads.
VolumeQueries ReplaceVolumeQueriesForTesting(const VolumeQueries& queries);

// The drive type of `root` ("E:\"), numbered as GetDriveTypeW numbers it,
// from the queries in force.
UINT QueryDriveType(const WCHAR* root);

// GetDiskSpace through the queries in force.
bool QueryDiskSpace(const WCHAR* path, DiskSpace* space);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_DISK_SPACE_H_
