// Restoring the archive the running program carries: open it from behind
// the program (the stub marker in its DOS header says where the archive
// header begins), load its index, recreate every file below a folder and
// check that each one arrived.
#ifndef QVBACKUP_TOOLS_QVSFX_SFX_RESTORE_H_
#define QVBACKUP_TOOLS_QVSFX_SFX_RESTORE_H_

#include <functional>
#include <string>
#include <vector>

#include "qvbackup/qvbackupcontrol.h"

namespace qvsfx {

enum class OpenStatus {
  kOpened,
  kNoArchive,      // the program carries no archive
  kNoPassword,     // the archive has a password and none was given
  kWrongPassword,  // the password given does not open it
  kFailed,         // it cannot be read or its index is damaged: `error` says why
};

// Opens the archive carried by the running program in `control` and loads
// its index. `askPassword` is called once when the archive has a password;
// it fills the text, or returns false when there is none. `*error` gets
// the system's error for kFailed.
OpenStatus OpenCarriedArchive(CQVBackupControl& control, const std::function<bool(std::wstring*)>& askPassword,
                              DWORD* error);

struct RestoreOutcome {
  ULONGLONG files = 0;               // files restored whole
  ULONGLONG bytes = 0;               // their bytes
  std::vector<std::wstring> failed;  // the saved paths of the others
};

// Restores every file of the archive opened in `control` below the folder
// `target` (created when missing) as TARGET\Kelvar_<drive>\<path>, closes
// the archive, and checks that each file is there with its saved size.
RestoreOutcome RestoreEverything(CQVBackupControl& control, const std::wstring& target);

}  // namespace qvsfx

#endif  // QVBACKUP_TOOLS_QVSFX_SFX_RESTORE_H_
