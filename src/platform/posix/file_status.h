// What the POSIX layer reads of one item of the file system, and how that
// becomes the Windows description the core expects.
#ifndef QVBACKUP_PLATFORM_POSIX_FILE_STATUS_H_
#define QVBACKUP_PLATFORM_POSIX_FILE_STATUS_H_

#include <cstdint>
#include <string_view>

#include "platform/file_system.h"
#include "qvbackup/wintypes.h"

namespace qv::platform::posix {

enum class ItemKind {
  kFile,
  kFolder,
  kSymbolicLink,
  kOther,  // device, FIFO, socket: nothing the library backs up
};

struct ItemStatus {
  ItemKind kind = ItemKind::kOther;
  bool linkNamesFolder = false;  // for a symbolic link: its target is a folder
  bool ownerCanWrite = true;
  std::uint64_t device = 0;
  std::uint64_t size = 0;
  FILETIME creationTime = {0, 0};  // birth time where recorded, else change time
  FILETIME lastAccessTime = {0, 0};
  FILETIME lastWriteTime = {0, 0};
};

// Reads the item `name` (relative to the open folder `folderFd`, or a path
// with AT_FDCWD) without following a final symbolic link. False with errno
// set when it cannot be read.
bool QueryItem(int folderFd, const char* name, ItemStatus* status);

// Seconds and nanoseconds since 1970 as a FILETIME (100 ns units since
// 1601), keeping the full 100 ns precision; clamped to the FILETIME range.
FILETIME FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds);

// The Windows attributes of an item whose last name component is `name`
// (empty for a drive's root; "." and ".." are never hidden). `isMountPoint`
// marks a folder that lies on another file system than its parent.
DWORD AttributesOf(const ItemStatus& status, std::string_view name, bool isMountPoint);

// The GetFileInformation record of an item, given its attributes.
FileInformation InformationOf(const ItemStatus& status, DWORD attributes);

}  // namespace qv::platform::posix

#endif  // QVBACKUP_PLATFORM_POSIX_FILE_STATUS_H_
