#include "control/restore_target.h"

namespace qv::control {

namespace {

WCHAR UpperAscii(WCHAR c) { return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 32) : c; }

bool EqualNoCase(WStringView a, WStringView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

bool IsDigits(WStringView text) {
  if (text.empty()) return false;
  for (WCHAR c : text) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

bool IsSafeComponent(WStringView component) {
  if (component.empty() || component == QVT(".") || component == QVT("..")) return false;
  for (WCHAR c : component) {
    if (c == u'/' || c == u':' || c == 0) return false;
  }
  return true;
}

// An increment part: a tag (no digits at its end is required) then digits.
bool IsIncrementPart(WStringView part) {
  std::size_t digits = part.size();
  while (digits > 0 && part[digits - 1] >= u'0' && part[digits - 1] <= u'9') --digits;
  return digits > 0 && digits < part.size();
}

}  // namespace

bool BuildRestoreTarget(WStringView root, WStringView path, WString* target) {
  if (path.size() < 4 || path[1] != u':' || path[2] != u'\\') return false;
  WCHAR letter = UpperAscii(path[0]);
  if (letter < u'A' || letter > u'Z') return false;
  WStringView rest = path.substr(3);
  for (std::size_t start = 0; start <= rest.size();) {
    std::size_t end = rest.find(u'\\', start);
    if (end == WStringView::npos) end = rest.size();
    if (!IsSafeComponent(rest.substr(start, end - start))) return false;
    start = end + 1;
  }
  WString base(root);
  while (base.size() > 3 && base.back() == u'\\') base.pop_back();
  if (base.empty() || base.back() != u'\\') base.push_back(u'\\');
  *target = base + QVT("Kelvar_") + WString(1, path[0]) + QVT("\\") + WString(rest);
  return true;
}

bool IsArchiveVolumeName(WStringView name, WStringView archiveName, WStringView extension) {
  if (name.size() <= archiveName.size() + 1) return false;
  if (!EqualNoCase(name.substr(0, archiveName.size()), archiveName) || name[archiveName.size()] != u'.') {
    return false;
  }
  WStringView rest = name.substr(archiveName.size() + 1);
  // The parts between dots: at most an increment part and a volume number,
  // in that order, then the extension.
  std::size_t dot = rest.rfind(u'.');
  WStringView last = dot == WStringView::npos ? rest : rest.substr(dot + 1);
  if (!EqualNoCase(last, extension) && !EqualNoCase(last, QVT("exe"))) return false;
  if (dot == WStringView::npos) return true;
  WStringView middle = rest.substr(0, dot);
  std::size_t split = middle.find(u'.');
  if (split == WStringView::npos) return IsDigits(middle) || IsIncrementPart(middle);
  WStringView first = middle.substr(0, split);
  WStringView second = middle.substr(split + 1);
  return IsIncrementPart(first) && IsDigits(second);
}

}  // namespace qv::control
