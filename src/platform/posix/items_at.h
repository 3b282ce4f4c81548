// Operations on one item of an open folder (`folderFd`, or AT_FDCWD with a
// whole path as `name`), its last name never followed: what the drive-path
// functions of the platform layer do, for the items of a held folder.
// Those returning bool fail with errno set, for the caller to report.
#ifndef QVBACKUP_PLATFORM_POSIX_ITEMS_AT_H_
#define QVBACKUP_PLATFORM_POSIX_ITEMS_AT_H_

#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/posix_metadata.h"
#include "platform/random_access_file.h"
#include "qvbackup/wintypes.h"

namespace qv::platform::posix {

// A file object over the open descriptor `fd`, which it closes.
std::unique_ptr<RandomAccessFile> FileOfDescriptor(int fd);

// chmod of the item, never of a link's target (EOPNOTSUPP for a link).
bool ChangeModeAt(int folderFd, const char* name, mode_t mode);

// SetFileTimes, SetFileAttributesOf and MakeWritable of the item. For
// SetAttributesAt, `baseMode` is the mode read-only is applied to; a
// negative one is the item's own.
bool SetTimesAt(int folderFd, const char* name, const FILETIME& lastAccess, const FILETIME& lastWrite);
bool SetAttributesAt(int folderFd, const char* name, DWORD attributes, int baseMode);
bool MakeWritableAt(int folderFd, const char* name);

// ApplyPosixMetadata of the item; an empty `name` is the open folder (or
// file) `folderFd` itself.
DWORD ApplyPosixMetadataAt(int folderFd, const std::string& name, const PosixMetadata& metadata, bool times);
// CreateSymbolicLink and CreateHardLink, between items of open folders.
bool CreateSymbolicLinkAt(int folderFd, const std::string& name, const std::string& target);
bool CreateHardLinkAt(int existingFolderFd, const std::string& existingName, int folderFd, const std::string& name);

}  // namespace qv::platform::posix

#endif  // QVBACKUP_PLATFORM_POSIX_ITEMS_AT_H_
