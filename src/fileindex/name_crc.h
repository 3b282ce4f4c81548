// Names in the index: their CRC key and their case-insensitive comparison.
//
// The key of a name is the CRC-32 (reflected polynomial 0xEDB88320, initial
// and final XOR 0xFFFFFFFF, the zlib function) of one byte per character:
// the low byte of each UTF-16 code unit after upper-casing a to z. Only a to
// z change case; the high byte is not used, so names that differ only above
// U+00FF share a key and are told apart by the string comparison.
#ifndef QVBACKUP_FILEINDEX_NAME_CRC_H_
#define QVBACKUP_FILEINDEX_NAME_CRC_H_

#include <cstddef>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::fileindex {

inline WCHAR UpperAZ(WCHAR c) {
  return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - (u'a' - u'A')) : c;
}

// The key of the `length` code units at `name`; 0 for an empty name.
DWORD NameCRC(const WCHAR* name, std::size_t length);

using qv::TextLength;

// True when the two names are equal ignoring the case of a to z.
bool EqualNoCaseAZ(const WCHAR* a, std::size_t aLength, const WCHAR* b, std::size_t bLength);

// The extension of a name: the text after its last dot (no dot: null).
const WCHAR* FindExtension(const WCHAR* name, std::size_t length);

}  // namespace qv::fileindex

#endif  // QVBACKUP_FILEINDEX_NAME_CRC_H_
