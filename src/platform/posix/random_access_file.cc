#include "platform/random_access_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <random>
#include <string>

#include "platform/fault_injection.h"
#include "platform/posix/drive_map.h"
#include "platform/posix/items_at.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {

namespace {

using posix::FailWith;
using posix::FailWithErrno;

class PosixFile final : public RandomAccessFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  bool Read(void* buffer, DWORD size, DWORD* read) override {
    *read = 0;
    auto* target = static_cast<unsigned char*>(buffer);
    while (*read < size) {
      ssize_t count = ::read(fd_, target + *read, size - *read);
      if (count < 0) {
        if (errno == EINTR) continue;
        return FailWithErrno(errno);
      }
      if (count == 0) break;
      *read += static_cast<DWORD>(count);
    }
    return true;
  }

  bool Write(const void* data, DWORD size) override {
    const auto* source = static_cast<const unsigned char*>(data);
    DWORD written = 0;
    while (written < size) {
      ssize_t count = ::write(fd_, source + written, size - written);
      if (count < 0) {
        if (errno == EINTR) continue;
        return FailWithErrno(errno);
      }
      written += static_cast<DWORD>(count);
    }
    return true;
  }

  bool Seek(ULONGLONG offset) override {
    if (offset > static_cast<ULONGLONG>(INT64_MAX)) return FailWith(ERROR_NEGATIVE_SEEK);
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return FailWithErrno(errno);
    return true;
  }

  bool Tell(ULONGLONG* offset) override {
    off_t position = ::lseek(fd_, 0, SEEK_CUR);
    if (position < 0) return FailWithErrno(errno);
    *offset = static_cast<ULONGLONG>(position);
    return true;
  }

  bool Size(ULONGLONG* size) override {
    struct stat status;
    if (::fstat(fd_, &status) != 0) return FailWithErrno(errno);
    *size = static_cast<ULONGLONG>(status.st_size);
    return true;
  }

  bool Truncate() override {
    ULONGLONG position = 0;
    if (!Tell(&position)) return false;
    if (::ftruncate(fd_, static_cast<off_t>(position)) != 0) return FailWithErrno(errno);
    return true;
  }

  bool NextData(ULONGLONG from, ULONGLONG* start, ULONGLONG* end) override {
    if (from > static_cast<ULONGLONG>(INT64_MAX)) return FailWith(ERROR_HANDLE_EOF);
    const off_t position = ::lseek(fd_, 0, SEEK_CUR);
    if (position < 0) return FailWithErrno(errno);
    const off_t data = ::lseek(fd_, static_cast<off_t>(from), SEEK_DATA);
    const int dataError = errno;
    const off_t hole = data < 0 ? -1 : ::lseek(fd_, data, SEEK_HOLE);
    const int holeError = errno;
    if (::lseek(fd_, position, SEEK_SET) < 0) return FailWithErrno(errno);
    if (data < 0) {
      if (dataError == ENXIO) return FailWith(ERROR_HANDLE_EOF);
      // A file system that cannot tell: one stretch to the end.
      if (dataError == EINVAL || dataError == ENOTSUP) return RandomAccessFile::NextData(from, start, end);
      return FailWithErrno(dataError);
    }
    if (hole < 0) return FailWithErrno(holeError);
    *start = static_cast<ULONGLONG>(data);
    *end = static_cast<ULONGLONG>(hole);
    return true;
  }

  DWORD ApplyPosixMetadata(const PosixMetadata& metadata, bool times) override {
    return posix::ApplyPosixMetadataAt(fd_, std::string(), metadata, times);
  }

  bool Sync() override {
#if defined(__linux__)
    // The data and what is needed to read it back (the size); the times
    // need not wait for the disk.
    if (::fdatasync(fd_) != 0) return FailWithErrno(errno);
#else
    if (::fsync(fd_) != 0) return FailWithErrno(errno);
#endif
    return true;
  }

 private:
  int fd_;
};

