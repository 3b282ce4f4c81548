// Small helpers shared by the string, path and array services.
#ifndef QVBACKUP_SERVICES_QVSTRING_TEXT_H_
#define QVBACKUP_SERVICES_QVSTRING_TEXT_H_

#include <string_view>

#include "qvbackup/wintypes.h"

namespace qv::services {

using TextView = std::basic_string_view<WCHAR>;

// The text a caller passed; a null pointer reads as an empty text.
inline TextView ViewOf(const WCHAR* text) {
  return text != nullptr ? TextView(text) : TextView();
}

}  // namespace qv::services

#endif  // QVBACKUP_SERVICES_QVSTRING_TEXT_H_
