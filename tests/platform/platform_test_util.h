// Helpers for the platform tests: drive paths inside a temporary folder and
// folder listings through DirectoryEnumerator.
#ifndef QVBACKUP_TESTS_PLATFORM_PLATFORM_TEST_UTIL_H_
#define QVBACKUP_TESTS_PLATFORM_PLATFORM_TEST_UTIL_H_

#include <map>
#include <string>

#include "common/test_util.h"
#include "platform/file_system.h"

namespace qvtest {

// The drive path of `relative` (UTF-8, '\' separated) inside `dir`.
inline WString DrivePathIn(const TempDir& dir, const std::string& relative) {
  return dir.DrivePath() + W("\\" + relative);
}

// Everything DirectoryEnumerator reports for `pattern`, by UTF-8 name.
// Empty when First fails; `firstError` then receives the last error.
inline std::map<std::string, WIN32_FIND_DATAW> ListFolder(const WString& pattern, DWORD* firstError = nullptr) {
  std::map<std::string, WIN32_FIND_DATAW> items;
  qv::platform::DirectoryEnumerator enumerator;
  WIN32_FIND_DATAW data;
  if (!enumerator.First(pattern.c_str(), &data)) {
    if (firstError != nullptr) *firstError = GetLastError();
    return items;
  }
  do {
    items[U8(data.cFileName)] = data;
  } while (enumerator.Next(&data));
  return items;
}

inline unsigned long long SizeOf(const WIN32_FIND_DATAW& data) {
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

inline unsigned long long TicksOf(const FILETIME& time) {
  return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_PLATFORM_PLATFORM_TEST_UTIL_H_
