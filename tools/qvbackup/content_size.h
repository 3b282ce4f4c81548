// Whether a saved file's content agrees with the size its index entry
// gives: plain content holds exactly that many bytes (unless the file
// changed while it was read), and content saved as runs of data (a file
// with holes) holds runs in order, apart, each whole, ending within it.
#ifndef QVBACKUP_TOOLS_CONTENT_SIZE_H_
#define QVBACKUP_TOOLS_CONTENT_SIZE_H_

#include "console.h"

namespace qvtool {

// Why plain content of `contentBytes` bytes disagrees with the entry's
// `size`; empty when it agrees or when the file was saved as read while
// it changed (`lengthMayDiffer`: then any length is what was read).
WString PlainContentProblem(ULONGLONG size, ULONGLONG contentBytes, bool lengthMayDiffer);

// Follows content saved as runs, one data block after the other, without
// keeping more than one run header.
class RunLayout {
 public:
  // `contentBytes`: the bytes the file's data blocks hold.
  explicit RunLayout(ULONGLONG contentBytes) : left_(contentBytes) {}

  // The data of the next block of the file's content.
  void Feed(const BYTE* data, DWORD length);
  // Whether every byte of the content was fed.
  bool Done() const { return left_ == 0; }
  // The content was not followed to its end (a block could not be read):
  // nothing can be said of its runs.
  void Break() { broken_ = true; }

  // Why the runs disagree with the entry's `size`; empty when they agree.
  // "" also when the layout was broken: the block that broke it is the
  // damage to report.
  WString Problem(ULONGLONG size) const;

 private:
  ULONGLONG left_;           // content bytes not fed yet
  BYTE header_[16] = {};     // the run header being read
  DWORD headerFill_ = 0;
  ULONGLONG runLeft_ = 0;    // bytes of the current run still to come
  ULONGLONG end_ = 0;        // where the runs so far end in the file
  bool overflow_ = false;    // more data than the content's length
  bool broken_ = false;
  WString problem_;          // the first fault found
};

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_CONTENT_SIZE_H_
