#include "platform/profile.h"

#include <utility>

namespace qv::platform {

DWORD ProfileDefaultString(const WCHAR* defaultValue, DWORD capacity, WString* value) {
  WStringView fallback = defaultValue == nullptr ? WStringView() : WStringView(defaultValue);
  while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
  const std::size_t room = capacity == 0 ? 0 : capacity - 1;
  *value = WString(fallback.substr(0, room));
  return static_cast<DWORD>(value->size());
}

}  // namespace qv::platform
