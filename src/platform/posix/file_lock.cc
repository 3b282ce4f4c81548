#include "platform/file_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <string>

#include "platform/posix/drive_map.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {

namespace {

using posix::FailWith;
using posix::FailWithErrno;

// A holder that lost its file (it was removed by the holder before it, or
// replaced) starts again on a new one: a few times at most.
constexpr int kLockAttempts = 4;
constexpr std::size_t kMostHolderBytes = 1024;

class PosixFileLock final : public FileLock {
 public:
  PosixFileLock(int descriptor, std::string path) : descriptor_(descriptor), path_(std::move(path)) {}
  // The file goes first, while the lock is still held: a run that opened it
  // just before finds, once it has the lock, that the name no longer leads
  // to its file, and starts again on a new one.
  ~PosixFileLock() override {
    const int kept = errno;
    if (StillNamesOurFile()) ::unlink(path_.c_str());
    ::close(descriptor_);
    errno = kept;
  }
  PosixFileLock(const PosixFileLock&) = delete;
  PosixFileLock& operator=(const PosixFileLock&) = delete;

  bool StillNamesOurFile() const {
    struct stat ours;
    struct stat named;
    return ::fstat(descriptor_, &ours) == 0 && ::lstat(path_.c_str(), &named) == 0 && ours.st_dev == named.st_dev &&
           ours.st_ino == named.st_ino;
  }

  bool WriteHolder(const std::string& text) {
    if (::ftruncate(descriptor_, 0) != 0) return FailWithErrno(errno);
    std::size_t written = 0;
    while (written < text.size()) {
      ssize_t count = ::pwrite(descriptor_, text.data() + written, text.size() - written,
                               static_cast<off_t>(written));
      if (count < 0) {
        if (errno == EINTR) continue;
        return FailWithErrno(errno);
      }
      written += static_cast<std::size_t>(count);
    }
    return true;
  }

 private:
  int descriptor_;
  std::string path_;
};

WString ReadHolder(int descriptor) {
  char text[kMostHolderBytes];
  ssize_t count = ::pread(descriptor, text, sizeof(text), 0);
  if (count <= 0) return WString();
  std::size_t length = static_cast<std::size_t>(count);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
  return Utf8ToUtf16(std::string_view(text, length));
}

}  // namespace

std::unique_ptr<FileLock> TryLockFile(const WCHAR* path, WStringView holder, WString* heldBy) {
  if (path == nullptr) {
    FailWith(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  posix::NativePath native;
  if (!posix::NativePathOf(WStringView(path), &native)) return nullptr;
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    int descriptor = ::open(native.path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
      FailWithErrno(errno);
      return nullptr;
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      if (error == EWOULDBLOCK || error == EINTR) {
        if (heldBy != nullptr) *heldBy = ReadHolder(descriptor);
        ::close(descriptor);
        FailWith(ERROR_BUSY);
      } else {
        ::close(descriptor);
        FailWithErrno(error);
      }
      return nullptr;
    }
    auto lock = std::make_unique<PosixFileLock>(descriptor, native.path);
    if (!lock->StillNamesOurFile()) continue;  // its last holder removed it meanwhile
    if (!lock->WriteHolder(Utf16ToUtf8(holder) + "\n")) return nullptr;
    return lock;
  }
  FailWith(ERROR_BUSY);
  return nullptr;
}

WString ThisProcessDescription() {
  char host[256] = {};
  if (::gethostname(host, sizeof(host) - 1) != 0) host[0] = 0;
  std::string text = "process " + std::to_string(static_cast<long long>(::getpid()));
  if (host[0] != 0) text += std::string(" on ") + host;
  return Utf8ToUtf16(text);
}

DWORD CurrentProcessId() { return static_cast<DWORD>(::getpid()); }

bool ProcessIsRunning(DWORD id) {
  if (id == 0 || id > static_cast<DWORD>(std::numeric_limits<pid_t>::max())) return false;
  return ::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

}  // namespace qv::platform
