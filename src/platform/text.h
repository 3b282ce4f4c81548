// UTF-16 text, the core's only text, and its UTF-8 form at the POSIX edge.
#ifndef QVBACKUP_PLATFORM_TEXT_H_
#define QVBACKUP_PLATFORM_TEXT_H_

#include <string>
#include <string_view>

#include "qvbackup/wintypes.h"

namespace qv {

using WString = std::basic_string<WCHAR>;
using WStringView = std::basic_string_view<WCHAR>;

// The length of a zero-terminated text, in code units.
inline std::size_t TextLength(const WCHAR* text) {
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

namespace platform {

// Converts UTF-16 to UTF-8. Valid surrogate pairs become 4-byte sequences.
// A lone surrogate in U+DC80..U+DCFF becomes the single raw byte 0x80..0xFF
// (the inverse of Utf8ToUtf16's escape, so that any POSIX file name survives
// the round trip); any other lone surrogate is written as a 3-byte sequence.
std::string Utf16ToUtf8(WStringView text);

// Converts UTF-8 to UTF-16. A byte that does not start a valid, shortest-form
// sequence (or a sequence encoding a surrogate) becomes the lone surrogate
// U+DC00 + byte, so no input is lost.
WString Utf8ToUtf16(std::string_view text);

}  // namespace platform
}  // namespace qv

#endif  // QVBACKUP_PLATFORM_TEXT_H_
