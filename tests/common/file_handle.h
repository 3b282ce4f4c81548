// File handles of the system's kind for the tests of operations that take
// one (a Windows HANDLE; on POSIX a file descriptor cast to HANDLE).
#ifndef QVBACKUP_TESTS_FILE_HANDLE_H_
#define QVBACKUP_TESTS_FILE_HANDLE_H_

#include <filesystem>

#include "qvbackup/wintypes.h"

namespace qvtest {

class FileHandle {
 public:
  enum class Mode { kRead, kCreate };
  FileHandle(const std::filesystem::path& path, Mode mode);
  ~FileHandle();
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Moves the position to `offset` from the start.
  void Seek(long long offset);

 private:
  HANDLE handle_;
};

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_FILE_HANDLE_H_
