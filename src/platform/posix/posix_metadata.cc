#include "platform/posix_metadata.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/drive_map.h"
#include "platform/posix/items_at.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {

namespace {

using posix::FailWith;
using posix::FailWithErrno;

bool ResolvePath(const WCHAR* path, std::string* native) {
  if (path == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  posix::NativePath resolved;
  if (!posix::NativePathOf(path, &resolved)) return false;
  *native = std::move(resolved.path);
  return true;
}

std::string LookUpUserName(const uid_t& uid) {
  std::vector<char> buffer(16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
  return found->pw_name;
}

std::string LookUpGroupName(const gid_t& gid) {
  std::vector<char> buffer(16384);
  struct group entry;
  struct group* found = nullptr;
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
  return found->gr_name;
}

std::optional<uid_t> LookUpUserNumber(const std::string& name) {
  std::vector<char> buffer(16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
  return found->pw_uid;
}

std::optional<gid_t> LookUpGroupNumber(const std::string& name) {
  std::vector<char> buffer(16384);
  struct group entry;
  struct group* found = nullptr;
  if (::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
  return found->gr_gid;
}

// A backup asks for the same few owners thousands of times, and so does a
// restore for their names; each lookup may read the whole user database.
// The answers are kept for the process's life (names do not move under a
// running backup or restore).
template <typename Key, typename Value>
Value Cached(std::map<Key, Value>& cache, const Key& key, Value (*lookUp)(const Key&)) {
  static std::mutex lock;
  {
    std::lock_guard<std::mutex> held(lock);
    auto found = cache.find(key);
    if (found != cache.end()) return found->second;
  }
  Value value = lookUp(key);
  std::lock_guard<std::mutex> held(lock);
  return cache.emplace(key, std::move(value)).first->second;
}

std::string UserName(uid_t uid) {
  static std::map<uid_t, std::string> names;
  return Cached(names, uid, LookUpUserName);
}

std::string GroupName(gid_t gid) {
  static std::map<gid_t, std::string> names;
  return Cached(names, gid, LookUpGroupName);
}

// The number this system gives `name`, else `fallback` (the number saved).
uid_t UserNumber(const std::string& name, DWORD fallback) {
  if (name.empty()) return fallback;
  static std::map<std::string, std::optional<uid_t>> numbers;
  return Cached(numbers, name, LookUpUserNumber).value_or(fallback);
}

gid_t GroupNumber(const std::string& name, DWORD fallback) {
  if (name.empty()) return fallback;
  static std::map<std::string, std::optional<gid_t>> numbers;
  return Cached(numbers, name, LookUpGroupNumber).value_or(fallback);
}

bool ReadLinkTarget(const std::string& path, std::size_t sizeHint, std::string* target) {
  std::vector<char> buffer(sizeHint + 1 > 256 ? sizeHint + 1 : 256);
  for (;;) {
    ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0) return FailWithErrno(errno);
    if (static_cast<std::size_t>(length) < buffer.size()) {
      target->assign(buffer.data(), static_cast<std::size_t>(length));
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

// The extended attributes of `path` (a link's own), each read whole; one
// that goes while it is read, or cannot be read, is left out.
void ReadAttributes(const std::string& path, std::vector<ExtendedAttribute>* attributes) {
  std::vector<char> names;
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t length = ::llistxattr(path.c_str(), nullptr, 0);
    if (length <= 0) return;
    names.resize(static_cast<std::size_t>(length));
    length = ::llistxattr(path.c_str(), names.data(), names.size());
    if (length >= 0) {
      names.resize(static_cast<std::size_t>(length));
      break;
    }
    if (errno != ERANGE) return;
    names.clear();
  }
  for (std::size_t at = 0; at < names.size();) {
    const std::string name(names.data() + at);
    at += name.size() + 1;
    if (name.empty()) continue;
    std::vector<BYTE> value;
    for (int attempt = 0; attempt < 4; ++attempt) {
      ssize_t length = ::lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
      if (length < 0) break;
      value.resize(static_cast<std::size_t>(length));
      length = ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
      if (length >= 0) {
        value.resize(static_cast<std::size_t>(length));
        attributes->push_back({name, std::move(value)});
        break;
      }
      if (errno != ERANGE) break;
    }
  }
}

bool IsUserAttribute(const std::string& name) { return name.compare(0, 5, "user.") == 0; }

}  // namespace

bool KeepsPosixMetadata() { return true; }

bool ReadPosixMetadata(const WCHAR* path, PosixMetadata* metadata) {
  std::string native;
  if (!ResolvePath(path, &native)) return false;
  struct stat status;
  if (::lstat(native.c_str(), &status) != 0) return FailWithErrno(errno);
  PosixMetadata read;
  if (S_ISREG(status.st_mode)) {
    read.type = ItemType::kFile;
  } else if (S_ISDIR(status.st_mode)) {
    read.type = ItemType::kFolder;
  } else if (S_ISLNK(status.st_mode)) {
    read.type = ItemType::kSymbolicLink;
    if (!ReadLinkTarget(native, static_cast<std::size_t>(status.st_size), &read.linkTarget)) return false;
  }
  read.mode = status.st_mode & 07777;
  read.uid = status.st_uid;
  read.gid = status.st_gid;
  read.user = UserName(status.st_uid);
  read.group = GroupName(status.st_gid);
  read.modifiedSeconds = status.st_mtim.tv_sec;
  read.modifiedNanoseconds = static_cast<DWORD>(status.st_mtim.tv_nsec);
  read.accessedSeconds = status.st_atim.tv_sec;
  read.accessedNanoseconds = static_cast<DWORD>(status.st_atim.tv_nsec);
  read.device = status.st_dev;
  read.inode = status.st_ino;
  read.links = status.st_nlink;
  if (read.type != ItemType::kOther) ReadAttributes(native, &read.attributes);
  *metadata = std::move(read);
  return true;
}

DWORD ApplyPosixMetadata(const WCHAR* path, const PosixMetadata& metadata, bool times) {
  std::string native;
  if (!ResolvePath(path, &native)) return kMetadataOwnerNotSet | kMetadataModeNotSet | kMetadataTimesNotSet;
  return posix::ApplyPosixMetadataAt(AT_FDCWD, native, metadata, times);
}

bool CreateSymbolicLink(const WCHAR* path, const std::string& target) {
  std::string native;
  return ResolvePath(path, &native) && posix::CreateSymbolicLinkAt(AT_FDCWD, native, target);
}

bool CreateHardLink(const WCHAR* existing, const WCHAR* path) {
  std::string from;
  std::string to;
  return ResolvePath(existing, &from) && ResolvePath(path, &to) &&
         posix::CreateHardLinkAt(AT_FDCWD, from, AT_FDCWD, to);
}

// The owner first: giving a file away clears its set-id bits and
// capabilities, which come after. An item of a folder is reached by its
// name, never followed; an empty name is the open item `folderFd` itself.
DWORD posix::ApplyPosixMetadataAt(int folderFd, const std::string& name, const PosixMetadata& metadata, bool times) {
  const bool self = name.empty();
  const bool link = metadata.type == ItemType::kSymbolicLink;
  const char* item = name.c_str();
  DWORD missed = 0;
  // Asked once a process: a restore gives every file its owner.
  static const bool mayGiveAway = ::geteuid() == 0;
  if (mayGiveAway) {
    const uid_t uid = UserNumber(metadata.user, metadata.uid);
    const gid_t gid = GroupNumber(metadata.group, metadata.gid);
    const int set = self ? ::fchown(folderFd, uid, gid) : ::fchownat(folderFd, item, uid, gid, AT_SYMLINK_NOFOLLOW);
    if (set != 0) missed |= kMetadataOwnerNotSet;
  }
  if (!link) {
    const mode_t mode = static_cast<mode_t>(metadata.mode & 07777);
    if (self ? ::fchmod(folderFd, mode) != 0 : !ChangeModeAt(folderFd, item, mode)) missed |= kMetadataModeNotSet;
  }
  // Extended attributes have no call that takes a folder and a name: the
  // item is named through the folder's descriptor.
  const std::string itemPath = folderFd == AT_FDCWD ? name : "/proc/self/fd/" + std::to_string(folderFd) + "/" + name;
  for (const ExtendedAttribute& attribute : metadata.attributes) {
    const char* key = attribute.name.c_str();
    const BYTE* value = attribute.value.data();
    const int set = self ? ::fsetxattr(folderFd, key, value, attribute.value.size(), 0)
                         : ::lsetxattr(itemPath.c_str(), key, value, attribute.value.size(), 0);
    if (set != 0 && IsUserAttribute(attribute.name)) missed |= kMetadataAttributesNotSet;
  }
  if (times) {
    struct timespec both[2];
    both[0].tv_sec = static_cast<time_t>(metadata.accessedSeconds);
    both[0].tv_nsec = static_cast<long>(metadata.accessedNanoseconds % 1000000000u);
    both[1].tv_sec = static_cast<time_t>(metadata.modifiedSeconds);
    both[1].tv_nsec = static_cast<long>(metadata.modifiedNanoseconds % 1000000000u);
    const int set = self ? ::futimens(folderFd, both) : ::utimensat(folderFd, item, both, AT_SYMLINK_NOFOLLOW);
    if (set != 0) missed |= kMetadataTimesNotSet;
  }
  return missed;
}

bool posix::CreateSymbolicLinkAt(int folderFd, const std::string& name, const std::string& target) {
  if (target.empty() || target.find('\0') != std::string::npos) return FailWith(ERROR_INVALID_PARAMETER);
  if (::symlinkat(target.c_str(), folderFd, name.c_str()) != 0) return FailWithErrno(errno);
  return true;
}

bool posix::CreateHardLinkAt(int existingFolderFd, const std::string& existingName, int folderFd,
                             const std::string& name) {
  if (::linkat(existingFolderFd, existingName.c_str(), folderFd, name.c_str(), 0) != 0) return FailWithErrno(errno);
  return true;
}

}  // namespace qv::platform
