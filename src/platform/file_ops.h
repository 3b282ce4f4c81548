// Creating, replacing and removing whole files by their drive-letter path,
// as the trace log rotates and rewrites its file.
//
// Every function that fails sets the thread's last error to a Windows error
// number; success leaves the last error as it was.
#ifndef QVBACKUP_PLATFORM_FILE_OPS_H_
#define QVBACKUP_PLATFORM_FILE_OPS_H_

#include <memory>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::platform {

// A file open for writing only; the handle is closed when the object dies.
// Virtual so that tests can put a failing file in its place.
class WritableFile {
 public:
  virtual ~WritableFile() = default;

  // WriteFile: writes all `size` bytes at the current position. False with
  // the system's error (ERROR_DISK_FULL when the volume fills up).
  virtual bool Write(const void* data, DWORD size) = 0;

  // Moves the position to the end of the file, which other writers sharing
  // the file may have moved. False with the system's error.
  virtual bool SeekToEnd() = 0;
};

// How CreateWritableFile treats a file already there.
enum class Creation {
  kReplace,  // CREATE_ALWAYS: an existing file is emptied
  // CREATE_NEW: only a file that did not exist is made; anything at the
  // name (a file, a folder, a symbolic link, live or dangling) makes the
  // creation fail with ERROR_FILE_EXISTS. Nothing is ever opened through
  // a link, so what a link names is never touched.
  kNew,
};

// CreateFileW with GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE and
// CREATE_ALWAYS (or CREATE_NEW, see Creation): creates `path` or empties an
// existing file. Null with the system's error when the file cannot be
// created (ERROR_PATH_NOT_FOUND for a missing folder, ERROR_ACCESS_DENIED for
// a folder or a read-only file). POSIX: created with mode 0666 less the
// process's umask.
std::unique_ptr<WritableFile> CreateWritableFile(const WCHAR* path, Creation creation = Creation::kReplace);

// What is at a path, its last component never followed.
enum class PathKind {
  kNothing,
  kFile,    // a regular file
  kFolder,
  kLink,    // a symbolic link (Windows: any reparse point), whatever it names
  kOther,   // a device, FIFO or socket
};

// The kind of item at `path`. kNothing also when the path cannot be
// examined at all (a missing folder on the way); the last error then says
// why.
PathKind KindOfPath(const WCHAR* path);

// `path` the way the user names it, for messages: on POSIX the native path
// the drive map gives ("C:\tmp\a.log" -> "/tmp/a.log"; `path` itself when no
// drive holds it), on Windows `path` itself.
WString PathForMessages(const WCHAR* path);

// Whether the existing file `path` can be opened for reading and writing
// while others read and write it (OPEN_EXISTING); the handle is closed again
// at once. False with the error of the open: ERROR_FILE_NOT_FOUND,
// ERROR_ACCESS_DENIED for a folder or a file without the rights. POSIX:
// devices, FIFOs and sockets are not files (ERROR_FILE_NOT_FOUND).
bool CanOpenForReadWrite(const WCHAR* path);

// DeleteFileW: removes the file `path` (never a folder, ERROR_ACCESS_DENIED).
bool RemoveFile(const WCHAR* path);

// MoveFileExW with MOVEFILE_REPLACE_EXISTING and MOVEFILE_WRITE_THROUGH:
// renames the file `from` to `to` on the same volume, replacing a file
// already named `to` in one step (POSIX: rename), so that `to` is always
// either the old file or the new one.
bool RenameFile(const WCHAR* from, const WCHAR* to);

// Makes the creations, renames and removals of files in the folder `folder`
// durable: after it returns they survive a power loss. POSIX: fsync of the
// folder (a file system that cannot sync folders counts as synced).
// Windows: nothing to do, its file systems log their folders' changes, and
// RenameFile writes through.
bool SyncFolder(const WCHAR* folder);

// SetFileAttributesW(FILE_ATTRIBUTE_NORMAL): clears the read-only (and on
// Windows hidden and system) attributes of `path` so that it can be deleted
// or rewritten. POSIX: gives the owner write permission; a symbolic link is
// left alone.
bool MakeWritable(const WCHAR* path);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_FILE_OPS_H_
