#include "path_patterns.h"

#include <algorithm>

#include "name_match.h"
#include "report.h"

namespace qvtool {

namespace {

bool IsSeparator(WCHAR c) { return c == '\\' || c == '/'; }

WCHAR UpperAscii(WCHAR c) { return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c; }

bool IsDriveForm(const WString& text) {
  return text.size() >= 2 && text[1] == ':' && UpperAscii(text[0]) >= 'A' && UpperAscii(text[0]) <= 'Z';
}

// The names of `path` from `from` on, empty ones (doubled or trailing
// separators) left out.
std::vector<WString> NamesOf(const WString& path, std::size_t from) { return SplitPath(path.substr(from), "/\\"); }

}  // namespace

bool PathPattern::Parse(const WString& typed, PathPattern* pattern, WString* why) {
  pattern->typed_ = typed;
  pattern->anchored_ = false;
  pattern->drive_ = 0;
  WString drivePath;
  if (IsDriveForm(typed)) {
    drivePath = typed;
  } else if (IsSeparator(typed[0])) {
    drivePath = DrivePathOf(typed);
    if (drivePath.empty()) {
      *why = Widen("no drive holds it");
      return false;
    }
  }
  if (drivePath.empty()) {
    pattern->names_ = NamesOf(typed, 0);
    if (pattern->names_.empty()) {
      *why = Widen("a PATTERN needs a name");
      return false;
    }
    return true;
  }
  pattern->anchored_ = true;
  pattern->drive_ = UpperAscii(drivePath[0]);
  pattern->names_ = NamesOf(drivePath, 2);
  return true;
}

bool PathPattern::Selects(const WString& path) const {
  if (!IsDriveForm(path)) return false;
  const std::vector<WString> names = NamesOf(path, 2);
  const auto matchesAt = [&](std::size_t at) {
    for (std::size_t i = 0; i < names_.size(); ++i) {
      if (!MatchesName(names[at + i], names_[i])) return false;
    }
    return true;
  };
  if (names_.size() > names.size()) return false;
  if (anchored_) return UpperAscii(path[0]) == drive_ && matchesAt(0);
  for (std::size_t at = 0; at + names_.size() <= names.size(); ++at) {
    if (matchesAt(at)) return true;
  }
  return false;
}

std::vector<bool> KeepSelected(const std::vector<PathPattern>& patterns, std::vector<SavedFile>* view) {
  std::vector<bool> used(patterns.size(), false);
  if (patterns.empty()) return used;
  std::vector<SavedFile> kept;
  for (SavedFile& file : *view) {
    bool selected = false;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
      if (patterns[i].Selects(file.path)) used[i] = selected = true;
    }
    if (selected) kept.push_back(std::move(file));
  }
  *view = std::move(kept);
  return used;
}

bool SelectOrSay(const std::vector<PathPattern>& patterns, const WString& archive, std::vector<SavedFile>* view) {
  const std::vector<bool> used = KeepSelected(patterns, view);
  bool unmatched = false;
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    if (used[i]) continue;
    FailBecause(patterns[i].typed(), Widen("matches nothing in ") + archive);
    unmatched = true;
  }
  return unmatched;
}

bool ReadPatterns(const char* command, const std::vector<WString>& typed, std::vector<PathPattern>* patterns,
                  int* status) {
  for (const WString& text : typed) {
    PathPattern pattern;
    WString why;
    if (!PathPattern::Parse(text, &pattern, &why)) {
      *status = UsageError(command, text + Widen(": ") + why);
      return false;
    }
    patterns->push_back(std::move(pattern));
  }
  return true;
}

}  // namespace qvtool
