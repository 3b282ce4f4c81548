// Writing the engine's file list into the archive: a base archive through
// the engine's backup run, or the next increment of a chain through the
// backup control. Either stops on the engine's cancel word and then leaves
// nothing of what it was writing, and the archive it would have replaced
// as it was.
#ifndef QVBACKUP_TOOLS_BACKUP_RUN_H_
#define QVBACKUP_TOOLS_BACKUP_RUN_H_

#include "backup_archive.h"
#include "backup_increment.h"
#include "qvbackup/qvbackupengine.h"
#include "tool_callback.h"

namespace qvtool {

enum class RunEnd {
  kWritten,        // the member was written and closed
  kNothingToSave,  // the list was empty: nothing written
  kNoSpace,        // the destination has less room than the files: nothing written
  kNotCreated,     // the member could not be created (error)
  kCancelled,      // stopped on the cancel word; what was written is removed
  kFailed,         // the member could not be finished (error); what was written is removed
};

struct RunResult {
  RunEnd end = RunEnd::kFailed;
  DWORD error = ERROR_SUCCESS;
  DWORD increment = 0;  // the member written
  bool begun = true;    // false: stopped before the member was created
};

// Writes the list as the base archive `form` describes (replacing one of
// that name), marked as the base of a chain when `chainBase`. `callback`
// must be the engine's callback.
RunResult WriteBase(CQVBackupEngine& engine, const ArchiveForm& form, bool chainBase, ToolCallback& callback);

// Writes the list as the next increment of the chain whose base `form`
// describes (same naming of volumes), recording what `plan` keeps of the
// earlier members. Nothing is written when nothing is listed and nothing
// the chain held is gone.
RunResult WriteIncrement(CQVBackupEngine& engine, const ArchiveForm& form, const IncrementPlan& plan);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_BACKUP_RUN_H_
