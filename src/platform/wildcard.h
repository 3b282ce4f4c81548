// File-name wildcard matching with the rules of the Windows shell's
// PathMatchSpecW, implemented once for every platform.
#ifndef QVBACKUP_PLATFORM_WILDCARD_H_
#define QVBACKUP_PLATFORM_WILDCARD_H_

#include "qvbackup/wintypes.h"

namespace qv::platform {

// True when `name` matches `masks`. The text is a list of masks separated by
// ';' (spaces before each mask are skipped); the name matches when any mask
// matches. In a mask '*' matches any run of characters, '?' exactly one
// character, everything else itself ignoring case. The mask "*.*" matches
// every name, including names without a dot. An empty text matches only an
// empty name. Null arguments match nothing. Matching time is bounded by
// length(name) x length(mask) even for masks with many stars.
bool PathMatchSpec(const WCHAR* name, const WCHAR* masks);

// Upper-cases one UTF-16 code unit the way the shell's case-insensitive
// comparisons do for the scripts people name files in: ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic. Other code units are returned unchanged.
WCHAR UpperCaseChar(WCHAR c);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_WILDCARD_H_
