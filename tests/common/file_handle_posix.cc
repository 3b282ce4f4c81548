#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#include "common/file_handle.h"

namespace qvtest {

FileHandle::FileHandle(const std::filesystem::path& path, Mode mode) {
  int flags = mode == Mode::kRead ? O_RDONLY : (O_RDWR | O_CREAT | O_TRUNC);
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  handle_ = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd));
}

FileHandle::~FileHandle() {
  if (valid()) ::close(static_cast<int>(reinterpret_cast<std::intptr_t>(handle_)));
}

void FileHandle::Seek(long long offset) {
  ::lseek(static_cast<int>(reinterpret_cast<std::intptr_t>(handle_)), offset, SEEK_SET);
}

}  // namespace qvtest
