#include "exclusion_patterns.h"

#include <utility>

#include "name_match.h"
#include "qvbackup/qvfilearray.h"
#include "report.h"

namespace qvtool {

namespace {

bool IsLetter(WCHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsSeparator(WCHAR c) { return c == '/' || c == '\\'; }

bool IsDriveForm(const WString& text) {
  return text.size() >= 2 && IsLetter(text[0]) && text[1] == ':' && (text.size() == 2 || IsSeparator(text[2]));
}

// Whether the drive path is something on disk. A wildcard in it leaves
// that to the run.
bool ExistsOnDisk(const WString& drivePath) {
  CQVFileArray probe;
  return probe.Add(drivePath.c_str()) != 0;
}

// The drive path's components, the drive ("C:") first. False with the
// reason when no drive holds a native path.
bool ReadFullPath(const WString& typed, std::vector<WString>* parts, WString* drivePath) {
  if (IsDriveForm(typed)) {
    *drivePath = typed;
    if ((*drivePath)[0] >= 'a') (*drivePath)[0] = static_cast<WCHAR>((*drivePath)[0] - ('a' - 'A'));
    for (WCHAR& c : *drivePath) c = c == '/' ? '\\' : c;
  } else {
    // Either separator may be typed; '/' is the one every system reads.
    WString native = typed;
    for (WCHAR& c : native) c = c == '\\' ? '/' : c;
    *drivePath = DrivePathOf(native);
    if (drivePath->empty()) return false;
  }
  *parts = SplitPath(*drivePath, "\\");
  return !parts->empty();
}

}  // namespace

bool ReadExclusionPattern(const WString& option, const WString& typed, ExcludedItems items,
                          ExclusionPattern* pattern, WString* why) {
  pattern->option = option;
  pattern->typed = typed;
  pattern->items = items;
  pattern->parts.clear();
  pattern->hopeless.clear();
  if (typed.empty()) {
    *why = option + Widen(" needs a name, a path below a source or a full path");
    return false;
  }
  if (IsDriveForm(typed) || IsSeparator(typed[0])) {
    pattern->scope = ExclusionPattern::Scope::kFullPath;
    WString drivePath;
    if (!ReadFullPath(typed, &pattern->parts, &drivePath)) {
      pattern->hopeless = Widen("no drive holds it");
    } else if (!HasWildcard(drivePath) && !ExistsOnDisk(drivePath)) {
      pattern->hopeless = Widen("it does not exist");
    }
    return true;
  }
  for (const WString& part : SplitPath(typed, "/\\")) {
    if (part == Widen("..")) {
      *why = option + Widen(" '") + typed + Widen("': '..' would leave the source folder; give a full path");
      return false;
    }
    if (part != Widen(".")) pattern->parts.push_back(part);
  }
  if (pattern->parts.empty()) {
    *why = option + Widen(" '") + typed + Widen("' names no file or folder");
    return false;
  }
  const bool hasSeparator = typed.find_first_of(Widen("/\\")) != WString::npos;
  pattern->scope = hasSeparator ? ExclusionPattern::Scope::kBelowSource : ExclusionPattern::Scope::kName;
  return true;
}

ExclusionMatcher::ExclusionMatcher(const std::vector<ExclusionPattern>& patterns,
                                   const std::vector<WString>& sourceFolders,
                                   std::function<bool(const WString&)> isFolder)
    : patterns_(patterns), isFolder_(std::move(isFolder)), matched_(patterns.size(), 0) {
  for (const WString& folder : sourceFolders) sources_.push_back(SplitPath(folder, "\\"));
}

bool ExclusionMatcher::Excludes(const WString& drivePath) { return Apply(drivePath, -1); }

bool ExclusionMatcher::ExcludesFolder(const WString& drivePath) { return Apply(drivePath, 1); }

// `folderKnown`: 1 a folder, 0 not one, -1 not asked yet.
bool ExclusionMatcher::Apply(const WString& drivePath, int folderKnown) {
  if (patterns_.empty()) return false;
  const std::vector<WString> path = SplitPath(drivePath, "\\");
  bool excluded = false;
  for (std::size_t i = 0; i < patterns_.size(); ++i) {
    if (!patterns_[i].hopeless.empty() || !Matches(patterns_[i], path, drivePath, &folderKnown)) continue;
    ++matched_[i];
    excluded = true;
  }
  return excluded;
}

bool ExclusionMatcher::Matches(const ExclusionPattern& pattern, const std::vector<WString>& path,
                               const WString& drivePath, int* folderKnown) const {
  if (pattern.scope == ExclusionPattern::Scope::kFullPath) return MatchesAt(pattern, path, 0, drivePath, folderKnown);
  for (const std::vector<WString>& source : sources_) {
    if (source.size() >= path.size()) continue;
    bool below = true;
    for (std::size_t i = 0; below && i < source.size(); ++i) below = SameName(source[i], path[i]);
    if (!below) continue;
    if (pattern.scope == ExclusionPattern::Scope::kBelowSource) {
      if (MatchesAt(pattern, path, source.size(), drivePath, folderKnown)) return true;
      continue;
    }
    for (std::size_t start = source.size(); start < path.size(); ++start) {
      if (MatchesAt(pattern, path, start, drivePath, folderKnown)) return true;
    }
  }
  return false;
}

bool ExclusionMatcher::MatchesAt(const ExclusionPattern& pattern, const std::vector<WString>& path,
                                 std::size_t start, const WString& drivePath, int* folderKnown) const {
  if (start + pattern.parts.size() > path.size()) return false;
  for (std::size_t i = 0; i < pattern.parts.size(); ++i) {
    if (!MatchesName(path[start + i], pattern.parts[i])) return false;
  }
  return ItemFits(pattern, path, start + pattern.parts.size() - 1, drivePath, folderKnown);
}

// Whether the component at `last`, matched whole, is what the pattern may
// take: every component but the path's own last one is a folder.
bool ExclusionMatcher::ItemFits(const ExclusionPattern& pattern, const std::vector<WString>& path,
                                std::size_t last, const WString& drivePath, int* folderKnown) const {
  if (pattern.items == ExcludedItems::kAny) return true;
  const bool own = last + 1 == path.size();
  if (!own) return pattern.items == ExcludedItems::kFolders;
  if (*folderKnown < 0) *folderKnown = isFolder_ && isFolder_(drivePath) ? 1 : 0;
  return (*folderKnown == 1) == (pattern.items == ExcludedItems::kFolders);
}

std::vector<WString> ExclusionMatcher::Unmatched() const {
  std::vector<WString> lines;
  for (std::size_t i = 0; i < patterns_.size(); ++i) {
    if (matched_[i] != 0) continue;
    const ExclusionPattern& pattern = patterns_[i];
    WString line = pattern.option + Widen(" '") + pattern.typed + Widen("' matched nothing");
    if (!pattern.hopeless.empty()) line += Widen(": ") + pattern.hopeless;
    lines.push_back(line);
  }
  return lines;
}

}  // namespace qvtool
