// CQVBackupFile's restore, into a folder the caller holds: the file is
// recreated as the item `name` of the folder `folder` gives, from what
// `callback` hands back, with the contract of CQVBackupFile::RestoreFile.
// `folder` is asked once the records are accepted (so that a refused one
// makes nothing on disk); it answers null with the last error when the
// folder cannot be reached, and what it gives must last until the call
// returns. `metadata` (may be null): the file's saved POSIX metadata,
// given to it before it takes its name (see ReplacementFile::Commit). `rule`
// says what becomes of an item already under the name: one it keeps is
// seen before any content is asked for (and again as the new file takes
// the name), the result is then false with ERROR_FILE_EXISTS and
// outcome->leftAlone true. `outcome` may be null.
#ifndef QVBACKUP_SERVICES_FILE_RESTORE_H_
#define QVBACKUP_SERVICES_FILE_RESTORE_H_

#include <functional>

#include "platform/confined_folder.h"
#include "platform/posix_metadata.h"
#include "platform/text.h"
#include "qvbackup/qvbackupfile.h"
#include "services/replacement_file.h"

namespace qv::services {

using FolderOpener = std::function<const platform::ConfinedFolder*()>;

struct RestoreOutcome {
  bool leftAlone = false;      // an item the rule keeps is there
  bool metadataGiven = false;  // the file got `metadata` (POSIX systems)
  DWORD metadataNotSet = 0;    // then: what it did not get back
};

bool RestoreFileInto(const FolderOpener& folder, WStringView name, const platform::PosixMetadata* metadata,
                     QVBF_CALLBACK callback, ULONGLONG fileBytes, ULONGLONG userValue,
                     ExistingTarget rule = ExistingTarget::kReplace, RestoreOutcome* outcome = nullptr);

}  // namespace qv::services

#endif  // QVBACKUP_SERVICES_FILE_RESTORE_H_
