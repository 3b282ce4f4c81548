// Windows: each folder below the root is checked by its attributes as it is
// reached, refusing junctions, symbolic links and other reparse points; its
// items are then reached by their paths, with the platform's own calls.
#include "platform/confined_folder.h"

#include "platform/fault_injection.h"
#include "platform/file_metadata.h"
#include "platform/file_ops.h"
#include "platform/folders.h"
#include "platform/win32/win32_support.h"

namespace qv::platform {

namespace {

bool FailWith(DWORD error) {
  SetLastError(error);
  return false;
}

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// What is at `path`: a folder that is no reparse point, or why not. With
// `create`, a missing one is made.
bool CheckFolder(const WString& path, bool create) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return FailWith(ERROR_STOPPED_ON_SYMLINK);
      return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || FailWith(ERROR_ALREADY_EXISTS);
    }
    if (!IsMissing(GetLastError())) return false;
    if (!create) return FailWith(ERROR_PATH_NOT_FOUND);
    // Made by another process meanwhile is as good, once checked.
    if (CreateDirectoryW(path.c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return FailWith(ERROR_ALREADY_EXISTS);
}

}  // namespace

ConfinedFolder::ConfinedFolder(WString path, std::intptr_t handle, DWORD newFileMode)
    : path_(std::move(path)), handle_(handle), newFileMode_(newFileMode) {}

ConfinedFolder::~ConfinedFolder() = default;

std::unique_ptr<ConfinedFolder> ConfinedFolder::OpenRoot(const WCHAR* root, bool create) {
  if (root == nullptr || root[0] == 0) {
    FailWith(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD attributes = GetFileAttributesW(root);
  // CreateFolderTree tells what is in the way of a folder that is missing.
  if ((attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) && create) {
    if (!CreateFolderTree(root)) return nullptr;
    attributes = GetFileAttributesW(root);
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (IsMissing(GetLastError())) FailWith(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    FailWith(ERROR_DIRECTORY);
    return nullptr;
  }
  return std::unique_ptr<ConfinedFolder>(new ConfinedFolder(TrimmedRoot(root), 0, 0));
}

std::unique_ptr<ConfinedFolder> ConfinedFolder::OpenFolder(WStringView name, bool create) const {
  if (!IsPlainName(name)) {
    FailWith(ERROR_INVALID_NAME);
    return nullptr;
  }
  WString path = PathOf(name);
  if (!CheckFolder(path, create)) return nullptr;
  return std::unique_ptr<ConfinedFolder>(new ConfinedFolder(std::move(path), 0, 0));
}

// The items, by their paths (CREATE_NEW and MoveFileEx never follow a
// link at the last name; the others open it as itself).

std::unique_ptr<RandomAccessFile> ConfinedFolder::CreateNewFile(WStringView name) const {
  if (!IsPlainName(name)) {
    FailWith(ERROR_INVALID_NAME);
    return nullptr;
  }
  return OpenFile(PathOf(name).c_str(), OpenMode::kCreateNew, Sharing::kReadOwnerOnly);
}

bool ConfinedFolder::Rename(WStringView from, WStringView to) const {
  if (!IsPlainName(from) || !IsPlainName(to)) return FailWith(ERROR_INVALID_NAME);
  return RenameFile(PathOf(from).c_str(), PathOf(to).c_str());
}

bool ConfinedFolder::RenameNoReplace(WStringView from, WStringView to) const {
  if (!IsPlainName(from) || !IsPlainName(to)) return FailWith(ERROR_INVALID_NAME);
  if (FaultPlanFails(FaultOp::kRename, PathOf(from), PathOf(to))) return false;
  if (MoveFileExW(PathOf(from).c_str(), PathOf(to).c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD error = GetLastError();
  return FailWith(error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : error);
}

bool ConfinedFolder::Remove(WStringView name) const {
  return IsPlainName(name) ? RemoveFile(PathOf(name).c_str()) : FailWith(ERROR_INVALID_NAME);
}

bool ConfinedFolder::Sync() const { return SyncFolder(path_.c_str()); }

bool ConfinedFolder::GetInformation(WStringView name, FileInformation* info) const {
  return IsPlainName(name) ? GetFileInformation(PathOf(name).c_str(), info) : FailWith(ERROR_INVALID_NAME);
}

bool ConfinedFolder::MakeWritable(WStringView name) const {
  return IsPlainName(name) ? platform::MakeWritable(PathOf(name).c_str()) : FailWith(ERROR_INVALID_NAME);
}

bool ConfinedFolder::SetTimes(WStringView name, const FILETIME& creation, const FILETIME& lastAccess,
                              const FILETIME& lastWrite) const {
  if (!IsPlainName(name)) return FailWith(ERROR_INVALID_NAME);
  return SetFileTimes(PathOf(name).c_str(), creation, lastAccess, lastWrite);
}

bool ConfinedFolder::SetAttributes(WStringView name, DWORD attributes) const {
  return IsPlainName(name) ? SetFileAttributesOf(PathOf(name).c_str(), attributes) : FailWith(ERROR_INVALID_NAME);
}

// Windows files have no mode: the attributes are all there is.
bool ConfinedFolder::SetNewFileAttributes(WStringView name, DWORD attributes, bool) const {
  return SetAttributes(name, attributes);
}

DWORD ConfinedFolder::ApplyPosixMetadata(WStringView, const PosixMetadata&, bool) const { return 0; }

bool ConfinedFolder::CreateSymbolicLink(WStringView, const std::string&) const {
  return FailWith(ERROR_NOT_SUPPORTED);
}

bool ConfinedFolder::CreateHardLink(const ConfinedFolder& existingFolder, WStringView existingName,
                                    WStringView name) const {
  if (!IsPlainName(existingName) || !IsPlainName(name)) return FailWith(ERROR_INVALID_NAME);
  return platform::CreateHardLink(existingFolder.PathOf(existingName).c_str(), PathOf(name).c_str());
}

}  // namespace qv::platform
