// Searches of a file index as the profile-driven operations run them: a
// filter with every field zero but the ones asked for, the entries found
// gathered before anyone acts on them, so that deleting or adding entries
// never disturbs the running search.
#ifndef QVBACKUP_ENGINE_INDEX_SEARCH_H_
#define QVBACKUP_ENGINE_INDEX_SEARCH_H_

#include <cstring>
#include <vector>

#include "qvbackup/qvfilearray.h"

namespace qv::engine {

inline QV_FINDFILTER EmptyFilter() {
  QV_FINDFILTER filter;
  std::memset(&filter, 0, sizeof(filter));
  return filter;
}

// The entries that `filter` finds in `index`, in the order found; empty
// when the search finds nothing or cannot start.
inline std::vector<DWORD> FindAll(CQVFileArray& index, const QV_FINDFILTER& filter) {
  std::vector<DWORD> found;
  DWORD entry = 0;
  HANDLE search = index.FindFirstFileW(entry, &filter);
  if (search == nullptr || search == INVALID_HANDLE_VALUE) return found;
  do {
    found.push_back(entry);
  } while (index.FindNextFileW(search, entry));
  index.FindClose(search);
  return found;
}

// Every live entry, files and folders, in image order.
inline std::vector<DWORD> FindEveryEntry(CQVFileArray& index) {
  QV_FINDFILTER filter = EmptyFilter();
  filter.dwFlags = QVFF_RECURSE;
  return FindAll(index, filter);
}

// The entries whose extension matches `extension` (an extension mask).
inline std::vector<DWORD> FindByExtension(CQVFileArray& index, LPCWSTR extension) {
  QV_FINDFILTER filter = EmptyFilter();
  filter.pszExtensionMask = extension;
  return FindAll(index, filter);
}

// True for an entry that names a file: not a folder, and a full path that
// does not end with '\'.
inline bool IsFileEntry(CQVFileArray& index, DWORD entry, const CQVString& path) {
  return !path.IsEmpty() && path.GetAt(path.GetLength() - 1) != QVT('\\') && index.IsDirectory(entry) == 0;
}

}  // namespace qv::engine

#endif  // QVBACKUP_ENGINE_INDEX_SEARCH_H_
