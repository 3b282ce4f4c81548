#include "control/restore_folders.h"

#include <cstddef>

namespace qv::control {

RestoreFolders::RestoreFolders(WString root, std::set<WString>* made) : root_(std::move(root)), made_(made) {}

const platform::ConfinedFolder* RestoreFolders::Root(bool create) {
  if (!rootFolder_) rootFolder_ = platform::ConfinedFolder::OpenRoot(root_.c_str(), create);
  return rootFolder_.get();
}

const platform::ConfinedFolder* RestoreFolders::Open(const std::vector<WString>& names, bool create) {
  const platform::ConfinedFolder* folder = Root(create);
  if (folder == nullptr) return nullptr;
  // What the chain shares with `names` is open already; the rest of it goes.
  std::size_t kept = 0;
  while (kept < chain_.size() && kept < names.size() && chain_[kept].first == names[kept]) ++kept;
  chain_.erase(chain_.begin() + static_cast<std::ptrdiff_t>(kept), chain_.end());
  if (kept != 0) folder = chain_.back().second.get();
  for (std::size_t i = kept; i < names.size(); ++i) {
    // Opened first as it is, so that what is made here is known.
    std::unique_ptr<platform::ConfinedFolder> next = folder->OpenFolder(names[i], false);
    if (!next && create && GetLastError() == ERROR_PATH_NOT_FOUND) {
      next = folder->OpenFolder(names[i], true);
      if (next) made_->insert(next->Path());
    }
    if (!next) return nullptr;
    folder = next.get();
    chain_.emplace_back(names[i], std::move(next));
  }
  return folder;
}

std::unique_ptr<platform::ConfinedFolder> RestoreFolders::OpenApart(const std::vector<WString>& names) {
  const platform::ConfinedFolder* root = Root(false);
  if (root == nullptr) return nullptr;
  if (names.empty()) return platform::ConfinedFolder::OpenRoot(root_.c_str(), false);
  std::unique_ptr<platform::ConfinedFolder> folder = root->OpenFolder(names[0], false);
  for (std::size_t i = 1; folder && i < names.size(); ++i) folder = folder->OpenFolder(names[i], false);
  return folder;
}

}  // namespace qv::control
