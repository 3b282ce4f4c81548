// BSTR: the system's counted UTF-16 string, as the XML service hands out its
// texts. The caller frees each one with SysFreeString.
//
// Windows: the system's own (oleaut32). Elsewhere the same functions with the
// same layout: a 32-bit byte count (terminator excluded) just before the
// first character, and a zero terminator after the last, so code that reads
// a BSTR behaves alike on both.
#ifndef QVBACKUP_PLATFORM_SYSTEM_STRING_H_
#define QVBACKUP_PLATFORM_SYSTEM_STRING_H_

#include "qvbackup/wintypes.h"

#if defined(_WIN32)
#include <oleauto.h>
#else
typedef WCHAR* BSTR;

extern "C" {
// A copy of the zero-terminated `text`; null for null `text` or when memory
// runs out.
BSTR SysAllocString(const WCHAR* text);
// A string of `length` characters copied from `text` (all zero when `text`
// is null); null when memory runs out.
BSTR SysAllocStringLen(const WCHAR* text, UINT length);
// The number of characters of `text`; 0 for null.
UINT SysStringLen(BSTR text);
// Frees a string made by the functions above; null is allowed.
void SysFreeString(BSTR text);
}
#endif

#endif  // QVBACKUP_PLATFORM_SYSTEM_STRING_H_
