// Where a restore puts a file, and which stored paths it refuses.
#ifndef QVBACKUP_CONTROL_RESTORE_TARGET_H_
#define QVBACKUP_CONTROL_RESTORE_TARGET_H_

#include <vector>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::control {

// The target of the stored path `path` ("D:\Data\a.txt") below `root`:
// "<root>\Kelvar_D\Data\a.txt". False when the stored path could lead
// anywhere else: it must be a drive letter, ":\", then components that are
// not empty, ".", "..", and hold no '/' or ':'.
bool BuildRestoreTarget(WStringView root, WStringView path, WString* target);

// The stored path `path` itself, for a restore to the paths items were
// saved from: "D:\Data\a.txt" as it is, refused as BuildRestoreTarget
// refuses one. It lies below the root of its drive, "D:\".
bool BuildOriginalTarget(WStringView path, WString* target);

// The names from `root` down to `path`, a path BuildRestoreTarget made or a
// folder on its way ("<root>\Kelvar_D\Data" gives "Kelvar_D", "Data"; the
// root itself none). False when `path` is neither `root` nor below it.
bool NamesBelowRoot(WStringView root, WStringView path, std::vector<WString>* names);

}  // namespace qv::control

#endif  // QVBACKUP_CONTROL_RESTORE_TARGET_H_
