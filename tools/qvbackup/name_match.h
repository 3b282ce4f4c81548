// File names compared the way the file system compares them (ignoring
// letter case on Windows only), exactly or against a pattern with the
// wildcards '*' and '?'.
#ifndef QVBACKUP_TOOLS_NAME_MATCH_H_
#define QVBACKUP_TOOLS_NAME_MATCH_H_

#include <vector>

#include "console.h"

namespace qvtool {

// Whether the file system takes names that differ only in letter case as
// one (asked of the library once).
bool NamesIgnoreCase();

// True when `a` and `b` name the same file in one folder.
bool SameName(const WString& a, const WString& b);

// True when the whole of `name` matches `pattern`: '*' stands for any run
// of characters (none included), '?' for exactly one character (a
// surrogate pair is one), anything else for itself, compared as SameName
// compares. No character is special besides those two. Time is bounded by
// length(name) x length(pattern).
bool MatchesName(const WString& name, const WString& pattern);

// Whether `text` holds '*' or '?'.
bool HasWildcard(const WString& text);

// The components of `path` split at `separators` ("\\", or "/\\"), with
// empty ones (doubled or trailing separators) left out.
std::vector<WString> SplitPath(const WString& path, const char* separators);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_NAME_MATCH_H_
