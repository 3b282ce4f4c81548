// Reading INI files ("private profiles") by their drive-letter path, with
// the rules of GetPrivateProfileStringW and GetPrivateProfileIntW.
//
// Windows: the system's functions. POSIX: a small reader with the same
// answers. It accepts UTF-16LE text with a byte order mark and UTF-8 text
// with or without one; lines end with LF or CR LF. "[name]" starts a section,
// "key=value" gives a key a value, lines starting with ';' are comments.
// Section and key names match ignoring case; names and values are trimmed of
// spaces and tabs, and one pair of matching quotes ("..." or '...') around a
// value is removed. When a section or key appears twice the first one
// counts; a line without '=' gives no value.
#ifndef QVBACKUP_PLATFORM_PROFILE_H_
#define QVBACKUP_PLATFORM_PROFILE_H_

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::platform {

// The value of `key` in `section` of the INI file `path`, or `defaultValue`
// (null reads as empty; trailing spaces removed) when the file, the section
// or the key is missing. At most `capacity` - 1 code units are kept, as in a
// buffer of `capacity` units; 0 keeps nothing. Returns the number of code
// units stored in `value`. A missing file sets ERROR_FILE_NOT_FOUND.
DWORD ReadProfileString(const WCHAR* path, const WCHAR* section, const WCHAR* key, const WCHAR* defaultValue,
                        DWORD capacity, WString* value);

// What ReadProfileString gives when the file, the section or the key is
// missing: `defaultValue` (null reads as empty) without its trailing
// spaces, cut to `capacity` - 1 code units. Returns the length stored.
// The same on every system (the system's own reader answers so).
DWORD ProfileDefaultString(const WCHAR* defaultValue, DWORD capacity, WString* value);

// The value of `key` in `section` read as an integer: leading spaces, an
// optional sign, then decimal digits or "0x" and hexadecimal digits, up to
// the first other character ("12abc" gives 12, "abc" 0). A negative value
// comes back as its two's complement. `defaultValue` when the file, section
// or key is missing or the value is empty.
UINT ReadProfileInt(const WCHAR* path, const WCHAR* section, const WCHAR* key, INT defaultValue);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_PROFILE_H_