int OpenFlags(OpenMode mode) {
  switch (mode) {
    case OpenMode::kReadExisting:
      return O_RDONLY;
    case OpenMode::kReadWriteExisting:
      return O_RDWR;
    case OpenMode::kReadWriteAlways:
      return O_RDWR | O_CREAT;
    case OpenMode::kReadWriteTruncate:
      return O_RDWR | O_CREAT | O_TRUNC;
    case OpenMode::kCreateNew:
      return O_RDWR | O_CREAT | O_EXCL;
  }
  return O_RDONLY;
}

// Only regular files are files here: a folder is refused as Windows refuses
// it, devices, FIFOs and sockets do not exist for the library.
bool CheckRegular(int fd) {
  struct stat status;
  if (::fstat(fd, &status) != 0) return FailWithErrno(errno);
  if (S_ISDIR(status.st_mode)) return FailWith(ERROR_ACCESS_DENIED);
  if (!S_ISREG(status.st_mode)) return FailWith(ERROR_FILE_NOT_FOUND);
  return true;
}

}  // namespace

std::unique_ptr<RandomAccessFile> posix::FileOfDescriptor(int fd) { return std::make_unique<PosixFile>(fd); }

std::unique_ptr<RandomAccessFile> OpenSystemFile(const WCHAR* path, OpenMode mode, Sharing sharing) {
  posix::NativePath native;
  if (!posix::NativePathOf(WStringView(path), &native)) return nullptr;
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just after.
  // The umask can only take permissions away: 0600 stays 0600.
  const mode_t permissions = sharing == Sharing::kReadOwnerOnly ? 0600 : 0666;
  int fd = ::open(native.path.c_str(), OpenFlags(mode) | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, permissions);
  if (fd < 0) {
    int error = errno;
    if (error == EISDIR) {
      FailWith(ERROR_ACCESS_DENIED);
    } else if (error == ELOOP) {
      FailWith(ERROR_CANT_RESOLVE_FILENAME);
    } else {
      FailWithErrno(error);
    }
    return nullptr;
  }
  if (!CheckRegular(fd)) {
    ::close(fd);
    return nullptr;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return posix::FileOfDescriptor(fd);
}

bool GetFileSizeOf(const WCHAR* path, ULONGLONG* size) {
  posix::NativePath native;
  if (!posix::NativePathOf(WStringView(path), &native)) return false;
  struct stat status;
  if (::stat(native.path.c_str(), &status) != 0) return FailWithErrno(errno);
  if (S_ISDIR(status.st_mode)) {
    *size = 0;
    return true;
  }
  *size = static_cast<ULONGLONG>(status.st_size);
  return true;
}

bool CopyFileReplacing(const WCHAR* from, const WCHAR* to) {
  auto source = OpenFile(from, OpenMode::kReadExisting, Sharing::kRead);
  if (!source) return false;
  auto target = OpenFile(to, OpenMode::kReadWriteTruncate, Sharing::kRead);
  if (!target) return false;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[1 << 20]);
  for (;;) {
    DWORD read = 0;
    if (!source->Read(buffer.get(), 1 << 20, &read)) return false;
    if (read == 0) break;
    if (!target->Write(buffer.get(), read)) return false;
  }
  return true;
}

// The kernel's random bytes in one call: a restore takes a new name for
// every file it makes, and a random device set up each time costs more
// than the rest of the name.
bool CreateUuid(BYTE uuid[16]) {
  // Up to 256 bytes come whole, never cut short by a signal.
  if (::getrandom(uuid, 16, 0) != 16) {
    std::random_device device;
    for (int i = 0; i < 16; i += 4) {
      unsigned int value = device();
      for (int j = 0; j < 4; ++j) uuid[i + j] = static_cast<BYTE>(value >> (8 * j));
    }
  }
  uuid[7] = static_cast<BYTE>((uuid[7] & 0x0F) | 0x40);  // version 4 (time_hi, little-endian)
  uuid[8] = static_cast<BYTE>((uuid[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return true;
}

void SleepMilliseconds(DWORD milliseconds) {
  struct timespec wait;
  wait.tv_sec = milliseconds / 1000;
  wait.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

}  // namespace qv::platform
