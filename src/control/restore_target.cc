#include "control/restore_target.h"

namespace qv::control {

namespace {

WCHAR UpperAscii(WCHAR c) { return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - 32) : c; }

bool IsSafeComponent(WStringView component) {
  if (component.empty() || component == QVT(".") || component == QVT("..")) return false;
  for (WCHAR c : component) {
    if (c == u'/' || c == u':' || c == 0) return false;
  }
  return true;
}

// The root as targets begin with it, its own separator included.
WString RootBase(WStringView root) {
  WString base(root);
  while (base.size() > 3 && base.back() == u'\\') base.pop_back();
  if (base.empty() || base.back() != u'\\') base.push_back(u'\\');
  return base;
}

// A drive letter, ":\", then components that are all safe.
bool IsSafeStoredPath(WStringView path) {
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
  return true;
}

}  // namespace

bool BuildRestoreTarget(WStringView root, WStringView path, WString* target) {
  if (!IsSafeStoredPath(path)) return false;
  *target = RootBase(root) + QVT("Kelvar_") + WString(1, path[0]) + QVT("\\") + WString(path.substr(3));
  return true;
}

bool BuildOriginalTarget(WStringView path, WString* target) {
  if (!IsSafeStoredPath(path)) return false;
  *target = WString(path);
  return true;
}

bool NamesBelowRoot(WStringView root, WStringView path, std::vector<WString>* names) {
  const WString base = RootBase(root);
  names->clear();
  if (path == base || (path.size() + 1 == base.size() && base.compare(0, path.size(), path) == 0)) return true;
  if (path.size() < base.size() || path.compare(0, base.size(), base) != 0) return false;
  for (std::size_t start = base.size(); start <= path.size();) {
    std::size_t end = path.find(u'\\', start);
    if (end == WStringView::npos) end = path.size();
    names->emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

}  // namespace qv::control
