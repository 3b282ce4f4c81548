// What the next increment of a chain holds: the files that are new, or
// whose size or last write time differ from their version in the state of
// the chain as of its last member; and its record of the state of the
// selection: which items of earlier members still exist (those not saved
// again), so that files deleted or renamed since are not brought back.
#ifndef QVBACKUP_TOOLS_BACKUP_INCREMENT_H_
#define QVBACKUP_TOOLS_BACKUP_INCREMENT_H_

#include <memory>
#include <vector>

#include "backup_archive.h"
#include "qvbackup/qvbackupengine.h"
#include "saved_files.h"

namespace qvtool {

class SavedVersions {
 public:
  // Reads the index of every member 0 .. members - 1 of the archive and
  // the state of the chain as of the last. False, with the member that
  // failed in *failedMember and the last error set by ReadMemberIndex, when
  // one cannot be read. `volumeSize` receives the base's volume size.
  bool Load(const ArchiveForm& form, DWORD members, DWORD* failedMember, ULONGLONG* volumeSize);

  // The item the chain holds for `path` as of its last member, or null.
  const SavedFile* Find(const WString& path) const { return FindInView(state_, path); }

  // True when the chain holds `path` with the name, folder, size and last
  // write time that entry `entry` of `current` has; false for a file it
  // does not hold.
  bool IsUnchanged(const SavedFile& saved, CQVFileArray& current, DWORD entry);

  // How many items the chain holds as of its last member.
  std::size_t held() const { return state_.size(); }

 private:
  std::vector<std::unique_ptr<CQVBackupControl>> members_;  // the base first
  std::vector<SavedFile> state_;
};

// What the next increment records of the state, besides what it saves.
struct IncrementPlan {
  ULONGLONG unchanged = 0;             // files taken out of the list
  std::vector<QVBC_KEPT_ENTRY> kept;   // items of earlier members that still exist
  ULONGLONG gone = 0;                  // items the chain held that no longer exist
};

// Takes out of the engine's list every file that `versions` holds
// unchanged, and recounts the list's size. Every listed path the chain
// holds is kept (a file saved again overrides it; one whose saving fails
// keeps its last version); the rest of what it held is gone.
IncrementPlan PlanIncrement(CQVBackupEngine& engine, SavedVersions& versions);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_BACKUP_INCREMENT_H_
