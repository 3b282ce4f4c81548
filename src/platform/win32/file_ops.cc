#include "platform/file_ops.h"

#include "platform/fault_injection.h"
#include "platform/handle_io.h"
#include "platform/win32/win32_support.h"

namespace qv::platform {

namespace {

bool FailWith(DWORD error) {
  SetLastError(error);
  return false;
}

class Win32WritableFile : public WritableFile {
 public:
  explicit Win32WritableFile(HANDLE handle) : handle_(handle) {}

  bool Write(const void* data, DWORD size) override {
    DWORD written = 0;
    return WriteHandle(handle_.Get(), data, size, &written);
  }

  bool SeekToEnd() override {
    LARGE_INTEGER distance;
    distance.QuadPart = 0;
    return SetFilePointerEx(handle_.Get(), distance, nullptr, FILE_END) != FALSE;
  }

 private:
  win32::FileHandle handle_;
};

}  // namespace

std::unique_ptr<WritableFile> CreateSystemWritableFile(const WCHAR* path, Creation creation) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // CREATE_NEW fails on any name already there, a link's included, before
  // anything is opened through it.
  const DWORD disposition = creation == Creation::kNew ? CREATE_NEW : CREATE_ALWAYS;
  HANDLE handle = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32WritableFile>(handle);
}

bool CanOpenForReadWrite(const WCHAR* path) {
  if (path == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  win32::FileHandle file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.IsValid();
}

bool RemoveSystemFile(const WCHAR* path) {
  if (path == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  return DeleteFileW(path) != FALSE;
}

bool RenameSystemFile(const WCHAR* from, const WCHAR* to) {
  if (from == nullptr || to == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

// NTFS and the other file systems Windows writes archives to log their
// folders' changes; renames write through.
bool SyncSystemFolder(const WCHAR* folder) {
  if (folder == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  return true;
}

bool MakeWritable(const WCHAR* path) {
  if (path == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  return SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL) != FALSE;
}

PathKind KindOfPath(const WCHAR* path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return PathKind::kNothing;
  }
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kNothing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::kLink;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::kFolder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return PathKind::kOther;
  return PathKind::kFile;
}

WString PathForMessages(const WCHAR* path) { return path == nullptr ? WString() : WString(path); }

}  // namespace qv::platform
