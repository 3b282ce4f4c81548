// The native form of a path as the user typed it (for the standard
// library's file streams) and the folder the running program lies in.
#ifndef QVBACKUP_TOOLS_HOST_PATHS_H_
#define QVBACKUP_TOOLS_HOST_PATHS_H_

#include <filesystem>

#include "console.h"

namespace qvtool {

// `typed` as the system names it: UTF-8 bytes on POSIX (names that were
// not UTF-8 come back byte for byte), UTF-16 on Windows. A relative path
// stays relative.
std::filesystem::path NativePath(const WString& typed);

// The folder of the running program's file; empty when the system cannot
// tell.
std::filesystem::path ProgramFolder();

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_HOST_PATHS_H_
