#include "platform/random_access_file.h"

#include "platform/fault_injection.h"
#include "platform/win32/win32_support.h"

#include <rpc.h>

#include <cstring>

namespace qv::platform {

namespace {

class Win32File final : public RandomAccessFile {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override { ::CloseHandle(handle_); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  bool Read(void* buffer, DWORD size, DWORD* read) override {
    *read = 0;
    auto* target = static_cast<unsigned char*>(buffer);
    while (*read < size) {
      DWORD count = 0;
      if (!::ReadFile(handle_, target + *read, size - *read, &count, nullptr)) return false;
      if (count == 0) break;
      *read += count;
    }
    return true;
  }

  bool Write(const void* data, DWORD size) override {
    const auto* source = static_cast<const unsigned char*>(data);
    DWORD written = 0;
    while (written < size) {
      DWORD count = 0;
      if (!::WriteFile(handle_, source + written, size - written, &count, nullptr)) return false;
      if (count == 0) {
        ::SetLastError(ERROR_DISK_FULL);
        return false;
      }
      written += count;
    }
    return true;
  }

  bool Seek(ULONGLONG offset) override {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(handle_, distance, nullptr, FILE_BEGIN) != 0;
  }

  bool Tell(ULONGLONG* offset) override {
    LARGE_INTEGER zero, position;
    zero.QuadPart = 0;
    if (!::SetFilePointerEx(handle_, zero, &position, FILE_CURRENT)) return false;
    *offset = static_cast<ULONGLONG>(position.QuadPart);
    return true;
  }

  bool Size(ULONGLONG* size) override {
    LARGE_INTEGER value;
    if (!::GetFileSizeEx(handle_, &value)) return false;
    *size = static_cast<ULONGLONG>(value.QuadPart);
    return true;
  }

  bool Truncate() override { return ::SetEndOfFile(handle_) != 0; }
  bool Sync() override { return ::FlushFileBuffers(handle_) != 0; }
  bool Describe(const WCHAR* /*path*/, FileInformation* info) override {
    return win32::DescribeHandle(handle_, info);
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<RandomAccessFile> OpenSystemFile(const WCHAR* path, OpenMode mode, Sharing sharing) {
  DWORD access = mode == OpenMode::kReadExisting ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  if (mode == OpenMode::kReadWriteAlways) disposition = OPEN_ALWAYS;
  if (mode == OpenMode::kReadWriteTruncate) disposition = CREATE_ALWAYS;
  if (mode == OpenMode::kCreateNew) disposition = CREATE_NEW;
  DWORD share = sharing == Sharing::kReadWrite ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
  HANDLE handle = ::CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32File>(handle);
}

bool GetFileSizeOf(const WCHAR* path, ULONGLONG* size) {
  HANDLE handle = ::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER value;
  BOOL ok = ::GetFileSizeEx(handle, &value);
  DWORD error = ::GetLastError();
  ::CloseHandle(handle);
  if (!ok) {
    ::SetLastError(error);
    return false;
  }
  *size = static_cast<ULONGLONG>(value.QuadPart);
  return true;
}

bool CopyFileReplacing(const WCHAR* from, const WCHAR* to) { return ::CopyFileW(from, to, FALSE) != 0; }

bool CreateUuid(BYTE uuid[16]) {
  UUID value;
  RPC_STATUS status = ::UuidCreate(&value);
  if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) {
    ::SetLastError(static_cast<DWORD>(status));
    return false;
  }
  static_assert(sizeof(value) == 16, "a UUID is 16 bytes");
  memcpy(uuid, &value, 16);
  return true;
}

void SleepMilliseconds(DWORD milliseconds) { ::Sleep(milliseconds); }

}  // namespace qv::platform
