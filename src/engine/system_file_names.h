// The names of system files that the filter-driven file list and the
// counts per category never take, whatever folder they lie in.
#ifndef QVBACKUP_ENGINE_SYSTEM_FILE_NAMES_H_
#define QVBACKUP_ENGINE_SYSTEM_FILE_NAMES_H_

#include <array>
#include <string_view>

#include "qvbackup/wintypes.h"

namespace qv::engine {

// Lower-case whole names, in the order they are tested. The list is the
// one hosts and earlier versions rely on, kept as it is: "logfile" has no
// "$" (so NTFS's own $LogFile is not on it), and two rows are the tails of
// transaction-log container names.
inline constexpr std::array<const WCHAR*, 25> SYSTEM_FILE_NAMES = {
    QVT("ntuser.dat"),
    QVT("desktop.ini"),
    QVT("$upcase"),
    QVT("$secure"),
    QVT("$badclus"),
    QVT("$boot"),
    QVT("$bitmap"),
    QVT("$attrdef"),
    QVT("$volume"),
    QVT("logfile"),
    QVT("$mftmirr"),
    QVT("$reparse"),
    QVT("$objid"),
    QVT("$quota"),
    QVT("$mft"),
    QVT("$extend"),
    QVT("$txflog.blf"),
    QVT("$txflogcontainer00000000000000000002"),
    QVT("$recycle.bin"),
    QVT("system recovery"),
    QVT("er00000000000000000002"),
    QVT("ogcontainer000000000000000"),
    QVT("system volume information"),
    QVT("fxsapidebuglogfile.txt"),
    QVT("$txflogcontainer00000000000000000001"),
};

// True when `loweredName` (a file's last path component, already lowered
// with CQVString::MakeLower) equals one of SYSTEM_FILE_NAMES exactly.
bool IsSystemFileName(std::basic_string_view<WCHAR> loweredName);

}  // namespace qv::engine

#endif  // QVBACKUP_ENGINE_SYSTEM_FILE_NAMES_H_
