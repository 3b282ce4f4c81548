// Files read and written at any position: archive volumes, the files a
// backup reads and a restore recreates. Paths are drive paths.
//
// Every function that fails sets the thread's last error to a Windows error
// number.
#ifndef QVBACKUP_PLATFORM_RANDOM_ACCESS_FILE_H_
#define QVBACKUP_PLATFORM_RANDOM_ACCESS_FILE_H_

#include <memory>

#include "platform/file_system.h"
#include "platform/posix_metadata.h"
#include "qvbackup/wintypes.h"

namespace qv::platform {

enum class OpenMode {
  kReadExisting,        // GENERIC_READ, OPEN_EXISTING
  kReadWriteExisting,   // GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING
  kReadWriteAlways,     // GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS
  kReadWriteTruncate,   // GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS
  kCreateNew,           // GENERIC_READ | GENERIC_WRITE, CREATE_NEW: fails with
                        // ERROR_FILE_EXISTS when anything is there already
};

enum class Sharing {
  kRead,          // FILE_SHARE_READ: others may read while it is open
  kReadWrite,     // FILE_SHARE_READ | FILE_SHARE_WRITE
  kReadOwnerOnly, // as kRead; POSIX: a file it creates is readable and
                  // writable by its owner only (0600, whatever the umask)
};

// An open file with a current position. Closed when the object dies.
// Virtual so that tests can put a failing file in its place.
class RandomAccessFile {
 public:
  virtual ~RandomAccessFile() = default;

  // ReadFile: up to `size` bytes at the position into `buffer`; *read gets
  // the count, fewer only at the end of the file.
  virtual bool Read(void* buffer, DWORD size, DWORD* read) = 0;
  // WriteFile: all `size` bytes at the position, or false (ERROR_DISK_FULL
  // when the volume fills up).
  virtual bool Write(const void* data, DWORD size) = 0;
  // SetFilePointerEx(FILE_BEGIN): moves the position to `offset`.
  virtual bool Seek(ULONGLONG offset) = 0;
  // The current position.
  virtual bool Tell(ULONGLONG* offset) = 0;
  // GetFileSizeEx.
  virtual bool Size(ULONGLONG* size) = 0;
  // SetEndOfFile: cuts (or extends) the file at the current position.
  virtual bool Truncate() = 0;
  // FlushFileBuffers: what was written, and the file's size, reach stable
  // storage before it returns (POSIX: fdatasync). The file's name in its
  // folder is made durable by SyncFolder.
  virtual bool Sync() = 0;
  // What GetFileInformation(path) tells of this file, opened from `path`.
  // Windows asks the open handle, which spares opening the file once more;
  // POSIX examines the path, whose name and parent folder the attributes
  // depend on.
  virtual bool Describe(const WCHAR* path, FileInformation* info) { return GetFileInformation(path, info); }
  // ApplyPosixMetadata of this open file, through the file itself: no name
  // is looked up, so it is the file written, whatever its name is now.
  // Returns the bits of what was not given back. Files that cannot (the
  // Windows file, test files) give back nothing.
  virtual DWORD ApplyPosixMetadata(const PosixMetadata& /*metadata*/, bool times) {
    return kMetadataOwnerNotSet | kMetadataModeNotSet | kMetadataAttributesNotSet |
           (times ? kMetadataTimesNotSet : 0);
  }
  // The first stretch of data at or after `from`, as [*start, *end): where
  // the file system keeps holes (sparse files) they lie between stretches
  // and read as zeros. False with ERROR_HANDLE_EOF when no data follows
  // `from`. Files that keep no holes, or cannot tell, are one stretch from
  // `from` to their end. The position is left where it was.
  virtual bool NextData(ULONGLONG from, ULONGLONG* start, ULONGLONG* end) {
    ULONGLONG size = 0;
    if (!Size(&size)) return false;
    if (from >= size) {
      SetLastError(ERROR_HANDLE_EOF);
      return false;
    }
    *start = from;
    *end = size;
    return true;
  }
};

// CreateFileW with the mode and sharing given. Null with the system's error
// (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
// ERROR_SHARING_VIOLATION...). POSIX: sharing is not enforced; a folder,
// device, FIFO or socket cannot be opened (ERROR_ACCESS_DENIED for a folder,
// ERROR_FILE_NOT_FOUND for the rest); new files get mode 0666 less the umask.
std::unique_ptr<RandomAccessFile> OpenFile(const WCHAR* path, OpenMode mode, Sharing sharing);

// The size of the file at `path`, opened without access rights.
bool GetFileSizeOf(const WCHAR* path, ULONGLONG* size);

// CopyFileW with overwriting: copies the file `from` to `to`, replacing a
// file already there. The copy gets the source's last write time.
bool CopyFileReplacing(const WCHAR* from, const WCHAR* to);

// UuidCreate: 16 random bytes of a version-4 UUID.
bool CreateUuid(BYTE uuid[16]);

// Sleep.
void SleepMilliseconds(DWORD milliseconds);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_RANDOM_ACCESS_FILE_H_
