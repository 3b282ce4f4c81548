#include "engine/exclusions.h"

namespace qv::engine {

namespace {

constexpr WCHAR kSeparator = QVT('\\');
constexpr WCHAR kDot = QVT('.');

// `text` lowered, with the code units of `trailing` removed from its end
// and one `leading` code unit (0: none) removed from its start.
std::basic_string<WCHAR> Normalised(const CQVString& text, const WCHAR* trailing, WCHAR leading) {
  CQVString lowered = text;
  lowered.MakeLower();
  lowered.TrimRight(trailing);
  TextView view(lowered.GetString(), lowered.GetLength());
  if (leading != 0 && !view.empty() && view.front() == leading) view.remove_prefix(1);
  return std::basic_string<WCHAR>(view);
}

void AddNormalised(const CQVStringArray& source, const WCHAR* trailing, WCHAR leading,
                   std::vector<std::basic_string<WCHAR>>* target) {
  for (DWORD i = 0; i < source.GetSize(); ++i) {
    std::basic_string<WCHAR> element = Normalised(source.GetAt(i), trailing, leading);
    if (!element.empty()) target->push_back(std::move(element));
  }
}

}  // namespace

TextView LastComponent(TextView path) {
  std::size_t separator = path.rfind(kSeparator);
  return separator == TextView::npos ? path : path.substr(separator + 1);
}

TextView ExtensionOf(TextView path) {
  TextView name = LastComponent(path);
  std::size_t dot = name.rfind(kDot);
  return dot == TextView::npos ? TextView() : name.substr(dot + 1);
}

bool IsAtOrBelow(TextView path, TextView prefix) {
  if (prefix.empty() || path.size() < prefix.size()) return false;
  if (path.compare(0, prefix.size(), prefix) != 0) return false;
  return path.size() == prefix.size() || path[prefix.size()] == kSeparator;
}

ExclusionRules::ExclusionRules(const CQVStringArray& folders, const CQVStringArray& files,
                               const CQVStringArray& extensions) {
  AddNormalised(folders, QVT("\\"), 0, &m_vecPaths);
  AddNormalised(files, QVT("\\"), 0, &m_vecPaths);
  AddNormalised(extensions, QVT(""), kDot, &m_vecExtensions);
}

bool ExclusionRules::Excludes(const CQVString& path) const {
  CQVString lowered = path;
  lowered.MakeLower();
  return ExcludesLowered(TextView(lowered.GetString(), lowered.GetLength()));
}

bool ExclusionRules::ExcludesLowered(TextView loweredPath) const {
  for (const auto& excluded : m_vecPaths) {
    if (IsAtOrBelow(loweredPath, excluded)) return true;
  }
  TextView extension = ExtensionOf(loweredPath);
  if (extension.empty()) return false;
  for (const auto& excluded : m_vecExtensions) {
    if (extension == excluded) return true;
  }
  return false;
}

}  // namespace qv::engine
