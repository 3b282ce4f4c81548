#include "name_match.h"

#include <cstring>

#include "qvbackup/host.h"

namespace qvtool {

namespace {

// Characters rather than code units, so that '?' takes a whole one.
std::u32string CodePoints(const WString& text) {
  std::u32string points;
  points.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      points.push_back(0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00));
    } else {
      points.push_back(c);
    }
  }
  return points;
}

// Letter case as the rest of the program folds it: the ASCII letters.
char32_t Folded(char32_t c, bool ignoreCase) {
  return ignoreCase && c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

}  // namespace

bool NamesIgnoreCase() {
  static const bool ignoreCase = QVFileNamesIgnoreCase() != FALSE;
  return ignoreCase;
}

bool SameName(const WString& a, const WString& b) {
  if (a.size() != b.size()) return false;
  const bool ignoreCase = NamesIgnoreCase();
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Folded(a[i], ignoreCase) != Folded(b[i], ignoreCase)) return false;
  }
  return true;
}

bool MatchesName(const WString& nameText, const WString& patternText) {
  const std::u32string name = CodePoints(nameText);
  const std::u32string pattern = CodePoints(patternText);
  const bool ignoreCase = NamesIgnoreCase();
  // The last '*' seen and where in the name it was tried: on a mismatch it
  // takes one character more. Earlier stars never need to be retried.
  std::size_t n = 0;
  std::size_t p = 0;
  std::size_t star = std::u32string::npos;
  std::size_t resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || Folded(pattern[p], ignoreCase) == Folded(name[n], ignoreCase))) {
      ++p;
      ++n;
    } else if (star != std::u32string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool HasWildcard(const WString& text) { return text.find_first_of(Widen("*?")) != WString::npos; }

std::vector<WString> SplitPath(const WString& path, const char* separators) {
  std::vector<WString> components;
  WString current;
  for (WCHAR c : path) {
    if (c < 0x80 && c != 0 && std::strchr(separators, static_cast<char>(c)) != nullptr) {
      if (!current.empty()) components.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) components.push_back(current);
  return components;
}

}  // namespace qvtool
