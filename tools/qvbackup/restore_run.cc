#include "restore_run.h"

#include <algorithm>
#include <cstdint>

#include "archive_open.h"
#include "qvbackup/qvenginecallback.h"
#include "report.h"

namespace qvtool {

namespace {

// Turns the control's bytes-so-far of the file being restored into the
// bar's percentage of the whole run.
class RestoreProgress : public CQVEngineCallback {
 public:
  RestoreProgress(ProgressBar& bar, ULONGLONG total) : bar_(bar), total_(total) {}

  void OnEngineMessage(DWORD dwCode, ULONGLONG ullValue1, ULONGLONG, ULONGLONG, ULONGLONG) override {
    if (dwCode == ENGINE_MSG_RESTORE_PROGRESS) Show(done_ + std::min(ullValue1, current_));
  }
  // The next item holds `bytes`.
  void Begin(ULONGLONG bytes) { current_ = bytes; }
  // It is done with (restored or not).
  void End() {
    done_ += current_;
    current_ = 0;
    Show(done_);
  }

 private:
  void Show(ULONGLONG done) {
    bar_.Update(total_ == 0 ? 100 : static_cast<DWORD>(std::min<ULONGLONG>(done, total_) * 100 / total_));
  }

  ProgressBar& bar_;
  ULONGLONG total_;
  ULONGLONG done_ = 0;
  ULONGLONG current_ = 0;
};

// Items of one member in the order of its stream: one pass forward through
// the volumes; then the items without content in the order they were
// saved, so that a further name of a file finds it restored.
std::vector<std::vector<const SavedFile*>> ByMember(const std::vector<SavedFile>& files, DWORD last) {
  std::vector<std::vector<const SavedFile*>> byMember(last + 1);
  for (const SavedFile& file : files) byMember[file.member].push_back(&file);
  for (std::vector<const SavedFile*>& saved : byMember) {
    std::sort(saved.begin(), saved.end(), [](const SavedFile* a, const SavedFile* b) {
      const bool aFile = a->kind == QVBC_ITEM_FILE;
      const bool bFile = b->kind == QVBC_ITEM_FILE;
      if (aFile != bFile) return aFile;
      return aFile ? a->recordOffset < b->recordOffset : a->entry < b->entry;
    });
  }
  return byMember;
}

void CountRestored(const SavedFile& file, Outcome* outcome) {
  ++(file.kind == QVBC_ITEM_FOLDER ? outcome->folders : file.kind == QVBC_ITEM_LINK ? outcome->links : outcome->files);
  if (file.kind == QVBC_ITEM_FILE || file.kind == QVBC_ITEM_OTHER_NAME) outcome->bytes += file.size;
}

// What became of one item that was not restored; false when the run ends.
bool NoteNotRestored(const SavedFile& file, DWORD error, const volatile BOOL& interrupted,
                     const ArchiveOpener& opener, Outcome* outcome) {
  const bool nothingWritten = outcome->files + outcome->folders + outcome->links == 0;
  if (error == ERROR_CANCELLED && interrupted) {
    outcome->stop = Stop::kInterrupted;
  } else if (!opener.missingVolume().empty()) {
    outcome->stop = Stop::kMissingVolume;
  } else if (EndsTheRun(error, nothingWritten)) {
    outcome->stop = Stop::kTarget;
    outcome->stopError = error;
    outcome->stopPath = file.path;
  } else if (file.kind == QVBC_ITEM_LINK && error == ERROR_NOT_SUPPORTED) {
    ++outcome->linksLeftOut;  // a system that holds no symbolic links
  } else {
    outcome->failed.push_back({file.path, ArchiveErrorText(error)});
  }
  return outcome->stop == Stop::kNone;
}

}  // namespace

bool EndsTheRun(DWORD error, bool nothingWritten) {
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_WRITE_PROTECT:
      return true;
    case ERROR_ACCESS_DENIED:
      return nothingWritten;
    default:
      return false;
  }
}

ULONGLONG StoredBytes(const std::vector<SavedFile>& files) {
  ULONGLONG total = 0;
  for (const SavedFile& file : files) total += file.fileBytes;
  return total;
}

Outcome RestoreFiles(ArchiveChain& chain, const std::vector<SavedFile>& files, DWORD first, DWORD last,
                     ProgressBar& bar, const volatile BOOL& interrupted, const ArchiveOpener& opener) {
  RestoreProgress progress(bar, StoredBytes(files));
  std::vector<std::vector<const SavedFile*>> byMember = ByMember(files, last);
  Outcome outcome;
  for (DWORD member = first; member <= last; ++member) outcome.salvaged = outcome.salvaged || chain.IndexLost(member);
  ULONGLONG tried = 0;
  for (DWORD member = first; member <= last && outcome.stop == Stop::kNone; ++member) {
    CQVBackupControl& control = chain.Control(member);
    if (member > first) control.ContinueAfter(chain.Control(member - 1));
    control.SetCancelFlag(&interrupted);
    control.SetCallback(&progress);
    for (const SavedFile* file : byMember[member]) {
      if (interrupted) {
        outcome.stop = Stop::kInterrupted;
        break;
      }
      progress.Begin(file->fileBytes);
      BOOL result = FALSE;
      if (file->lost.empty()) {
        result = file->fromRecord ? control.RestoreRecord(file->recordOffset, file->contentBytes)
                                  : control.RestoreEntry(file->entry);
      }
      const DWORD error = GetLastError();
      progress.End();
      if (!file->lost.empty()) {
        outcome.failed.push_back({file->path, file->lost});
      } else if (result == QVBC_RESTORE_LEFT_ALONE) {
        outcome.leftAlone.push_back(file->path);
      } else if (result) {
        CountRestored(*file, &outcome);
      } else if (!NoteNotRestored(*file, error, interrupted, opener, &outcome)) {
        break;
      }
      ++tried;
    }
    // What was restored reaches the disk before the run says so.
    if (!control.FlushRestoredFiles() && outcome.unsynced.empty()) outcome.unsynced = ErrorText(GetLastError());
    control.SetCallback(nullptr);
    outcome.metadataNotSet |= control.GetMetadataNotRestored();
    outcome.metadataLost = outcome.metadataLost || (!chain.IndexLost(member) && control.GetMetadataError() != 0);
  }
  if (outcome.stop != Stop::kNone) outcome.notTried = files.size() - tried;
  bar.Finish();
  return outcome;
}

}  // namespace qvtool
