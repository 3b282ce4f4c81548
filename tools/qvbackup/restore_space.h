// Whether what a restore will write fits where it goes, checked before
// anything is written.
//
// Each item counts what it adds to its volume, every size rounded up to
// 4 KiB (what a file system allocates at least): a file or link where
// nothing is, its saved size, or the bytes the archive holds for it when
// fewer (its holes are never written, and a size its entry claims beyond
// what was stored is not written either); one that replaces a file, only what
// it is larger than that file, plus, once, the largest part of a replaced
// file that exists twice while its new copy is written beside it (the old
// one goes only when the new one takes its name). Items the overwrite mode
// leaves alone count nothing. Folders count 4 KiB each, and nothing is
// kept back for the file system's own records.
#ifndef QVBACKUP_TOOLS_RESTORE_SPACE_H_
#define QVBACKUP_TOOLS_RESTORE_SPACE_H_

#include <map>
#include <vector>

#include "archive_chain.h"
#include "console.h"
#include "saved_files.h"

namespace qvtool {

// What a restore needs on one volume, by the folder that stands for it.
struct SpaceNeed {
  ULONGLONG added = 0;        // new items, and what replacements grow by
  ULONGLONG largestTwice = 0; // the most one replacement holds twice
  ULONGLONG Total() const { return added + largestTwice; }
};

// The bytes each item of `files` will add, under the overwrite mode and
// target the members' controls were set up with (GetExistingTarget tells
// what is there), summed by where it goes: `target` (the drive path of
// --to DIR) or, with an empty `target`, the root of each item's drive.
std::map<WString, SpaceNeed> MeasureNeeds(ArchiveChain& chain, const std::vector<SavedFile>& files, DWORD mode,
                                          const WString& target);

// The free bytes of the volume of the drive path `folder`, or of its
// nearest folder that exists. False with the last error when none can be
// measured.
bool FreeSpaceOf(const WString& folder, ULONGLONG* freeBytes);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_RESTORE_SPACE_H_
