// Where a restore puts a file, and which stored paths it refuses.
#ifndef QVBACKUP_CONTROL_RESTORE_TARGET_H_
#define QVBACKUP_CONTROL_RESTORE_TARGET_H_

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::control {

// The target of the stored path `path` ("D:\Data\a.txt") below `root`:
// "<root>\Kelvar_D\Data\a.txt". False when the stored path could lead
// anywhere else: it must be a drive letter, ":\", then components that are
// not empty, ".", "..", and hold no '/' or ':'.
bool BuildRestoreTarget(WStringView root, WStringView path, WString* target);

// Whether `name`, a file in the folder of archive `archiveName` with volume
// extension `extension`, is one of that archive's volume files:
// name.[tag k.][v.]ext or name.[tag k.][v.]exe, compared ignoring case.
bool IsArchiveVolumeName(WStringView name, WStringView archiveName, WStringView extension);

}  // namespace qv::control

#endif  // QVBACKUP_CONTROL_RESTORE_TARGET_H_
