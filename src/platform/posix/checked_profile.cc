#include "platform/checked_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/descriptor.h"
#include "platform/posix/drive_map.h"
#include "platform/posix/ini_text.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {

struct CheckedProfile::State {
  WriteAccess file;
  WriteAccess folder;
  bool read = false;  // `text` holds the file's content
  WString text;
};

namespace {

using posix::Descriptor;

WriteAccess AccessOf(const struct stat& data) {
  WriteAccess access;
  access.known = true;
  access.regularFile = S_ISREG(data.st_mode);
  access.ownedByUser = data.st_uid == geteuid();
  access.ownedBySystem = data.st_uid == 0;
  access.groupWritable = (data.st_mode & S_IWGRP) != 0;
  access.othersWritable = (data.st_mode & S_IWOTH) != 0;
  return access;
}

// Splits an absolute native path into its folder and last name.
bool SplitPath(const std::string& path, std::string* folder, std::string* name) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 == path.size()) return posix::FailWith(ERROR_FILE_NOT_FOUND);
  *folder = slash == 0 ? std::string("/") : path.substr(0, slash);
  *name = path.substr(slash + 1);
  return true;
}

// Reads what is left of `descriptor`, at most `most` + 1 bytes.
bool ReadUpTo(int descriptor, std::size_t most, std::string* bytes) {
  char chunk[4096];
  while (bytes->size() <= most) {
    const ssize_t count = read(descriptor, chunk, sizeof chunk);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return posix::FailWithErrno(errno);
    if (count == 0) return true;
    bytes->append(chunk, static_cast<std::size_t>(count));
  }
  return true;
}

}  // namespace

CheckedProfile::CheckedProfile() : state_(std::make_unique<State>()) {}
CheckedProfile::~CheckedProfile() = default;

ProfileOpening CheckedProfile::Open(const WCHAR* path, bool readWrite) {
  *state_ = State();
  posix::NativePath native;
  std::string folderPath;
  std::string name;
  if (path == nullptr) {
    posix::FailWith(ERROR_FILE_NOT_FOUND);
    return ProfileOpening::kMissing;
  }
  if (!posix::NativePathOf(path, &native) || !SplitPath(native.path, &folderPath, &name)) {
    return ProfileOpening::kMissing;
  }
  // The folder is examined through the descriptor the file is then opened
  // in: the file read is one of the folder examined, whatever is renamed.
  Descriptor folder(open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat data;
  if (folder.Get() < 0 || fstat(folder.Get(), &data) != 0) {
    posix::FailWithErrno(errno);
    return ProfileOpening::kMissing;
  }
  const WriteAccess folderAccess = AccessOf(data);
  // Looked at before it is opened, so that a device under the name is
  // never opened (opening some has effects of its own).
  if (fstatat(folder.Get(), name.c_str(), &data, AT_SYMLINK_NOFOLLOW) != 0) {
    posix::FailWithErrno(errno);
    return ProfileOpening::kMissing;
  }
  if (S_ISLNK(data.st_mode)) return ProfileOpening::kSymbolicLink;
  if (!S_ISREG(data.st_mode) && !S_ISDIR(data.st_mode) && !S_ISFIFO(data.st_mode)) {
    state_->folder = folderAccess;
    state_->file = AccessOf(data);
    return ProfileOpening::kOpened;
  }
  const int mode = (readWrite ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  Descriptor file(openat(folder.Get(), name.c_str(), mode));
  if (file.Get() < 0) {
    const int error = errno;
    posix::FailWithErrno(error);
    return error == ELOOP ? ProfileOpening::kSymbolicLink : ProfileOpening::kMissing;
  }
  // What the descriptor holds counts, whatever was at the name before.
  if (fstat(file.Get(), &data) != 0) {
    posix::FailWithErrno(errno);
    return ProfileOpening::kMissing;
  }
  state_->folder = folderAccess;
  state_->file = AccessOf(data);
  if (!state_->file.regularFile) return ProfileOpening::kOpened;
  std::string bytes;
  if (!ReadUpTo(file.Get(), kMostProfileBytes, &bytes)) return ProfileOpening::kMissing;
  if (bytes.size() > kMostProfileBytes) return ProfileOpening::kTooLarge;
  state_->text = posix::DecodeIniText(bytes);
  state_->read = true;
  return ProfileOpening::kOpened;
}

const WriteAccess& CheckedProfile::File() const { return state_->file; }
const WriteAccess& CheckedProfile::Folder() const { return state_->folder; }

DWORD CheckedProfile::ReadString(const WCHAR* section, const WCHAR* key, const WCHAR* defaultValue, DWORD capacity,
                                 WString* value) const {
  return posix::ProfileStringFrom(state_->read ? &state_->text : nullptr, section, key, defaultValue, capacity,
                                  value);
}

UINT CheckedProfile::ReadInt(const WCHAR* section, const WCHAR* key, INT defaultValue) const {
  return posix::ProfileIntFrom(state_->read ? &state_->text : nullptr, section, key, defaultValue);
}

}  // namespace qv::platform
