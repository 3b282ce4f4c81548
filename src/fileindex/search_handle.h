// What a search handle of the index points to.
#ifndef QVBACKUP_FILEINDEX_SEARCH_HANDLE_H_
#define QVBACKUP_FILEINDEX_SEARCH_HANDLE_H_

#include "qvbackup/qvfilearray.h"

namespace qv::fileindex {

constexpr DWORD kSearchHandleTag = 24;
constexpr DWORD kSearchExhausted = 0xFFFFFFFFu;

// The caller's filter (its 136 bytes; the texts and values it points to are
// not copied) and what is worked out once per search: the keys of the two
// masks and whether each holds a wildcard.
struct FilterCopy {
  QV_FINDFILTER filter;
  DWORD fileMaskCRC;
  DWORD extensionMaskCRC;
  DWORD extensionMaskHasWildcards;
  DWORD fileMaskHasWildcards;
};

struct SearchHandle {
  DWORD tag;      // kSearchHandleTag
  DWORD flat;     // 1: image order; 0: the tree below `start`
  DWORD current;  // last entry returned; 0 before the first; kSearchExhausted
  DWORD start;    // the base folder (0: the root)
  FilterCopy* filter;  // null without a filter
};

static_assert(sizeof(FilterCopy) == 152, "filter copy: the filter and four words");
static_assert(sizeof(SearchHandle) == 24, "a search handle is 24 bytes");

}  // namespace qv::fileindex

#endif  // QVBACKUP_FILEINDEX_SEARCH_HANDLE_H_
