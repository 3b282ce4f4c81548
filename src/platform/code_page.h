// Text in the system's ANSI code page, as short (8.3) names on FAT volumes
// hold it.
#ifndef QVBACKUP_PLATFORM_CODE_PAGE_H_
#define QVBACKUP_PLATFORM_CODE_PAGE_H_

#include <string_view>

#include "platform/text.h"

namespace qv::platform {

// Converts bytes in the system's ANSI code page to UTF-16; ASCII passes
// through unchanged. Windows: MultiByteToWideChar with CP_ACP. POSIX, which
// has no such page: Windows-1252, the Western page; its five unassigned
// bytes map to the C1 controls of the same value. Empty when nothing
// converts.
WString AnsiToUtf16(std::string_view text);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_CODE_PAGE_H_
