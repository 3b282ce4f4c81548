// The files a backup saved, as its index records them, and the view of a
// whole chain: each file's newest saved version.
#ifndef QVBACKUP_TOOLS_SAVED_FILES_H_
#define QVBACKUP_TOOLS_SAVED_FILES_H_

#include <vector>

#include "console.h"
#include "qvbackup/qvbackupcontrol.h"
#include "qvbackup/qvfilearray.h"

namespace qvtool {

struct SavedFile {
  DWORD member = 0;          // 0: the base archive, k: the k-th increment
  DWORD entry = 0;           // the entry in that member's index
  WString path;              // the full path it was saved from ("C:\Data\a.txt")
  ULONGLONG size = 0;
  ULONGLONG lastWrite = 0;   // 100 ns units since 1601, UTC
  DWORD attributes = 0;
  DWORD kind = QVBC_ITEM_FILE;  // a file with content, or a link, an empty folder, a further name
  ULONGLONG fileBytes = 0;   // what the backup stored for it, records included (0 but for files)
  ULONGLONG recordOffset = 0;
  // Saved as read while it changed (or in an archive written before such
  // files were marked): its content may be longer or shorter than `size`,
  // the size the backup found it with.
  bool lengthMayDiffer = false;
  // Found from its record alone, its member's index being lost: the content
  // its data blocks hold, and why it cannot be restored ("" when it can).
  bool fromRecord = false;
  ULONGLONG contentBytes = 0;
  WString lost;
};

// Every item of the index loaded in `control`, member `member`, that holds
// something to restore: files with saved content, and where the backup
// kept them links, empty folders and further names of a file (entries
// marked deleted, folders restored through what they hold and files that
// were not saved are left out), in the order the backup saved them.
std::vector<SavedFile> SavedFilesOf(CQVBackupControl& control, DWORD member);

// Reads entry `entry` of the index loaded in `control` (member `member`)
// into *file. False when it holds nothing to restore.
bool ReadSavedFile(CQVBackupControl& control, DWORD entry, DWORD member, SavedFile* file);

// Sorts `files` by path, as views are (paths compare as Windows compares
// them where file names ignore case).
void SortByPath(std::vector<SavedFile>& files);

// The item of `view` (sorted by path) saved from `path`, or null.
const SavedFile* FindInView(const std::vector<SavedFile>& view, const WString& path);

// Folds the files of the next member into `view`: a path saved again
// replaces its earlier version (paths compare as Windows compares them,
// letter case ignored). `view` stays sorted by path.
void MergeNewerVersions(std::vector<SavedFile>& view, std::vector<SavedFile> newer);

// "2026-12-07T21:00:00Z": a time in 100 ns units since 1601 (UTC), to the
// second below.
WString IsoTime(ULONGLONG ticks);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_SAVED_FILES_H_
