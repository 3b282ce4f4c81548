// The PATTERNs list and restore take after ARCHIVE, and which saved items
// they select.
//
// A pattern names a folder (everything below it), a file, or a wildcard
// path, in either of two forms:
//   - a stored path, "C:\Data\*.txt" (a drive letter and a colon first;
//     '/' and '\' both separate), or the native path of the same place
//     ("/home/ann/*.txt" on POSIX, through the drive map, which --drive
//     changes), matched from the drive down;
//   - a relative path ("*.txt", "Docs/letter.txt"), matched against any run
//     of consecutive names in a stored path: "*.txt" is a name anywhere,
//     "Docs" every folder or file named Docs, at any depth.
// '*' stands for any run of characters and '?' for one, both within one
// name: neither crosses a separator. Letter case counts as the tool compares
// paths (ignored on Windows, a-z as A-Z; kept on POSIX).
#ifndef QVBACKUP_TOOLS_PATH_PATTERNS_H_
#define QVBACKUP_TOOLS_PATH_PATTERNS_H_

#include <vector>

#include "console.h"
#include "saved_files.h"

namespace qvtool {

class PathPattern {
 public:
  // `typed` as the user gave it. False with the reason in `why` when it
  // selects nothing that could be saved (no drive holds a native path).
  static bool Parse(const WString& typed, PathPattern* pattern, WString* why);

  // Whether the stored path `path` ("C:\Data\a.txt") is selected: named by
  // the pattern, or below a folder it names.
  bool Selects(const WString& path) const;

  const WString& typed() const { return typed_; }

 private:
  WString typed_;
  bool anchored_ = false;  // from the drive down
  WCHAR drive_ = 0;        // the drive of an anchored pattern
  std::vector<WString> names_;
};

// Keeps in `view` the items some pattern of `patterns` selects (all of
// them when there is none); the answer tells, for each pattern, whether it
// selected anything.
std::vector<bool> KeepSelected(const std::vector<PathPattern>& patterns, std::vector<SavedFile>* view);

// KeepSelected, then each pattern that selected nothing said on standard
// error as matching nothing in `archive`; true when one did.
bool SelectOrSay(const std::vector<PathPattern>& patterns, const WString& archive, std::vector<SavedFile>* view);

// The patterns `typed` of `command`; false with *status the exit status
// after saying which one is wrong.
bool ReadPatterns(const char* command, const std::vector<WString>& typed, std::vector<PathPattern>* patterns,
                  int* status);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_PATH_PATTERNS_H_
