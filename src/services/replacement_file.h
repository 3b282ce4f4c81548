// How a restore recreates a file without ever leaving a half-written one
// under its name: the content goes to a new file of its own beside the
// target, in the target's folder, which gets its size, times and
// attributes and only then takes the target's name in one rename. Until
// then an existing target is untouched; a replacement that is not
// committed is removed. Everything happens in the folder held open by the
// caller, never through a path parsed again, so a link planted on the way
// cannot lead the file elsewhere.
#ifndef QVBACKUP_SERVICES_REPLACEMENT_FILE_H_
#define QVBACKUP_SERVICES_REPLACEMENT_FILE_H_

#include <memory>

#include "platform/confined_folder.h"
#include "platform/posix_metadata.h"
#include "platform/random_access_file.h"
#include "platform/text.h"
#include "services/backup_file_records.h"

namespace qv::services {

// A new name for what is made in a folder before it takes another's name:
// "~qv", 16 random hexadecimal digits, ".tmp".
WString TemporaryName();

// What a replacement does with an item already under the target's name.
enum class ExistingTarget {
  kReplace,       // replaces it, whatever it is (a folder cannot be replaced)
  kKeep,          // keeps it, whatever it is
  kReplaceOlder,  // replaces a file or link last written before the saved
                  // time; keeps anything else (a folder among them)
};

// Whether `existing` (an item's information, not followed through a link)
// is kept by `rule` for a file saved with the last write time `saved`.
bool KeepsExisting(ExistingTarget rule, const platform::FileInformation& existing, const FILETIME& saved);

class ReplacementFile {
 public:
  // The replacement of the item `name` of `folder`, which must outlive the
  // object; `rule` says what becomes of an item already named `name`.
  ReplacementFile(const platform::ConfinedFolder& folder, WString name,
                  ExistingTarget rule = ExistingTarget::kReplace);
  // Removes the new file unless Commit succeeded; the last error is kept.
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates a new, empty file under a temporary name in the folder, open
  // for writing and, on POSIX, readable by its owner only (0600 whatever
  // the umask) until Commit. False with the system's error.
  bool Create();

  // The new file, positioned after what was written. Only after Create.
  platform::RandomAccessFile& File() { return *file_; }

  // Syncs the new file as it was written (a writer that leaves a hole at
  // its end sets its size itself), gives it what it had, closes it and
  // renames it over the target (an existing read-only, hidden or system
  // target that stops the rename is made writable and the rename tried
  // again; it gets its attributes back when that fails too). What it had:
  // with `metadata` on a system that keeps it, the saved owner, mode,
  // extended attributes and times, given through the open file so that it
  // takes its name whole (MetadataGiven(), MetadataNotSet()); what that did
  // not give (and everything without it) comes from `description`: its
  // times, and its attributes (POSIX: the mode of a new file of the process,
  // 0666 less the umask, or its owner's only when `metadata` was to give
  // one; read-only takes the write permissions away). False with the
  // system's error; the target is then as it was. Under a rule other than
  // kReplace an item that the rule keeps makes it false with
  // ERROR_FILE_EXISTS and LeftAlone() true; kKeep renames without
  // replacing, so an item that appears meanwhile is kept too
  // (kReplaceOlder looks at the item just before the rename).
  bool Commit(const FileDescription& description, const platform::PosixMetadata* metadata = nullptr);

  // Whether the item now under the target's name is one the rule keeps,
  // for a file saved with the last write time `saved` (nothing there:
  // false). The last error is left as it was.
  bool TargetIsKept(const FILETIME& saved) const;
  // Whether Commit found the existing item kept.
  bool LeftAlone() const { return leftAlone_; }
  // Whether Commit gave the file its saved metadata, and the bits of what
  // it could not give back (see ApplyPosixMetadata).
  bool MetadataGiven() const { return metadataGiven_; }
  DWORD MetadataNotSet() const { return metadataNotSet_; }

 private:
  bool ReplaceTarget();
  bool TakeName(const FileDescription& description);

  const platform::ConfinedFolder& folder_;
  WString name_;
  ExistingTarget rule_;
  bool leftAlone_ = false;
  bool metadataGiven_ = false;
  DWORD metadataNotSet_ = 0;
  WString temporary_;
  std::unique_ptr<platform::RandomAccessFile> file_;
  bool committed_ = false;
};

}  // namespace qv::services

#endif  // QVBACKUP_SERVICES_REPLACEMENT_FILE_H_
