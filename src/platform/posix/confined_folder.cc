#include "platform/confined_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/fault_injection.h"
#include "platform/folders.h"
#include "platform/posix/drive_map.h"
#include "platform/posix/file_status.h"
#include "platform/posix/items_at.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {

namespace {

using posix::FailWith;
using posix::FailWithErrno;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

int Descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

// The native form of the single name `name`.
bool NativeName(WStringView name, std::string* native) {
  if (!ConfinedFolder::IsPlainName(name)) return FailWith(ERROR_INVALID_NAME);
  *native = posix::NativeNameOf(name);
  if (native->empty() || native->find('/') != std::string::npos || native->find('\0') != std::string::npos) {
    return FailWith(ERROR_INVALID_NAME);
  }
  return true;
}

// The umask, without changing it even for a moment where the kernel tells
// it (other threads may be creating files meanwhile); elsewhere it is read
// by setting it, to one that leaves what they create their owner's only.
mode_t ProcessUmask() {
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned value = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof(line), status) != nullptr) {
      found = std::sscanf(line, "Umask: %o", &value) == 1;
    }
    std::fclose(status);
    if (found) return static_cast<mode_t>(value & 0777);
  }
  const mode_t mask = ::umask(077);
  ::umask(mask);
  return mask;
}

// A folder that is missing is a path not found, as Windows says.
bool FailMissingOr(int errnoValue) {
  return errnoValue == ENOENT ? FailWith(ERROR_PATH_NOT_FOUND) : FailWithErrno(errnoValue);
}

// Why the folder `name` of `folderFd` did not open as a folder without
// following a link (open says ENOTDIR or ELOOP for a link alike).
bool FailNotAFolder(int folderFd, const std::string& name, int openError) {
  struct stat status;
  if (::fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return FailMissingOr(errno);
  if (S_ISLNK(status.st_mode)) return FailWith(ERROR_STOPPED_ON_SYMLINK);
  if (!S_ISDIR(status.st_mode)) return FailWith(ERROR_ALREADY_EXISTS);
  return FailWithErrno(openError);
}

}  // namespace

ConfinedFolder::ConfinedFolder(WString path, std::intptr_t handle, DWORD newFileMode)
    : path_(std::move(path)), handle_(handle), newFileMode_(newFileMode) {}

ConfinedFolder::~ConfinedFolder() { ::close(Descriptor(handle_)); }

