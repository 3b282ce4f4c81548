// Files and folders, as the core sees them: always by their drive-letter
// path ("C:\Users\a.txt"), whatever the operating system.
//
// On Windows these are thin wrappers over the kernel and shell functions.
// On POSIX the drive map (QV_DRIVES, QVSetDriveMapping) turns the drive path
// into a native one; a path on an unmapped letter does not exist (error 3).
// Every function that fails sets the thread's last error to a Windows error
// number and clears nothing on success unless said.
#ifndef QVBACKUP_PLATFORM_FILE_SYSTEM_H_
#define QVBACKUP_PLATFORM_FILE_SYSTEM_H_

#include <memory>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::platform {

// What GetFileInformationByHandle tells of an opened path.
struct FileInformation {
  DWORD attributes = 0;
  FILETIME creationTime = {0, 0};
  FILETIME lastAccessTime = {0, 0};
  FILETIME lastWriteTime = {0, 0};
  ULONGLONG size = 0;  // 0 for folders
};

// What opening `path` the way CreateFileW does with no access rights, full
// sharing, OPEN_EXISTING and FILE_FLAG_BACKUP_SEMANTICS (so folders open
// too) and asking GetFileInformationByHandle tells. Windows opens only
// reparse points (following them); other items are answered from their
// record by name, which is the same information without a handle. Returns
// false with the open's error.
//
// POSIX: the path is examined with lstat and never followed: a symbolic link
// reports FILE_ATTRIBUTE_REPARSE_POINT (with FILE_ATTRIBUTE_DIRECTORY when it
// names a folder) and size 0; a folder on another file system than its parent
// (a mount point) reports FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
// devices, FIFOs and sockets do not exist (ERROR_FILE_NOT_FOUND). Attributes:
// 0x10 folder, 0x20 regular file, 0x1 when the owner cannot write, 0x2 for
// names starting with '.'. Times keep their 100 ns precision; the creation
// time is the birth time where the file system records one, else the change
// time.
bool GetFileInformation(const WCHAR* path, FileInformation* info);

// What GetFileInformation tells of the item at `path`, which a folder
// listing has just described as `data`, got the cheapest way that is as
// current. POSIX: the listing examined the item as GetFileInformation does,
// so `data` is the answer and nothing is asked again. Windows: a folder's
// entries may lag behind a file with several names (its size and times are
// updated only in the entry it was written through), so GetFileInformation
// is asked, which opens nothing but reparse points. False with the error
// when the item is gone.
bool ListedFileInformation(const WCHAR* path, const WIN32_FIND_DATAW& data, FileInformation* info);

// PathFileExistsW: true when something (file or folder) exists at `path`.
bool FileExists(const WCHAR* path);

// PathIsDirectoryW: true when `path` is a folder (symbolic links are not
// followed on POSIX).
bool IsDirectory(const WCHAR* path);

// PathIsDirectoryEmptyW: true when `path` is a folder that holds nothing
// (apart from "." and ".."). On POSIX, devices, FIFOs and sockets do not count
// as content, since the folder enumeration does not report them either. False
// for a path that is not a folder or cannot be listed.
bool IsDirectoryEmpty(const WCHAR* path);

// Whether two file names that differ only in letter case name the same
// file: true on Windows, false on POSIX, where they are two files.
bool FileNamesIgnoreCase();

// The full drive path of the running program's executable file.
bool GetExecutablePath(WString* path);

// FindFirstFileW / FindNextFileW / FindClose. The handle is owned by the
// object and closed by Close or the destructor.
class DirectoryEnumerator {
 public:
  DirectoryEnumerator();
  ~DirectoryEnumerator();
  DirectoryEnumerator(const DirectoryEnumerator&) = delete;
  DirectoryEnumerator& operator=(const DirectoryEnumerator&) = delete;

  // Starts listing `pattern` ("C:\folder\*", or any mask after the last
  // backslash, matched with PathMatchSpec on POSIX) and fills `data` with the
  // first item. False with the last error when the folder cannot be listed or
  // nothing matches (ERROR_FILE_NOT_FOUND). "." and ".." are reported as on
  // Windows. POSIX: items are described as GetFileInformation does (links not
  // followed, mount points marked, devices/FIFOs/sockets skipped); names are
  // the drive-path form of the native names.
  bool First(const WCHAR* pattern, WIN32_FIND_DATAW* data);

  // Fills `data` with the next item; false with ERROR_NO_MORE_FILES at the end.
  bool Next(WIN32_FIND_DATAW* data);

  // Ends the listing; harmless when none is open.
  void Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_FILE_SYSTEM_H_
