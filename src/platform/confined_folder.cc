// What the confined folders of both platforms share: names and paths.
#include "platform/confined_folder.h"

namespace qv::platform {

namespace {

bool IsSeparator(WCHAR c) { return c == u'\\' || c == u'/'; }

}  // namespace

bool ConfinedFolder::IsPlainName(WStringView name) {
  if (name.empty() || name == QVT(".") || name == QVT("..")) return false;
  for (WCHAR c : name) {
    if (IsSeparator(c) || c == 0) return false;
  }
  return true;
}

WString ConfinedFolder::TrimmedRoot(const WCHAR* root) {
  WString path(root);
  while (path.size() > 1 && IsSeparator(path.back()) && !(path.size() == 3 && path[1] == u':')) path.pop_back();
  return path;
}

WString ConfinedFolder::PathOf(WStringView name) const {
  WString path = path_;
  if (path.empty() || !IsSeparator(path.back())) path.push_back(u'\\');
  return path.append(name);
}

}  // namespace qv::platform
