// The text rules of INI files, for the POSIX profile reader (see
// platform/profile.h for what they are).
#ifndef QVBACKUP_PLATFORM_POSIX_INI_TEXT_H_
#define QVBACKUP_PLATFORM_POSIX_INI_TEXT_H_

#include <string_view>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::platform::posix {

// The text of an INI file's bytes: UTF-16LE after the byte order mark
// FF FE, UTF-16BE after FE FF, otherwise UTF-8 (a leading EF BB BF is
// dropped). A last odd byte of UTF-16 text is ignored.
WString DecodeIniText(std::string_view bytes);

// The value of `key` in the first section named `section` of `text`, names
// matched ignoring case, trimmed and unquoted. False when there is none.
bool FindIniValue(WStringView text, WStringView section, WStringView key, WString* value);

// A value read as GetPrivateProfileIntW reads it (see ReadProfileInt).
UINT ParseIniInteger(WStringView value);

// `text` without leading and trailing spaces and tabs.
WStringView TrimIniBlanks(WStringView text);

// What ReadProfileString and ReadProfileInt (platform/profile.h) answer for
// an INI file whose decoded text is `text`; a null `text` stands for a file
// that could not be read, which gives the defaults.
DWORD ProfileStringFrom(const WString* text, const WCHAR* section, const WCHAR* key, const WCHAR* defaultValue,
                        DWORD capacity, WString* value);
UINT ProfileIntFrom(const WString* text, const WCHAR* section, const WCHAR* key, INT defaultValue);

}  // namespace qv::platform::posix

#endif  // QVBACKUP_PLATFORM_POSIX_INI_TEXT_H_
