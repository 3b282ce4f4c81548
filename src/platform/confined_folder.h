// A folder a restore writes into, reached from the restore's root one name
// at a time without ever passing through a symbolic link, junction or other
// reparse point, and held while it is used: whatever is planted in the tree
// below the root, nothing is made, replaced or changed outside it.
//
// The root is the folder the user named: it may itself be a link or lie
// below one. Every folder below it is opened relative to the one above,
// refusing a link; the items of a folder are reached relative to it, their
// last name never followed. On POSIX the folder's descriptor is held, so
// no path is parsed again from the root and the checks cannot be raced.
// Windows checks each folder's attributes as it goes (the folder is then
// reached by its path again).
//
// Names are single components: not empty, ".", ".." and without '\' or
// '/' (ERROR_INVALID_NAME otherwise). Paths handed back are drive paths,
// for messages and fault plans, never used to reach the folder.
//
// Every function that fails sets the thread's last error to a Windows
// error number. The operations that fault plans hook (creating a file,
// renaming, removing, syncing) consult the installed plan as OpenFile,
// RenameFile, RemoveFile and SyncFolder do, under the items' drive paths.
#ifndef QVBACKUP_PLATFORM_CONFINED_FOLDER_H_
#define QVBACKUP_PLATFORM_CONFINED_FOLDER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/posix_metadata.h"
#include "platform/random_access_file.h"
#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::platform {

class ConfinedFolder {
 public:
  ~ConfinedFolder();
  ConfinedFolder(const ConfinedFolder&) = delete;
  ConfinedFolder& operator=(const ConfinedFolder&) = delete;

  // The folder `root` (a drive path), as the user named it: links on its
  // way are followed. With `create`, it and the folders missing on the way
  // to it are made (CreateFolderTree). Null with the last error:
  // ERROR_DIRECTORY when it is something other than a folder,
  // ERROR_PATH_NOT_FOUND when it is missing (and not `create`), or the
  // system's error. POSIX: the process's umask is read here, for
  // SetNewFileAttributes of every folder reached from this one.
  static std::unique_ptr<ConfinedFolder> OpenRoot(const WCHAR* root, bool create);

  // The folder `name` in this one, which must not be a symbolic link,
  // junction or other reparse point. With `create` it is made when missing
  // (POSIX: mode 0777 less the umask). Null with the last error:
  // ERROR_STOPPED_ON_SYMLINK for a link or reparse point, ERROR_ALREADY_EXISTS
  // for something other than a folder, ERROR_PATH_NOT_FOUND when missing (and
  // not `create`), or the system's error.
  std::unique_ptr<ConfinedFolder> OpenFolder(WStringView name, bool create) const;

  // Whether `name` is a single name an item of a folder can have.
  static bool IsPlainName(WStringView name);

  // This folder's drive path, and that of its item `name`.
  const WString& Path() const { return path_; }
  WString PathOf(WStringView name) const;

  // A new file `name`, open for reading and writing (CREATE_NEW, never
  // through a link: ERROR_FILE_EXISTS when anything is there). POSIX: mode
  // 0600 whatever the umask, until SetNewFileAttributes.
  std::unique_ptr<RandomAccessFile> CreateNewFile(WStringView name) const;

  // Renames the item `from` to `to`, both in this folder, replacing a file
  // (or link) named `to` in one step, as RenameFile does.
  bool Rename(WStringView from, WStringView to) const;
  // Renames the item `from` to `to`, both in this folder, only when
  // nothing is named `to`: whatever is there stays, and the answer is
  // false with ERROR_FILE_EXISTS. The check and the rename are one step
  // (POSIX: renameat2 with RENAME_NOREPLACE; where the file system lacks
  // it, a hard link under the new name then the removal of the old one,
  // for files and links; Windows: MoveFileExW without
  // MOVEFILE_REPLACE_EXISTING).
  bool RenameNoReplace(WStringView from, WStringView to) const;
  // Removes the file (or link) `name`, as RemoveFile does.
  bool Remove(WStringView name) const;
  // Makes the creations, renames and removals in this folder durable, as
  // SyncFolder does.
  bool Sync() const;

  // GetFileInformation of the item `name`, a link not followed.
  bool GetInformation(WStringView name, FileInformation* info) const;
  // MakeWritable of the item `name`: a link is left alone.
  bool MakeWritable(WStringView name) const;
  // SetFileTimes of the item `name`, a link's own times.
  bool SetTimes(WStringView name, const FILETIME& creation, const FILETIME& lastAccess,
                const FILETIME& lastWrite) const;
  // SetFileAttributesOf of the item `name`: a link is left alone.
  bool SetAttributes(WStringView name, DWORD attributes) const;
  // The attributes of the file `name` that CreateNewFile made, as
  // SetFileAttributesOf gives them. POSIX: from the mode a file the process
  // creates gets (0666 less the umask read by OpenRoot) or, with
  // `keepCreationMode`, from the owner-only mode it was made with (the caller
  // gives it its saved mode later); read-only then takes every write
  // permission away. At most one chmod.
  bool SetNewFileAttributes(WStringView name, DWORD attributes, bool keepCreationMode) const;

  // ApplyPosixMetadata of the item `name`, its last name never followed (a
  // link gets its own owner, attributes and times); an empty `name` is this
  // folder itself.
  DWORD ApplyPosixMetadata(WStringView name, const PosixMetadata& metadata, bool times) const;
  // CreateSymbolicLink: the new link `name` holding `target`.
  bool CreateSymbolicLink(WStringView name, const std::string& target) const;
  // CreateHardLink: the new name `name` here for the file `existingName` of
  // `existingFolder` (a link there is linked as the link, never followed).
  bool CreateHardLink(const ConfinedFolder& existingFolder, WStringView existingName, WStringView name) const;

 private:
  ConfinedFolder(WString path, std::intptr_t handle, DWORD newFileMode);
  // `root` without the separators that end it ("C:\" keeps its own).
  static WString TrimmedRoot(const WCHAR* root);

  WString path_;
  std::intptr_t handle_;  // POSIX: the folder's open descriptor; Windows: unused
  DWORD newFileMode_;     // POSIX: 0666 less the umask
};

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_CONFINED_FOLDER_H_
