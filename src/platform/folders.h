// Creating folders by their drive-letter path.
#ifndef QVBACKUP_PLATFORM_FOLDERS_H_
#define QVBACKUP_PLATFORM_FOLDERS_H_

#include "qvbackup/wintypes.h"

namespace qv::platform {

// Makes sure the folder `path` ("C:\a\b", with or without a trailing
// backslash) exists, creating every missing folder on the way, as
// CreateDirectoryW would one component at a time. True when the folder exists
// afterwards, whether created now or already there (a drive's root always
// is). False with the system's error: ERROR_INVALID_PARAMETER for a null or
// empty path, ERROR_ALREADY_EXISTS when a component is something other than a
// folder, ERROR_PATH_NOT_FOUND for a path on a drive that does not exist (on
// POSIX: a letter the drive map does not give a folder), ERROR_ACCESS_DENIED
// when a folder may not be created there. Folders created before a failure
// stay. POSIX: new folders get mode 0777 less the umask; existing symbolic
// links to folders are followed, as Windows follows junctions.
bool CreateFolderTree(const WCHAR* path);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_FOLDERS_H_
