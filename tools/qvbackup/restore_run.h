// The restore of a chosen view of a chain: each member's items in the order
// of its stream, the progress bar driven by the bytes written (inside a
// large file too), and the run ended at the first error that says the
// target cannot be written at all or a volume file is missing.
#ifndef QVBACKUP_TOOLS_RESTORE_RUN_H_
#define QVBACKUP_TOOLS_RESTORE_RUN_H_

#include <vector>

#include "archive_chain.h"
#include "console.h"
#include "progress.h"
#include "saved_files.h"

namespace qvtool {

struct Failure {
  WString path;
  WString reason;
};

// Why the run ended before every item was tried.
enum class Stop {
  kNone,
  kInterrupted,    // Ctrl-C: the file being written was removed
  kTarget,         // the target cannot be written (full, read-only, no permission)
  kMissingVolume,  // a volume file could not be had
};

struct Outcome {
  ULONGLONG files = 0;       // files restored (a further name of one counts)
  ULONGLONG folders = 0;     // empty folders
  ULONGLONG links = 0;       // symbolic links
  ULONGLONG bytes = 0;
  std::vector<WString> leftAlone;  // paths of items kept as they were
  std::vector<Failure> failed;
  Stop stop = Stop::kNone;
  DWORD stopError = 0;       // the error that ended the run (kTarget)
  WString stopPath;          // the item it was met on
  ULONGLONG notTried = 0;    // items the run did not get to, the one it stopped on included
  bool salvaged = false;     // a member was read without its index
  bool brokenChain = false;  // members past a break in the chain were not restored
  bool damagedHeader = false;  // a member's check value was damaged (its data was read all the same)
  WString unsynced;          // why the restored files may not have reached the disk
  ULONGLONG linksLeftOut = 0;  // symbolic links this system cannot hold
  DWORD metadataNotSet = 0;    // kMetadata*NotSet bits of what could not be given back
  bool metadataLost = false;   // a member's metadata table could not be read
};

// Whether `error`, met writing an item, says that nothing more can be
// written to the target: a full disk or a read-only file system; a denied
// access too when nothing could be written yet (`nothingWritten`), the
// target itself being closed to the run then.
bool EndsTheRun(DWORD error, bool nothingWritten);

// The bytes the progress counts for `files`: what each holds.
ULONGLONG StoredBytes(const std::vector<SavedFile>& files);

// Restores `files` (the view of members first..last, the members' controls
// set up for the target) member by member, in the order each member saved
// them. `missingVolume` tells the volume file the chain gave up on, if any.
Outcome RestoreFiles(ArchiveChain& chain, const std::vector<SavedFile>& files, DWORD first, DWORD last,
                     ProgressBar& bar, const volatile BOOL& interrupted, const ArchiveOpener& opener);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_RESTORE_RUN_H_
