// What a dry run of qvbackup backup prints: the paths the backup would
// save, and their total, having written nothing.
#ifndef QVBACKUP_TOOLS_BACKUP_DRY_RUN_H_
#define QVBACKUP_TOOLS_BACKUP_DRY_RUN_H_

#include <set>
#include <utility>
#include <vector>

#include "console.h"
#include "qvbackup/qvstring.h"

namespace qvtool {

struct DryRunList {
  const std::set<CQVString>* paths = nullptr;  // what would be saved (drive paths)
  ULONGLONG bytes = 0;                         // their sizes as the disk gives them
  // Folders that could not be read: system error, drive path.
  const std::vector<std::pair<DWORD, WString>>* unreadFolders = nullptr;
};

// Text: one path per line on standard output; each unread folder and the
// total on standard error. With `json`, the answer {"files": [...],
// "count", "bytes", "skipped": [{path, reason}]}. Returns kExitSuccess.
int PrintDryRun(const DryRunList& list, const WString& name, bool json);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_BACKUP_DRY_RUN_H_
