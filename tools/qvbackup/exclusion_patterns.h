// What a backup leaves out, as people type it: a name anywhere below a
// source folder ("node_modules", "*.tmp"), a path below a source folder
// ("Photos/Summer*"), or a full path. A folder matched takes everything
// below it. Names are compared as the file system compares them (letter
// case counts on POSIX, not on Windows), with the wildcards of
// name_match.h in any component.
#ifndef QVBACKUP_TOOLS_EXCLUSION_PATTERNS_H_
#define QVBACKUP_TOOLS_EXCLUSION_PATTERNS_H_

#include <functional>
#include <vector>

#include "console.h"

namespace qvtool {

// What a pattern may match: anything, or only folders (--exclude-dir), or
// only what is not a folder (--exclude-file).
enum class ExcludedItems { kAny, kFolders, kFiles };

struct ExclusionPattern {
  enum class Scope {
    kName,         // one name, matched with every component below a source folder
    kBelowSource,  // components matched with the first ones below a source folder
    kFullPath,     // components of a drive path ("C:", "Users", ...)
  };
  WString option;  // as given: "--exclude", "--exclude-dir", "--exclude-file"
  WString typed;
  ExcludedItems items = ExcludedItems::kAny;
  Scope scope = Scope::kName;
  std::vector<WString> parts;
  // Why it cannot match anything in any run (a full path that does not
  // exist, or that no drive holds); empty otherwise.
  WString hopeless;
};

// Reads `typed`, given with `option`. A drive path ("E:\x", "E:/x") or a
// text that begins with '/' or '\' is a full path (a native one goes
// through the drive map); a text with '/' or '\' elsewhere is a path below
// a source folder; anything else is a name. False with the reason for an
// empty pattern or one that climbs out of the source folder ("..").
bool ReadExclusionPattern(const WString& option, const WString& typed, ExcludedItems items,
                          ExclusionPattern* pattern, WString* why);

// Applies patterns to drive paths and keeps count of what each matched.
class ExclusionMatcher {
 public:
  // `sourceFolders` are the drive paths of the source folders: names and
  // paths below a source are matched only below one of them. `isFolder`
  // tells whether a listed path is a folder; it is asked only when a
  // pattern limited to folders or files matches the path's last component.
  ExclusionMatcher(const std::vector<ExclusionPattern>& patterns, const std::vector<WString>& sourceFolders,
                   std::function<bool(const WString&)> isFolder);

  bool empty() const { return patterns_.empty(); }

  // True when any pattern matches `drivePath` or a folder above it; every
  // pattern that does counts one match.
  bool Excludes(const WString& drivePath);
  // The same for a path known to be a folder.
  bool ExcludesFolder(const WString& drivePath);

  // One line for each pattern that matched nothing so far:
  // "--exclude 'X' matched nothing", with the reason when it could not.
  std::vector<WString> Unmatched() const;

 private:
  bool Matches(const ExclusionPattern& pattern, const std::vector<WString>& path, const WString& drivePath,
               int* folderKnown) const;
  bool MatchesAt(const ExclusionPattern& pattern, const std::vector<WString>& path, std::size_t start,
                 const WString& drivePath, int* folderKnown) const;
  bool ItemFits(const ExclusionPattern& pattern, const std::vector<WString>& path, std::size_t last,
                const WString& drivePath, int* folderKnown) const;
  bool Apply(const WString& drivePath, int folderKnown);

  std::vector<ExclusionPattern> patterns_;
  std::vector<std::vector<WString>> sources_;
  std::function<bool(const WString&)> isFolder_;
  std::vector<unsigned long long> matched_;
};

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_EXCLUSION_PATTERNS_H_
