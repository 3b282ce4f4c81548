// Verification of an index image that comes from outside: an archive, a
// saved file or a caller's buffer.
#ifndef QVBACKUP_FILEINDEX_IMAGE_CHECK_H_
#define QVBACKUP_FILEINDEX_IMAGE_CHECK_H_

#include "qvbackup/wintypes.h"

namespace qv::fileindex {

// True when the `length` bytes at `image` (used length + the 2-byte trailer)
// form an image every operation of the index can walk without leaving it:
// - the root at 0 with its tag, then entries chained by their size words,
//   each with its tag, a name terminated just before its user data, and a
//   size equal to header + name + user data; the last entry (size word 0)
//   ends exactly at the trailer, which holds its size;
// - every link (children, siblings, parent) is 0, or names an entry (the
//   parent may also be "not linked"), and the links form trees: each linked
//   entry sits once in its parent's child list, in which the previous links
//   mirror the next links, and every entry is reachable from the root or from
//   an entry that is not linked.
bool IsWellFormedImage(const BYTE* image, DWORD length);

}  // namespace qv::fileindex

#endif  // QVBACKUP_FILEINDEX_IMAGE_CHECK_H_
