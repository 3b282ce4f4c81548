#include "backup_run.h"

#include <string>

namespace qvtool {

namespace {

// The word may be set by the interrupt handler at any time.
bool CancelRequested(const CQVBackupEngine& engine) {
  return *static_cast<const volatile BOOL*>(&engine.m_bCancel) != 0;
}

RunResult Ended(RunEnd end, DWORD error = ERROR_SUCCESS, DWORD increment = 0) {
  RunResult result;
  result.end = end;
  result.error = error;
  result.increment = increment;
  return result;
}

// Interrupted while the list was made: the member is not even begun.
RunResult NotBegun() {
  RunResult result = Ended(RunEnd::kCancelled);
  result.begun = false;
  return result;
}

// The room the destination must have: the whole backup, or what it holds
// at once when its volumes are taken away as they are written.
LONGLONG RoomNeeded(const CQVBackupEngine& engine) {
  const LONGLONG room = engine.m_i64DestinationRoom;
  return room >= 0 && room < engine.m_i64SizeOfBackup ? room : engine.m_i64SizeOfBackup;
}

}  // namespace

RunResult WriteBase(CQVBackupEngine& engine, const ArchiveForm& form, bool chainBase, ToolCallback& callback) {
  if (CancelRequested(engine)) return NotBegun();
  QVS_ARCHIVE_INFO info = form.Describe();
  if (chainBase) info.dwFlags |= QVS_FLAG_INCREMENTAL;
  callback.outcome = 0;
  engine.m_qvbc.GetStorage().SetVolumeWrittenProc(form.volumeWritten, form.volumeWrittenValue);
  engine.BackupControl(&info);
  switch (callback.outcome) {
    case 0:
      return Ended(RunEnd::kWritten);
    case ENGINE_MSG_NO_FILES:
      return Ended(RunEnd::kNothingToSave);
    case ENGINE_MSG_NO_SPACE:
      return Ended(RunEnd::kNoSpace);
    case ENGINE_MSG_CANCELLED:
      return Ended(RunEnd::kCancelled);
    case ENGINE_MSG_CREATE_FAILED: {
      // An archive begun but not finished was closed before it was removed:
      // the reason is then the thread's last error.
      const DWORD error = engine.m_qvbc.GetStorage().GetError();
      return Ended(RunEnd::kNotCreated, error != ERROR_SUCCESS ? error : GetLastError());
    }
    default:
      return Ended(RunEnd::kFailed, GetLastError());
  }
}

// The next member of the chain, through the backup control: the library
// numbers it (the next one, or the place of one whose run never ended) and
// gives it up when it is cancelled or cannot be finished.
RunResult WriteIncrement(CQVBackupEngine& engine, const ArchiveForm& form, const IncrementPlan& plan) {
  if (CancelRequested(engine)) return NotBegun();
  if (engine.m_setFileToBackup.empty() && plan.gone == 0) return Ended(RunEnd::kNothingToSave);
  const CQVString folder(form.folder.c_str());
  if (!engine.CheckFreeSpace(folder, RoomNeeded(engine))) return Ended(RunEnd::kNoSpace);

  CQVBackupControl& control = engine.m_qvbc;
  control.SetCallback(engine.m_pCallBack);
  control.SetCancelFlag(&engine.m_bCancel);
  QVS_ARCHIVE_INFO info = form.Describe();
  info.dwFlags |= QVS_FLAG_INCREMENTAL;  // as BeginIncrementalArchive does: the next member
  control.GetStorage().SetVolumeWrittenProc(form.volumeWritten, form.volumeWrittenValue);
  if (!control.BeginBackup(&info)) return Ended(RunEnd::kNotCreated, GetLastError());
  const DWORD increment = control.GetStorage().GetCurrentIncrement();

  for (const CQVString& path : engine.m_setFileToBackup) {
    if (CancelRequested(engine)) break;
    // A file that fails is marked in the member's index; the report reads
    // the index back and tells which ones and why.
    if (!control.AddFileToArchive(path, 0) && GetLastError() == ERROR_CANCELLED && CancelRequested(engine)) {
      return Ended(RunEnd::kCancelled);  // the control gave the member up
    }
  }
  if (CancelRequested(engine)) {
    // Seen after the control's last look at the word: given up the same way.
    control.GetStorage().AbandonArchive();
    return Ended(RunEnd::kCancelled);
  }
  // Which items of earlier members still exist: what the member does not
  // list was deleted or renamed by now.
  if (!control.SetKeptEntries(plan.kept.data(), static_cast<DWORD>(plan.kept.size()))) {
    control.GetStorage().AbandonArchive();
    return Ended(RunEnd::kFailed, GetLastError(), increment);
  }
  if (!control.EndBackup()) return Ended(RunEnd::kFailed, GetLastError(), increment);
  return Ended(RunEnd::kWritten, ERROR_SUCCESS, increment);
}

}  // namespace qvtool
