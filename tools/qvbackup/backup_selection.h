// What a backup saves: the SOURCE arguments told apart (folders, files),
// and the engine's file list built from them with the filters, categories
// and exclusions of the command line.
#ifndef QVBACKUP_TOOLS_BACKUP_SELECTION_H_
#define QVBACKUP_TOOLS_BACKUP_SELECTION_H_

#include <utility>
#include <vector>

#include "backup_options.h"
#include "console.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtool {

struct SourcePath {
  WString typed;
  WString drivePath;
  bool folder = false;
};

// Each SOURCE as a drive path, folder or file. Returns -1 when every one
// exists; otherwise prints which one does not (or lies on no drive) and
// why, and returns kExitFailure.
int ReadSources(const std::vector<WString>& typed, std::vector<SourcePath>* sources);

// Builds the engine's list of files to save (m_setFileToBackup, its size
// m_i64SizeOfBackup and the backup control's total bytes): for every
// source folder one filter below it per extension asked for (one with any
// extension when none is), the file masks on each, the excluded
// extensions set first; then the exclusion patterns take out what they
// match, and each one that matched nothing is said on standard error;
// then every source file, taken as it is named (no mask, extension or
// exclusion applies to a file named on the command line). The archive's
// own volume files never go in the list. `unreadFolders` (may be null:
// the engine callback's list of folders it could not read, system error
// and drive path) loses those an exclusion takes. False, with the reason
// in `error`, when a category's extensions cannot be read.
bool BuildFileList(CQVBackupEngine& engine, const BackupSettings& settings, const std::vector<SourcePath>& sources,
                   std::vector<std::pair<DWORD, WString>>* unreadFolders, WString* error);

// Brings m_i64SizeOfBackup and the control's total bytes in line with the
// list after paths were added to or taken from it.
void RecountFileList(CQVBackupEngine& engine);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_BACKUP_SELECTION_H_
