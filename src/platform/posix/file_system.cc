#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/directory_stream.h"
#include "platform/posix/drive_map.h"
#include "platform/posix/file_status.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {

using posix::FailWith;
using posix::FailWithErrno;
using posix::ItemKind;
using posix::ItemStatus;
using posix::NativePath;

namespace {

bool ResolvePath(const WCHAR* path, NativePath* native) {
  if (path == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  return posix::NativePathOf(path, native);
}

std::string_view BaseNameOf(const NativePath& native) {
  if (native.isDriveRoot) return {};
  std::string_view path = native.path;
  return path.substr(path.rfind('/') + 1);
}

std::string ParentOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

// POSIX says ENOENT both for a missing item and a missing folder on the way
// to it; Windows tells them apart (2 and 3), and callers rely on that.
bool FailMissing(const std::string& path, int errnoValue) {
  if (errnoValue == ENOENT) {
    struct stat parent;
    if (stat(ParentOf(path).c_str(), &parent) != 0 || !S_ISDIR(parent.st_mode)) {
      return FailWith(ERROR_PATH_NOT_FOUND);
    }
  }
  return FailWithErrno(errnoValue);
}

// A folder whose device differs from its parent's is the root of another
// file system; marking it as a reparse point keeps folder walks off it.
bool IsMountPoint(const NativePath& native, const ItemStatus& status) {
  if (native.isDriveRoot || status.kind != ItemKind::kFolder) return false;
  struct stat parent;
  return stat((native.path + "/..").c_str(), &parent) == 0 &&
         static_cast<std::uint64_t>(parent.st_dev) != status.device;
}

// Whether an item listed in a folder counts as content: everything but
// devices, FIFOs and sockets, which the enumeration does not report either.
bool CountsAsContent(int folderFd, const dirent& item) {
  switch (item.d_type) {
    case DT_REG:
    case DT_DIR:
    case DT_LNK: return true;
    case DT_UNKNOWN: break;
    default: return false;
  }
  ItemStatus status;
  return posix::QueryItem(folderFd, item.d_name, &status) && status.kind != ItemKind::kOther;
}

bool IsDotOrDotDot(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

}  // namespace

bool GetFileInformation(const WCHAR* path, FileInformation* info) {
  NativePath native;
  if (info == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (!ResolvePath(path, &native)) return false;
  ItemStatus status;
  if (!posix::QueryItem(AT_FDCWD, native.path.c_str(), &status)) return FailMissing(native.path, errno);
  if (status.kind == ItemKind::kOther) return FailWith(ERROR_FILE_NOT_FOUND);
  *info = posix::InformationOf(status, posix::AttributesOf(status, BaseNameOf(native), IsMountPoint(native, status)));
  return true;
}

bool ListedFileInformation(const WCHAR* /*path*/, const WIN32_FIND_DATAW& data, FileInformation* info) {
  if (info == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  info->attributes = data.dwFileAttributes;
  info->creationTime = data.ftCreationTime;
  info->lastAccessTime = data.ftLastAccessTime;
  info->lastWriteTime = data.ftLastWriteTime;
  info->size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool FileExists(const WCHAR* path) {
  FileInformation info;
  return GetFileInformation(path, &info);
}

bool IsDirectory(const WCHAR* path) {
  NativePath native;
  if (!ResolvePath(path, &native)) return false;
  ItemStatus status;
  if (!posix::QueryItem(AT_FDCWD, native.path.c_str(), &status)) return FailMissing(native.path, errno);
  return status.kind == ItemKind::kFolder;
}

bool IsDirectoryEmpty(const WCHAR* path) {
  NativePath native;
  if (!ResolvePath(path, &native)) return false;
  posix::DirectoryStream folder;
  if (!folder.Open(native.path, false)) return FailMissing(native.path, errno);
  while (const dirent* item = folder.Read()) {
    if (!IsDotOrDotDot(item->d_name) && CountsAsContent(folder.Descriptor(), *item)) return false;
  }
  // A folder that could not be read to its end is not known to be empty.
  if (errno != 0) return FailWithErrno(errno);
  return true;
}

bool FileNamesIgnoreCase() { return false; }

bool GetExecutablePath(WString* path) {
  if (path == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return FailWithErrno(errno);
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return posix::DrivePathOf(std::string_view(buffer.data(), static_cast<std::size_t>(length)), path);
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace qv::platform
