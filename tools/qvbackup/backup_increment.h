// What the next increment of a chain holds: the files that are new, or
// whose size or last write time differ from their latest saved version in
// the base and the increments before. An increment records nothing about
// files deleted since: a restore of the chain brings them back.
#ifndef QVBACKUP_TOOLS_BACKUP_INCREMENT_H_
#define QVBACKUP_TOOLS_BACKUP_INCREMENT_H_

#include <memory>
#include <vector>

#include "backup_archive.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtool {

class SavedVersions {
 public:
  // Reads the index of every member 0 .. members - 1 of the archive. False,
  // with the member that failed in *failedMember and the last error set by
  // ReadMemberIndex, when one cannot be read. `volumeSize` receives the
  // base's volume size.
  bool Load(const ArchiveForm& form, DWORD members, DWORD* failedMember, ULONGLONG* volumeSize);

  // True when the newest member that saved `path` saved it with the name,
  // folder, size and last write time that entry `entry` of `current` has;
  // false for a file no member saved.
  bool IsUnchanged(LPCWSTR path, CQVFileArray& current, DWORD entry);

 private:
  std::vector<std::unique_ptr<CQVBackupControl>> members_;  // the base first
};

// Takes out of the engine's list every file that `versions` holds
// unchanged, and recounts the list's size. Returns how many were taken out.
ULONGLONG DropUnchangedFiles(CQVBackupEngine& engine, SavedVersions& versions);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_BACKUP_INCREMENT_H_
