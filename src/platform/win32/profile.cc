#include "platform/profile.h"

#include <vector>

#include "platform/win32/win32_support.h"

namespace qv::platform {

DWORD ReadProfileString(const WCHAR* path, const WCHAR* section, const WCHAR* key, const WCHAR* defaultValue,
                        DWORD capacity, WString* value) {
  value->clear();
  // The system writes the terminator even when nothing fits, so it always
  // gets at least one unit.
  std::vector<WCHAR> buffer(capacity == 0 ? 1 : capacity);
  DWORD length = GetPrivateProfileStringW(section, key, defaultValue == nullptr ? L"" : defaultValue, buffer.data(),
                                          capacity == 0 ? 1 : capacity, path);
  if (capacity == 0) return 0;
  value->assign(buffer.data(), length);
  return length;
}

UINT ReadProfileInt(const WCHAR* path, const WCHAR* section, const WCHAR* key, INT defaultValue) {
  return GetPrivateProfileIntW(section, key, defaultValue, path);
}

}  // namespace qv::platform
