// An open folder listing that closes itself.
#ifndef QVBACKUP_PLATFORM_POSIX_DIRECTORY_STREAM_H_
#define QVBACKUP_PLATFORM_POSIX_DIRECTORY_STREAM_H_

#include <dirent.h>

#include <string>

namespace qv::platform::posix {

class DirectoryStream {
 public:
  DirectoryStream() = default;
  ~DirectoryStream() { Close(); }
  DirectoryStream(const DirectoryStream&) = delete;
  DirectoryStream& operator=(const DirectoryStream&) = delete;

  // Opens the folder `path`; with `followLink` false a symbolic link as the
  // last component fails (ELOOP or ENOTDIR). False with errno set on failure.
  bool Open(const std::string& path, bool followLink);

  // The next item, or null at the end (errno 0) or on a read error (errno
  // set). The item is valid until the next call.
  const dirent* Read();

  // The descriptor of the open folder, for *at() calls on its items.
  int Descriptor() const;

  void Close();

 private:
  DIR* stream_ = nullptr;
};

}  // namespace qv::platform::posix

#endif  // QVBACKUP_PLATFORM_POSIX_DIRECTORY_STREAM_H_