std::unique_ptr<ConfinedFolder> ConfinedFolder::OpenRoot(const WCHAR* root, bool create) {
  if (root == nullptr || root[0] == 0) {
    FailWith(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  posix::NativePath native;
  if (!posix::NativePathOf(WStringView(root), &native)) return nullptr;
  int fd = ::open(native.path.c_str(), kFolderFlags);
  // CreateFolderTree tells what is in the way of a folder that is missing.
  if (fd < 0 && (errno == ENOENT || errno == ENOTDIR) && create) {
    if (!CreateFolderTree(root)) return nullptr;
    fd = ::open(native.path.c_str(), kFolderFlags);
  }
  if (fd < 0) {
    if (errno == ENOTDIR) {
      struct stat status;
      FailWith(::stat(native.path.c_str(), &status) == 0 ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND);
    } else {
      FailMissingOr(errno);
    }
    return nullptr;
  }
  return std::unique_ptr<ConfinedFolder>(new ConfinedFolder(TrimmedRoot(root), fd, 0666 & ~ProcessUmask()));
}

std::unique_ptr<ConfinedFolder> ConfinedFolder::OpenFolder(WStringView name, bool create) const {
  std::string native;
  if (!NativeName(name, &native)) return nullptr;
  const int parent = Descriptor(handle_);
  int fd = ::openat(parent, native.c_str(), kFolderFlags | O_NOFOLLOW);
  if (fd < 0 && errno == ENOENT && create) {
    // Made by another process meanwhile is as good; whatever is there now
    // is opened the same way, a link still refused.
    if (::mkdirat(parent, native.c_str(), 0777) != 0 && errno != EEXIST) {
      FailWithErrno(errno);
      return nullptr;
    }
    fd = ::openat(parent, native.c_str(), kFolderFlags | O_NOFOLLOW);
  }
  if (fd < 0) {
    const int error = errno;
    if (error == ENOTDIR || error == ELOOP) {
      FailNotAFolder(parent, native, error);
    } else {
      FailMissingOr(error);
    }
    return nullptr;
  }
  return std::unique_ptr<ConfinedFolder>(new ConfinedFolder(PathOf(name), fd, newFileMode_));
}

std::unique_ptr<RandomAccessFile> ConfinedFolder::CreateNewFile(WStringView name) const {
  const WString path = PathOf(name);
  std::string native;
  if (!NativeName(name, &native) || FaultPlanFails(FaultOp::kOpen, path)) return nullptr;
  // O_EXCL never follows a link: one already there is a name taken.
  const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  const int fd = ::openat(Descriptor(handle_), native.c_str(), flags, 0600);
  if (fd < 0) {
    FailWithErrno(errno);
    return nullptr;
  }
  return UnderFaultPlan(posix::FileOfDescriptor(fd), path);
}

bool ConfinedFolder::Rename(WStringView from, WStringView to) const {
  std::string nativeFrom;
  std::string nativeTo;
  if (!NativeName(from, &nativeFrom) || !NativeName(to, &nativeTo)) return false;
  if (FaultPlanFails(FaultOp::kRename, PathOf(from), PathOf(to))) return false;
  const int fd = Descriptor(handle_);
  return ::renameat(fd, nativeFrom.c_str(), fd, nativeTo.c_str()) == 0 || FailWithErrno(errno);
}

bool ConfinedFolder::RenameNoReplace(WStringView from, WStringView to) const {
  std::string nativeFrom;
  std::string nativeTo;
  if (!NativeName(from, &nativeFrom) || !NativeName(to, &nativeTo)) return false;
  if (FaultPlanFails(FaultOp::kRename, PathOf(from), PathOf(to))) return false;
  const int fd = Descriptor(handle_);
  if (::renameat2(fd, nativeFrom.c_str(), fd, nativeTo.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    return errno == EEXIST ? FailWith(ERROR_FILE_EXISTS) : FailWithErrno(errno);
  }
  // A link never replaces: it fails on any name already taken. A link
  // (flags 0) is linked as itself, never followed.
  if (::linkat(fd, nativeFrom.c_str(), fd, nativeTo.c_str(), 0) != 0) {
    return errno == EEXIST ? FailWith(ERROR_FILE_EXISTS) : FailWithErrno(errno);
  }
  return ::unlinkat(fd, nativeFrom.c_str(), 0) == 0 || FailWithErrno(errno);
}

bool ConfinedFolder::Remove(WStringView name) const {
  std::string native;
  if (!NativeName(name, &native) || FaultPlanFails(FaultOp::kDelete, PathOf(name))) return false;
  return ::unlinkat(Descriptor(handle_), native.c_str(), 0) == 0 || FailWithErrno(errno);
}

bool ConfinedFolder::Sync() const {
  if (FaultPlanFails(FaultOp::kSync, path_)) return false;
  if (::fsync(Descriptor(handle_)) == 0) return true;
  // As SyncFolder: file systems that cannot sync a folder have their own
  // guarantees only.
  return errno == EINVAL || errno == ENOTSUP || errno == EROFS || FailWithErrno(errno);
}

bool ConfinedFolder::GetInformation(WStringView name, FileInformation* info) const {
  std::string native;
  if (info == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (!NativeName(name, &native)) return false;
  posix::ItemStatus status;
  if (!posix::QueryItem(Descriptor(handle_), native.c_str(), &status)) return FailWithErrno(errno);
  if (status.kind == posix::ItemKind::kOther) return FailWith(ERROR_FILE_NOT_FOUND);
  *info = posix::InformationOf(status, posix::AttributesOf(status, native, false));
  return true;
}

bool ConfinedFolder::MakeWritable(WStringView name) const {
  std::string native;
  return NativeName(name, &native) &&
         (posix::MakeWritableAt(Descriptor(handle_), native.c_str()) || FailWithErrno(errno));
}

bool ConfinedFolder::SetTimes(WStringView name, const FILETIME&, const FILETIME& lastAccess,
                              const FILETIME& lastWrite) const {
  std::string native;
  return NativeName(name, &native) &&
         (posix::SetTimesAt(Descriptor(handle_), native.c_str(), lastAccess, lastWrite) || FailWithErrno(errno));
}

bool ConfinedFolder::SetAttributes(WStringView name, DWORD attributes) const {
  std::string native;
  return NativeName(name, &native) &&
         (posix::SetAttributesAt(Descriptor(handle_), native.c_str(), attributes, -1) || FailWithErrno(errno));
}

bool ConfinedFolder::SetNewFileAttributes(WStringView name, DWORD attributes, bool keepCreationMode) const {
  std::string native;
  const int base = keepCreationMode ? -1 : static_cast<int>(newFileMode_);
  return NativeName(name, &native) &&
         (posix::SetAttributesAt(Descriptor(handle_), native.c_str(), attributes, base) || FailWithErrno(errno));
}

DWORD ConfinedFolder::ApplyPosixMetadata(WStringView name, const PosixMetadata& metadata, bool times) const {
  std::string native;
  if (!name.empty() && !NativeName(name, &native)) {
    return kMetadataOwnerNotSet | kMetadataModeNotSet | kMetadataTimesNotSet;
  }
  return posix::ApplyPosixMetadataAt(Descriptor(handle_), native, metadata, times);
}

bool ConfinedFolder::CreateSymbolicLink(WStringView name, const std::string& target) const {
  std::string native;
  return NativeName(name, &native) && posix::CreateSymbolicLinkAt(Descriptor(handle_), native, target);
}

bool ConfinedFolder::CreateHardLink(const ConfinedFolder& existingFolder, WStringView existingName,
                                    WStringView name) const {
  std::string nativeExisting;
  std::string native;
  return NativeName(existingName, &nativeExisting) && NativeName(name, &native) &&
         posix::CreateHardLinkAt(Descriptor(existingFolder.handle_), nativeExisting, Descriptor(handle_), native);
}

}  // namespace qv::platform
