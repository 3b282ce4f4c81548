#include "platform/file_system.h"

#include <vector>

#include "platform/win32/win32_support.h"

namespace qv::platform {

namespace {

bool FailWith(DWORD error) {
  SetLastError(error);
  return false;
}

ULONGLONG Combine(DWORD high, DWORD low) { return (static_cast<ULONGLONG>(high) << 32) | low; }

// The by-name record and the handle's information name their fields alike.
template <typename Record>
void FillFrom(const Record& record, FileInformation* info) {
  info->attributes = record.dwFileAttributes;
  info->creationTime = record.ftCreationTime;
  info->lastAccessTime = record.ftLastAccessTime;
  info->lastWriteTime = record.ftLastWriteTime;
  const bool isFolder = (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->size = isFolder ? 0 : Combine(record.nFileSizeHigh, record.nFileSizeLow);
}

}  // namespace

// The file's own record, read by name, tells what its handle would for
// anything but a reparse point: no handle is opened for it. A link is
// opened, which follows it to its target; so is whatever the by-name query
// cannot answer, so that failures carry the open's error as they always
// have.
bool GetFileInformation(const WCHAR* path, FileInformation* info) {
  if (path == nullptr || info == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  WIN32_FILE_ATTRIBUTE_DATA record;
  if (GetFileAttributesExW(path, GetFileExInfoStandard, &record) &&
      (record.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    FillFrom(record, info);
    return true;
  }
  win32::FileHandle file(CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file.IsValid() && win32::DescribeHandle(file.Get(), info);
}

namespace win32 {

bool DescribeHandle(HANDLE handle, FileInformation* info) {
  BY_HANDLE_FILE_INFORMATION data;
  if (info == nullptr || !GetFileInformationByHandle(handle, &data)) return false;
  FillFrom(data, info);
  return true;
}

}  // namespace win32

bool ListedFileInformation(const WCHAR* path, const WIN32_FIND_DATAW& /*data*/, FileInformation* info) {
  return GetFileInformation(path, info);
}

bool FileExists(const WCHAR* path) { return path != nullptr && PathFileExistsW(path); }

bool IsDirectory(const WCHAR* path) { return path != nullptr && PathIsDirectoryW(path); }

bool IsDirectoryEmpty(const WCHAR* path) { return path != nullptr && PathIsDirectoryEmptyW(path); }

bool FileNamesIgnoreCase() { return true; }

bool GetExecutablePath(WString* path) {
  if (path == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  std::vector<WCHAR> buffer(MAX_PATH);
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return false;
    // A full buffer means the name was cut: try again with more room.
    if (length < size) {
      path->assign(buffer.data(), length);
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

struct DirectoryEnumerator::State {
  win32::FindHandle search;
};

DirectoryEnumerator::DirectoryEnumerator() = default;

DirectoryEnumerator::~DirectoryEnumerator() = default;

bool DirectoryEnumerator::First(const WCHAR* pattern, WIN32_FIND_DATAW* data) {
  Close();
  if (pattern == nullptr || data == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  auto state = std::make_unique<State>();
  state->search.Reset(FindFirstFileW(pattern, data));
  if (!state->search.IsValid()) return false;
  state_ = std::move(state);
  return true;
}

bool DirectoryEnumerator::Next(WIN32_FIND_DATAW* data) {
  if (state_ == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (data == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  return FindNextFileW(state_->search.Get(), data) != FALSE;
}

void DirectoryEnumerator::Close() { state_.reset(); }

}  // namespace qv::platform
