// The files of one archive member whose index cannot be loaded, found from
// their record blocks: each record and the run of data blocks after it,
// with the run proven to be the file's whole content or the reason it is
// not. A run ends where the next file's record, the index image or the
// closing record begins; its end is proven when that block is read back
// whole, or when its last block is short in a way only a file's last
// block can be (see ProveRun). A file whose run meets damage, a lost
// stretch or the end of the stream before its end is proven is reported,
// never restored.
#ifndef QVBACKUP_TOOLS_ARCHIVE_SALVAGE_H_
#define QVBACKUP_TOOLS_ARCHIVE_SALVAGE_H_

#include <vector>

#include "qvbackup/qvstorage.h"
#include "saved_files.h"

namespace qvtool {

struct SalvagedMember {
  // Every file with a record read back whole, in the order of the stream,
  // each with fromRecord set and, when its content is not proven whole, the
  // reason in `lost`.
  std::vector<SavedFile> files;
  // True when every block between the header and the index image was read
  // back whole: no record of a file can hide in damage, so the member saved
  // no file but these.
  bool allRecordsSeen = false;
};

// Walks the blocks of member `member`, open in `storage`, and finds its
// files. Reads only; a header that cannot be read gives no file.
SalvagedMember SalvageMember(CQVStorage& storage, DWORD member);

// Whether the data lengths `lengths` of a run, cut at `blockSize`, can be a
// file's content as the writer cuts it: the file service hands the content
// over in chunks of one size (from 64 KiB to 1 MiB) but the last, and the
// writer cuts each chunk into blocks of the block size but its last.
bool FitsChunking(const std::vector<DWORD>& lengths, DWORD blockSize);

// Whether a run of `lengths` (which FitsChunking accepts) certainly holds
// the whole content even though nothing after it can be read: its last block
// is short, and the chunk it ends is shorter than any chunk but the last.
bool EndsItsContent(const std::vector<DWORD>& lengths, DWORD blockSize);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_ARCHIVE_SALVAGE_H_
