// A POSIX file descriptor owned by an object: closed when it goes.
#ifndef QVBACKUP_PLATFORM_POSIX_DESCRIPTOR_H_
#define QVBACKUP_PLATFORM_POSIX_DESCRIPTOR_H_

#include <unistd.h>

namespace qv::platform::posix {

class Descriptor {
 public:
  // Takes `fd` (negative: none, as a failed open gives).
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace qv::platform::posix

#endif  // QVBACKUP_PLATFORM_POSIX_DESCRIPTOR_H_
