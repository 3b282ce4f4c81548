// What a backup tells when it is done: the files saved and their bytes, the
// archive's bytes and volumes, the ratio, the time and the speed, and every
// listed file that could not be saved with the reason; as text or as one
// JSON object.
#ifndef QVBACKUP_TOOLS_BACKUP_REPORT_H_
#define QVBACKUP_TOOLS_BACKUP_REPORT_H_

#include <set>
#include <vector>

#include "backup_archive.h"
#include "console.h"
#include "qvbackup/qvstring.h"

namespace qvtool {

struct SkippedFile {
  WString path;    // drive path
  WString reason;
  bool folder = false;  // a folder that could not be read: nothing below it is saved
};

struct BackupReport {
  ULONGLONG files = 0;         // files saved (a further name of a file saved once counts)
  ULONGLONG folders = 0;       // empty folders saved
  ULONGLONG links = 0;         // symbolic links saved
  ULONGLONG bytes = 0;         // their bytes, as read
  ULONGLONG archiveBytes = 0;  // the bytes of the member's volume files
  DWORD volumes = 0;
  double seconds = 0;
  std::vector<SkippedFile> skipped;  // files not saved, and folders that could not be read
  std::vector<WString> changed;      // files saved as read while they changed (drive paths)
  WString archive;             // the member's first volume (native path); empty: nothing written
  DWORD increment = 0;         // the member written: 0 the base
  ULONGLONG unchanged = 0;     // files left out of an increment as saved before
  ULONGLONG gone = 0;          // items the chain held that no longer exist (deleted or renamed)
  std::vector<SkippedFile> removed;  // files of the name removed once the member was in place
};

// Reads back the index of member `increment` just written and fills in
// the files of `listed` it saved, their bytes, and the others with the
// reason they could not be saved. False with the last error when the
// member cannot be read back.
bool ReadBackMember(const ArchiveForm& form, DWORD increment, const std::set<CQVString>& listed,
                    BackupReport* report);

// Prints the report on standard output: text, or with `json` one object.
void PrintReport(const BackupReport& report, const WString& name, bool json);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_BACKUP_REPORT_H_
