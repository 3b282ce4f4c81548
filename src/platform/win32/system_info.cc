#include "platform/system_info.h"

#include <vector>

#include "platform/file_system.h"
#include "platform/win32/win32_support.h"

#include <winver.h>

namespace qv::platform {

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
// The last second FileTimeToSystemTime accepts (year 30827).
constexpr std::int64_t kLastShowableSecond = 0x7FFFFFFFFFFFFFFF / kTicksPerSecond - kSecondsFrom1601To1970;
constexpr WORD kEnglishUnitedStates = 1033;

bool FailWith(DWORD error) {
  SetLastError(error);
  return false;
}

// A buffer that FormatMessageW allocated, freed with LocalFree.
class LocalText {
 public:
  LocalText() = default;
  ~LocalText() {
    if (text_ != nullptr) LocalFree(text_);
  }
  LocalText(const LocalText&) = delete;
  LocalText& operator=(const LocalText&) = delete;

  WCHAR** Receiver() { return &text_; }
  const WCHAR* Get() const { return text_; }

 private:
  WCHAR* text_ = nullptr;
};

}  // namespace

UINT DriveTypeOf(const WCHAR* root) { return GetDriveTypeW(root); }

bool GetCurrentFolder(WString* folder) {
  if (folder == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  std::vector<WCHAR> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return false;
    // A result that does not fit is the size needed, terminator included.
    if (length < buffer.size()) {
      folder->assign(buffer.data(), length);
      return true;
    }
    buffer.resize(length);
  }
}

std::int64_t CurrentCalendarTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  std::int64_t ticks = static_cast<std::int64_t>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) |
                                                 now.dwLowDateTime);
  return ticks / kTicksPerSecond - kSecondsFrom1601To1970;
}

bool LocalTimeOf(std::int64_t seconds, SYSTEMTIME* local) {
  if (local == nullptr || seconds < -kSecondsFrom1601To1970 || seconds > kLastShowableSecond) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  auto ticks = static_cast<ULONGLONG>((seconds + kSecondsFrom1601To1970) * kTicksPerSecond);
  FILETIME utcTime = {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc;
  // The zone's rules at that date, not today's, decide on daylight saving.
  if (!FileTimeToSystemTime(&utcTime, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, local)) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  local->wMilliseconds = 0;
  return true;
}

bool UtcTimeOf(std::int64_t seconds, SYSTEMTIME* utc) {
  if (utc == nullptr || seconds < -kSecondsFrom1601To1970 || seconds > kLastShowableSecond) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  auto ticks = static_cast<ULONGLONG>((seconds + kSecondsFrom1601To1970) * kTicksPerSecond);
  FILETIME utcTime = {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  if (!FileTimeToSystemTime(&utcTime, utc)) return FailWith(ERROR_INVALID_PARAMETER);
  utc->wMilliseconds = 0;
  return true;
}

bool LocalTimeToUtcTicks(const SYSTEMTIME& local, ULONGLONG* ticks) {
  SYSTEMTIME utc;
  FILETIME time;
  // Unlike LocalFileTimeToFileTime, which applies today's bias, this takes
  // the daylight saving rules of the date itself.
  if (ticks == nullptr || !TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
      !SystemTimeToFileTime(&utc, &time)) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  *ticks = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return true;
}

bool GetSystemErrorText(DWORD error, WString* text) {
  if (text == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  LocalText message;
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                    FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                nullptr, error, kEnglishUnitedStates, reinterpret_cast<LPWSTR>(message.Receiver()),
                                0, nullptr);
  if (length == 0 || message.Get() == nullptr) return false;
  const WCHAR* begin = message.Get();
  while (length > 0 && (begin[length - 1] == L'\r' || begin[length - 1] == L'\n')) --length;
  text->assign(begin, length);
  return true;
}

struct ExecutableVersion::Data {
  std::vector<BYTE> block;
};

ExecutableVersion::ExecutableVersion() = default;

ExecutableVersion::~ExecutableVersion() = default;

bool ExecutableVersion::Load() {
  data_.reset();
  WString path;
  if (!GetExecutablePath(&path)) return false;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return false;
  auto data = std::make_unique<Data>();
  data->block.resize(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data->block.data())) return false;
  data_ = std::move(data);
  return true;
}

bool ExecutableVersion::QueryString(const WCHAR* subBlock, WString* value) const {
  if (data_ == nullptr || subBlock == nullptr || value == nullptr) return false;
  LPVOID found = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data_->block.data(), subBlock, &found, &length) || found == nullptr) return false;
  // The length counts characters and, for most writers, the terminator.
  const auto* text = static_cast<const WCHAR*>(found);
  UINT units = 0;
  while (units < length && text[units] != 0) ++units;
  value->assign(text, units);
  return true;
}

}  // namespace qv::platform
