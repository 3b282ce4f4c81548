// CQVBackupFile's restore, into a folder the caller holds: the file is
// recreated as the item `name` of the folder `folder` gives, from what
// `callback` hands back, with the contract of CQVBackupFile::RestoreFile.
// `folder` is asked once the records are accepted (so that a refused one
// makes nothing on disk); it answers null with the last error when the
// folder cannot be reached, and what it gives must last until the call
// returns. `keepOwnerOnly`: the caller gives the file its saved mode next
// (see ReplacementFile::Commit). `rule` says what becomes of an item
// already under the name: one it keeps is seen before any content is
// asked for (and again as the new file takes the name), the result is then
// false with ERROR_FILE_EXISTS and *leftAlone (may be null) true.
#ifndef QVBACKUP_SERVICES_FILE_RESTORE_H_
#define QVBACKUP_SERVICES_FILE_RESTORE_H_

#include <functional>

#include "platform/confined_folder.h"
#include "platform/text.h"
#include "qvbackup/qvbackupfile.h"
#include "services/replacement_file.h"

namespace qv::services {

using FolderOpener = std::function<const platform::ConfinedFolder*()>;

bool RestoreFileInto(const FolderOpener& folder, WStringView name, bool keepOwnerOnly,
                     QVBF_CALLBACK callback, ULONGLONG fileBytes, ULONGLONG userValue,
                     ExistingTarget rule = ExistingTarget::kReplace, bool* leftAlone = nullptr);

}  // namespace qv::services

#endif  // QVBACKUP_SERVICES_FILE_RESTORE_H_
