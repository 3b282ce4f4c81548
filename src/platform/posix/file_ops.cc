#include "platform/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/fault_injection.h"
#include "platform/posix/drive_map.h"
#include "platform/posix/items_at.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {

using posix::FailWith;
using posix::FailWithErrno;

namespace {

bool ResolvePath(const WCHAR* path, std::string* native) {
  if (path == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  posix::NativePath resolved;
  if (!posix::NativePathOf(path, &resolved)) return false;
  *native = std::move(resolved.path);
  return true;
}

// POSIX says ENOENT for a missing file and for a missing folder on the way
// to it; Windows tells them apart (2 and 3).
bool FailMissingOr(const std::string& path, int errnoValue) {
  if (errnoValue == ENOENT) {
    std::size_t slash = path.rfind('/');
    std::string parent = slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
    struct stat data;
    if (stat(parent.c_str(), &data) != 0 || !S_ISDIR(data.st_mode)) return FailWith(ERROR_PATH_NOT_FOUND);
  }
  return FailWithErrno(errnoValue);
}

class PosixWritableFile : public WritableFile {
 public:
  explicit PosixWritableFile(int descriptor) : descriptor_(descriptor) {}
  ~PosixWritableFile() override { close(descriptor_); }
  PosixWritableFile(const PosixWritableFile&) = delete;
  PosixWritableFile& operator=(const PosixWritableFile&) = delete;

  bool Write(const void* data, DWORD size) override {
    const auto* bytes = static_cast<const unsigned char*>(data);
    DWORD written = 0;
    while (written < size) {
      ssize_t count = write(descriptor_, bytes + written, size - written);
      if (count < 0) {
        if (errno == EINTR) continue;
        return FailWithErrno(errno);
      }
      written += static_cast<DWORD>(count);
    }
    return true;
  }

  bool SeekToEnd() override { return lseek(descriptor_, 0, SEEK_END) >= 0 || FailWithErrno(errno); }

 private:
  int descriptor_;
};

}  // namespace

std::unique_ptr<WritableFile> CreateSystemWritableFile(const WCHAR* path, Creation creation) {
  std::string native;
  if (!ResolvePath(path, &native)) return nullptr;
  // O_EXCL fails on any name already there, a symbolic link included, and
  // O_NOFOLLOW says so again for systems that would look through one.
  const int how = creation == Creation::kNew ? O_CREAT | O_EXCL | O_NOFOLLOW : O_CREAT | O_TRUNC;
  int descriptor = open(native.c_str(), O_WRONLY | how | O_CLOEXEC, 0666);
  if (descriptor < 0) {
    FailMissingOr(native, errno);
    return nullptr;
  }
  return std::make_unique<PosixWritableFile>(descriptor);
}

bool CanOpenForReadWrite(const WCHAR* path) {
  std::string native;
  if (!ResolvePath(path, &native)) return false;
  // Non-blocking, so that a FIFO named like the file cannot hold us up.
  int descriptor = open(native.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return FailMissingOr(native, errno);
  struct stat data;
  bool isFile = fstat(descriptor, &data) == 0 && S_ISREG(data.st_mode);
  close(descriptor);
  return isFile || FailWith(ERROR_FILE_NOT_FOUND);
}

bool RemoveSystemFile(const WCHAR* path) {
  std::string native;
  if (!ResolvePath(path, &native)) return false;
  return unlink(native.c_str()) == 0 || FailMissingOr(native, errno);
}

bool RenameSystemFile(const WCHAR* from, const WCHAR* to) {
  std::string nativeFrom;
  std::string nativeTo;
  if (!ResolvePath(from, &nativeFrom) || !ResolvePath(to, &nativeTo)) return false;
  return std::rename(nativeFrom.c_str(), nativeTo.c_str()) == 0 || FailMissingOr(nativeFrom, errno);
}

bool SyncSystemFolder(const WCHAR* folder) {
  std::string native;
  if (!ResolvePath(folder, &native)) return false;
  if (native.empty()) native.push_back('/');
  int descriptor = open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return FailMissingOr(native, errno);
  int result = fsync(descriptor);
  int error = errno;
  close(descriptor);
  // Some file systems (and FUSE mounts) cannot sync a folder: their own
  // guarantees are all there is.
  if (result != 0 && error != EINVAL && error != ENOTSUP && error != EROFS) return FailWithErrno(error);
  return true;
}

bool MakeWritable(const WCHAR* path) {
  std::string native;
  if (!ResolvePath(path, &native)) return false;
  return posix::MakeWritableAt(AT_FDCWD, native.c_str()) || FailMissingOr(native, errno);
}

PathKind KindOfPath(const WCHAR* path) {
  std::string native;
  if (!ResolvePath(path, &native)) return PathKind::kNothing;
  struct stat data;
  if (lstat(native.c_str(), &data) != 0) {
    FailMissingOr(native, errno);
    return PathKind::kNothing;
  }
  if (S_ISREG(data.st_mode)) return PathKind::kFile;
  if (S_ISDIR(data.st_mode)) return PathKind::kFolder;
  if (S_ISLNK(data.st_mode)) return PathKind::kLink;
  return PathKind::kOther;
}

WString PathForMessages(const WCHAR* path) {
  if (path == nullptr) return WString();
  posix::NativePath resolved;
  if (!posix::NativePathOf(path, &resolved)) return WString(WStringView(path));
  return Utf8ToUtf16(resolved.path);
}

}  // namespace qv::platform
