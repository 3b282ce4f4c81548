// What the profile-driven commands (count, lst) share: the six categories,
// the partitions to scan, the exclusions, and the folder whose GpExt.xml
// says which extensions make up each category.
#ifndef QVBACKUP_TOOLS_PROFILE_OPTIONS_H_
#define QVBACKUP_TOOLS_PROFILE_OPTIONS_H_

#include <array>
#include <filesystem>

#include "console.h"
#include "options.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtool {

struct CategoryInfo {
  DWORD number;                              // as the engine numbers it, 1 to 6
  const char* name;                          // its group in GpExt.xml
  const char* option;                        // its word in --categories
  BOOL QV_ARCHIVE_PROFILE_BACKUP::*checked;  // its switch in a profile
};

// The categories in the engine's order.
extern const std::array<CategoryInfo, 6> kCategoryTable;

// Clears every switch of `profile`: no category, no Others, no age filter.
void ClearProfile(QV_ARCHIVE_PROFILE_BACKUP* profile);

// The drive letters of `text` ("ce", "C,E" or "C:E:"), upper case, each
// once, in the order given. False with the reason for anything else or
// for no letter at all.
bool ParsePartitions(const WString& text, WString* letters, WString* why);

// The drive path of a path as the user typed it: a drive path ("E:\x") is
// kept, anything else goes through the drive map. False with the reason
// when no drive holds it.
bool ToDrivePath(const WString& typed, WString* drivePath, WString* why);

// 0 when the drive path `path` is an existing folder; otherwise why not
// (ERROR_DIRECTORY for a file, the system's error when it is missing).
DWORD FolderProblem(const WString& path);

// Gives `engine` the exclusions of --exclude-dir, --exclude-file and
// --exclude-ext. Folders and files become drive paths; an --exclude-file
// without a separator ('/' or '\') is a file name matched in any folder,
// allowed only when `namesAllowed` (the list file has no use for names).
// Returns 0, or the exit status after saying what is wrong ("qvbackup:
// COMMAND: ...").
int ApplyExclusions(const char* command, const ParsedOptions& options, bool namesAllowed, CQVBackupEngine* engine);

// Makes the folder holding GpExt.xml (--groups DIR, else the folder of the
// program) the current folder while it lives: an engine made with a
// callback reads GpExt.xml from the current folder, whatever the drive map
// says. The folder that was current before comes back at destruction.
class GroupsFolder {
 public:
  GroupsFolder() = default;
  ~GroupsFolder();
  GroupsFolder(const GroupsFolder&) = delete;
  GroupsFolder& operator=(const GroupsFolder&) = delete;

  // False with the reason when the folder has no readable GpExt.xml or
  // cannot be entered.
  bool Enter(const ParsedOptions& options, WString* why);

 private:
  std::filesystem::path previous_;
};

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_PROFILE_OPTIONS_H_
