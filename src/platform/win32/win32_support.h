// The one place that includes the Windows headers for the platform layer.
// Their macros (DeleteFile, GetFileAttributes, PathMatchSpec...) rename
// anything spelled the same, so no other header of ours includes this one.
#ifndef QVBACKUP_PLATFORM_WIN32_WIN32_SUPPORT_H_
#define QVBACKUP_PLATFORM_WIN32_WIN32_SUPPORT_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shlwapi.h>

#include "platform/file_system.h"

namespace qv::platform::win32 {

// A kernel handle closed by `Closer` (CloseHandle, FindClose) when the
// object dies. INVALID_HANDLE_VALUE and null both mean "none".
template <BOOL(WINAPI* Closer)(HANDLE)>
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE Get() const { return handle_; }

  void Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    if (IsValid()) Closer(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

using FileHandle = ScopedHandle<CloseHandle>;
using FindHandle = ScopedHandle<FindClose>;

// GetFileInformationByHandle of an open file, as GetFileInformation tells
// it (size 0 for folders). False with the last error.
bool DescribeHandle(HANDLE handle, FileInformation* info);

}  // namespace qv::platform::win32

#endif  // QVBACKUP_PLATFORM_WIN32_WIN32_SUPPORT_H_
