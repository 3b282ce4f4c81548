// The folders a restore writes into below its root, each reached from the
// root one name at a time without following a link (platform
// ConfinedFolder). The chain of folders down to the last one asked for is
// kept open: the files of one folder, and of the folders next to it, are
// restored without walking again.
#ifndef QVBACKUP_CONTROL_RESTORE_FOLDERS_H_
#define QVBACKUP_CONTROL_RESTORE_FOLDERS_H_

#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/confined_folder.h"
#include "platform/text.h"

namespace qv::control {

class RestoreFolders {
 public:
  // Folders below `root`, the folder the user named (itself reached as
  // named, links on its way followed). The drive paths of the folders Open
  // makes go into `made`, which must outlive the object.
  RestoreFolders(WString root, std::set<WString>* made);

  // The folder `names` below the root (none: the root itself), with
  // `create` made when missing, the root included. Null with the last error:
  // ERROR_STOPPED_ON_SYMLINK when the root's own folders, or any of the
  // names, is a link, junction or reparse point; see ConfinedFolder. Valid
  // until the next call of Open.
  const platform::ConfinedFolder* Open(const std::vector<WString>& names, bool create);

  // Whether the folder of drive path `path` below the root was made by
  // Open (it was missing when first reached).
  bool Made(const WString& path) const { return made_->count(path) != 0; }

  // The same folder, walked apart from the chain that stays open, for a
  // second folder used at the same time as the one Open gave.
  std::unique_ptr<platform::ConfinedFolder> OpenApart(const std::vector<WString>& names);

 private:
  const platform::ConfinedFolder* Root(bool create);

  WString root_;
  std::unique_ptr<platform::ConfinedFolder> rootFolder_;
  std::vector<std::pair<WString, std::unique_ptr<platform::ConfinedFolder>>> chain_;  // from the root down
  std::set<WString>* made_;
};

}  // namespace qv::control

#endif  // QVBACKUP_CONTROL_RESTORE_FOLDERS_H_
