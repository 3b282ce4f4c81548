#include "platform/system_info.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "platform/posix/drive_map.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {

using posix::FailWith;

namespace {

// What GetFileVersionInfoSizeW answers for a file without a version resource.
constexpr DWORD kErrorResourceTypeNotFound = 1813;

// The years a SYSTEMTIME can hold, as FileTimeToSystemTime allows them.
constexpr int kFirstYear = 1601;
constexpr int kLastYear = 30827;

bool IsDriveRoot(const WCHAR* root) {
  if (root == nullptr) return false;
  WStringView text(root);
  if (text.size() != 3 || text[1] != ':' || (text[2] != '\\' && text[2] != '/')) return false;
  posix::NativePath native;
  return posix::NativePathOf(text, &native);
}

}  // namespace

UINT DriveTypeOf(const WCHAR* root) { return IsDriveRoot(root) ? kDriveTypeFixed : kDriveTypeNoRootDir; }

bool GetCurrentFolder(WString* folder) {
  if (folder == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  char* native = getcwd(nullptr, 0);
  if (native == nullptr) return posix::FailWithErrno(errno);
  bool found = posix::DrivePathOf(native, folder);
  std::free(native);
  return found;
}

std::int64_t CurrentCalendarTime() { return static_cast<std::int64_t>(std::time(nullptr)); }

namespace {

// The calendar fields of `seconds` since 1970 UTC, in UTC or in local time.
bool CalendarTimeOf(std::int64_t seconds, bool inLocalTime, SYSTEMTIME* local) {
  if (local == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if constexpr (sizeof(time_t) < sizeof(seconds)) {
    if (seconds < std::numeric_limits<time_t>::min() || seconds > std::numeric_limits<time_t>::max()) {
      return FailWith(ERROR_INVALID_PARAMETER);
    }
  }
  time_t value = static_cast<time_t>(seconds);
  struct tm fields;
  struct tm* filled = inLocalTime ? localtime_r(&value, &fields) : gmtime_r(&value, &fields);
  if (filled == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  long long year = 1900LL + fields.tm_year;
  if (year < kFirstYear || year > kLastYear) return FailWith(ERROR_INVALID_PARAMETER);
  local->wYear = static_cast<WORD>(year);
  local->wMonth = static_cast<WORD>(fields.tm_mon + 1);
  local->wDayOfWeek = static_cast<WORD>(fields.tm_wday);
  local->wDay = static_cast<WORD>(fields.tm_mday);
  local->wHour = static_cast<WORD>(fields.tm_hour);
  local->wMinute = static_cast<WORD>(fields.tm_min);
  // A leap second (60) is shown as the last ordinary second, as Windows has none.
  local->wSecond = static_cast<WORD>(fields.tm_sec > 59 ? 59 : fields.tm_sec);
  local->wMilliseconds = 0;
  return true;
}

}  // namespace

bool LocalTimeOf(std::int64_t seconds, SYSTEMTIME* local) { return CalendarTimeOf(seconds, true, local); }

bool UtcTimeOf(std::int64_t seconds, SYSTEMTIME* utc) { return CalendarTimeOf(seconds, false, utc); }

bool LocalTimeToUtcTicks(const SYSTEMTIME& local, ULONGLONG* ticks) {
  if (ticks == nullptr || local.wYear < kFirstYear || local.wMonth < 1 || local.wMonth > 12 || local.wDay < 1 ||
      local.wDay > 31 || local.wHour > 23 || local.wMinute > 59 || local.wSecond > 59 ||
      local.wMilliseconds > 999) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  struct tm fields = {};
  fields.tm_year = local.wYear - 1900;
  fields.tm_mon = local.wMonth - 1;
  fields.tm_mday = local.wDay;
  fields.tm_hour = local.wHour;
  fields.tm_min = local.wMinute;
  fields.tm_sec = local.wSecond;
  fields.tm_isdst = -1;  // the zone's rules at that date decide
  errno = 0;
  time_t seconds = mktime(&fields);
  if (seconds == static_cast<time_t>(-1) && errno != 0) return FailWith(ERROR_INVALID_PARAMETER);
  constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
  std::int64_t since1601 = static_cast<std::int64_t>(seconds) + kSecondsFrom1601To1970;
  if (since1601 < 0) return FailWith(ERROR_INVALID_PARAMETER);
  *ticks = static_cast<ULONGLONG>(since1601) * 10000000u + local.wMilliseconds * 10000u;
  return true;
}

struct ExecutableVersion::Data {};

ExecutableVersion::ExecutableVersion() = default;

ExecutableVersion::~ExecutableVersion() = default;

// Executables of this system carry no version resource.
bool ExecutableVersion::Load() { return FailWith(kErrorResourceTypeNotFound); }

bool ExecutableVersion::QueryString(const WCHAR*, WString*) const { return false; }

}  // namespace qv::platform
