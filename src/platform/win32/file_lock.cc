#include "platform/file_lock.h"

#include <string>

#include "platform/win32/win32_support.h"

namespace qv::platform {

namespace {

constexpr DWORD kMostHolderBytes = 1024;
// A lock file whose last holder has just closed it is being deleted: the
// name is busy for a moment. A few short waits get past that.
constexpr int kLockAttempts = 5;
constexpr DWORD kPendingDeleteWait = 20;

// The lock is the handle itself: it shares reading (so others can read who
// holds it) and deletion (it goes with the handle), never writing, so no
// second writer can open the file while it lives. Closing it, which the
// system also does for a process that dies, deletes the file.
class Win32FileLock final : public FileLock {
 public:
  explicit Win32FileLock(HANDLE handle) : handle_(handle) {}
  ~Win32FileLock() override {
    const DWORD kept = ::GetLastError();
    handle_.Reset();
    ::SetLastError(kept);
  }

 private:
  win32::FileHandle handle_;
};

WString ReadHolder(const WCHAR* path) {
  win32::FileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return WString();
  char text[kMostHolderBytes];
  DWORD read = 0;
  if (!::ReadFile(file.Get(), text, sizeof(text), &read, nullptr)) return WString();
  while (read > 0 && (text[read - 1] == '\n' || text[read - 1] == '\r')) --read;
  return Utf8ToUtf16(std::string_view(text, read));
}

}  // namespace

std::unique_ptr<FileLock> TryLockFile(const WCHAR* path, WStringView holder, WString* heldBy) {
  if (path == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    HANDLE handle = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      auto lock = std::make_unique<Win32FileLock>(handle);
      const std::string text = Utf16ToUtf8(holder) + "\r\n";
      DWORD written = 0;
      if (!::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) return nullptr;
      return lock;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
      if (heldBy != nullptr) *heldBy = ReadHolder(path);
      ::SetLastError(ERROR_BUSY);
      return nullptr;
    }
    if (error != ERROR_ACCESS_DENIED) return nullptr;
    ::Sleep(kPendingDeleteWait);  // deleted by its last holder, or not ours to write
  }
  ::SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
}

WString ThisProcessDescription() {
  WCHAR host[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(host, &size)) host[0] = 0;
  WString text = Utf8ToUtf16("process " + std::to_string(static_cast<unsigned long>(::GetCurrentProcessId())));
  if (host[0] != 0) text += Utf8ToUtf16(" on ") + WString(host);
  return text;
}

DWORD CurrentProcessId() { return ::GetCurrentProcessId(); }

bool ProcessIsRunning(DWORD id) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, id);
  if (process == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return running;
}

}  // namespace qv::platform
