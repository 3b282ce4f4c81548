// The archive a backup writes, as the library describes it, and what its
// members hold once written: their indexes, read back through the backup
// control.
#ifndef QVBACKUP_TOOLS_BACKUP_ARCHIVE_H_
#define QVBACKUP_TOOLS_BACKUP_ARCHIVE_H_

#include <memory>

#include "console.h"
#include "qvbackup/qvbackupcontrol.h"
#include "qvbackup/qvstorage.h"

namespace qvtool {

// The texts an archive description points at, kept together so that the
// description stays valid as long as this object does.
struct ArchiveForm {
  WString folder;    // drive path
  WString name;
  WString password;  // empty: not encrypted
  WString sfxStub;   // drive path; empty: not self-extracting
  DWORD keyBits = 256;
  ULONGLONG volumeSize = QVS_NO_VOLUME_LIMIT;
  DWORD blockSize = QVS_DEFAULT_BLOCK_SIZE;
  bool compress = true;
  // The progress callback members are opened with (a remote archive's
  // fetches its missing volumes); null: none.
  QVFA_PROGRESSPROC progress = nullptr;
  ULONGLONG progressValue = 0;
  // Told of each volume the backup finishes (a remote archive's are sent
  // while the next is written); null: none.
  QVS_VOLUMEPROC volumeWritten = nullptr;
  ULONGLONG volumeWrittenValue = 0;

  // The description of this archive, to create it or to open its member
  // `increment`; it points into this object.
  QVS_ARCHIVE_INFO Describe(DWORD increment = 0) const;
};

// Opens member `increment` of the archive, reads its index (and metadata
// table) into a new backup control and closes the member again, leaving
// its files as they were (its header is not written again): the
// control then answers for its index (GetIndex, GetItemKind). Null with
// the last error when the member cannot be opened (ERROR_WRONG_PASSWORD,
// ERROR_FILE_NOT_FOUND, ERROR_BAD_FORMAT...) or its index cannot be read.
// `volumeSize`, when given, receives the member's volume size
// (QVS_NO_VOLUME_LIMIT when it is one file).
std::unique_ptr<CQVBackupControl> ReadMemberIndex(const ArchiveForm& form, DWORD increment,
                                                  ULONGLONG* volumeSize = nullptr);

// QVFA_ADD_EXACT_CASE where file names tell case apart, else 0: the flags
// that find a file's own entry when "a.txt" and "A.txt" are two files.
DWORD ExactNames();

// The entry of a member's index that saved the item `path`: present, not
// marked deleted (a file whose saving failed is) and holding something to
// restore (content, or a link, an empty folder, a further name). 0 when
// the member did not save it.
DWORD FindSavedEntry(CQVBackupControl& member, LPCWSTR path);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_BACKUP_ARCHIVE_H_
