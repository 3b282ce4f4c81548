// How a restore recreates a file without ever leaving a half-written one
// under its name: the content goes to a new file of its own beside the
// target, which gets its size, times and attributes and only then takes the
// target's name in one rename. Until then an existing target is untouched;
// a replacement that is not committed is removed.
#ifndef QVBACKUP_SERVICES_REPLACEMENT_FILE_H_
#define QVBACKUP_SERVICES_REPLACEMENT_FILE_H_

#include <memory>

#include "platform/random_access_file.h"
#include "platform/text.h"
#include "services/backup_file_records.h"

namespace qv::services {

// A new name beside `target` in its folder ("~qv", 16 random hexadecimal
// digits, ".tmp"), for what is made there before it takes the target's name.
WString TemporaryPathBeside(const WString& target);

class ReplacementFile {
 public:
  ReplacementFile();
  // Removes the new file unless Commit succeeded; the last error is kept.
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates the folders missing on the way to `target`, then a new, empty
  // file beside it ("~qv" and 16 random hexadecimal digits, ".tmp"), open
  // for writing. False with the system's error.
  bool Create(const WCHAR* target);

  // The new file, positioned after what was written. Only after Create.
  platform::RandomAccessFile& File() { return *file_; }

  // Cuts the new file at its position, syncs it, closes it, gives it the times and
  // attributes of `description` and renames it over the target (an existing
  // read-only, hidden or system target is made writable first, and gets its
  // attributes back when the rename fails). False with the system's error;
  // the target is then as it was.
  bool Commit(const FileDescription& description);

 private:
  bool ReplaceTarget();

  WString target_;
  WString temporary_;
  std::unique_ptr<platform::RandomAccessFile> file_;
  bool committed_ = false;
};

}  // namespace qv::services

#endif  // QVBACKUP_SERVICES_REPLACEMENT_FILE_H_
