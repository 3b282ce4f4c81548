// Creating folders by their drive-letter path.
#ifndef QVBACKUP_PLATFORM_FOLDERS_H_
#define QVBACKUP_PLATFORM_FOLDERS_H_

#include "platform/text.h"
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

// Makes a new folder in the system's folder for temporary files (TMPDIR or
// /tmp on POSIX, GetTempPathW on Windows), named `prefix` and characters no
// other run picks, that only this user may use; its drive path goes to
// *path. False with the system's error.
bool CreateWorkFolder(const char* prefix, WString* path);

// Removes the folder `path` and everything in it, no link followed (a link
// is removed, not what it names). True when nothing is left of it, also
// when it was not there.
bool RemoveFolderTree(const WCHAR* path);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_FOLDERS_H_
