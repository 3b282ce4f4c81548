#include "common/file_handle.h"

namespace qvtest {

FileHandle::FileHandle(const std::filesystem::path& path, Mode mode) {
  handle_ = ::CreateFileW(path.c_str(), mode == Mode::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ, nullptr, mode == Mode::kRead ? OPEN_EXISTING : CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
}

FileHandle::~FileHandle() {
  if (valid()) ::CloseHandle(handle_);
}

void FileHandle::Seek(long long offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  ::SetFilePointerEx(handle_, distance, nullptr, FILE_BEGIN);
}

}  // namespace qvtest
