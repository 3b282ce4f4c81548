#include "platform/posix/directory_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace qv::platform::posix {

bool DirectoryStream::Open(const std::string& path, bool followLink) {
  Close();
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  int descriptor = open(path.c_str(), flags);
  if (descriptor < 0) return false;
  stream_ = fdopendir(descriptor);
  if (stream_ == nullptr) {
    int error = errno;
    close(descriptor);
    errno = error;
    return false;
  }
  return true;
}

const dirent* DirectoryStream::Read() {
  errno = 0;
  return stream_ == nullptr ? nullptr : readdir(stream_);
}

int DirectoryStream::Descriptor() const { return stream_ == nullptr ? -1 : dirfd(stream_); }

void DirectoryStream::Close() {
  if (stream_ != nullptr) closedir(stream_);
  stream_ = nullptr;
}

}  // namespace qv::platform::posix
