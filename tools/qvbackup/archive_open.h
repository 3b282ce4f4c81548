// Opening the archive a user names on the command line: ARCHIVE is the
// first volume file as it lies on disk (photos.QVA, photos.1.QVA when split,
// photos.exe when self-extracting). A chain is that base archive and the
// increments 1, 2... written beside it, up to the first one missing.
#ifndef QVBACKUP_TOOLS_ARCHIVE_OPEN_H_
#define QVBACKUP_TOOLS_ARCHIVE_OPEN_H_

#include <memory>
#include <vector>

#include "archive_members.h"
#include "console.h"
#include "options.h"
#include "qvbackup/qvstorage.h"
#include "remote_archive.h"
#include "volume_prompt.h"

namespace qvtool {

// Where an archive lies, as the library's description wants it.
struct ArchiveLocation {
  WString typed;      // ARCHIVE as typed (for messages)
  WString folder;     // drive path of the folder holding it
  WString name;       // the file stem, without the ".1" of a split archive
  WString extension;  // "QVA", "exe"...
  bool split = false;
  // A remote archive (rclone:REMOTE:PATH/FILE): `folder` is then its work
  // folder, where the volumes fetched lie.
  std::shared_ptr<RemoteReading> remote;
};

// Splits `typed` into folder, name and extension. False with the reason in
// `why` when it names no file ("photos" without an extension, a folder
// path) or no drive holds its folder. A remote archive's folder is left
// empty: RemoteReading gives it.
bool LocateArchive(const WString& typed, ArchiveLocation* location, WString* why);

// Opens the members of one archive, all with the same password: it is
// read (--password-file, --password-env, else a prompt on a terminal) the
// first time a member turns out to have one, and never otherwise.
class ArchiveOpener {
 public:
  ArchiveOpener(ArchiveLocation location, const ParsedOptions& options);

  // Opens member `increment` (0: the base) into `storage`, which must not
  // be open. False with error() and reason() saying why: the system's error
  // for a missing volume, ERROR_BAD_FORMAT for a file that is no archive
  // (or whose header is damaged), ERROR_WRONG_PASSWORD, ERROR_INVALID_PASSWORD
  // when a password is needed and none was given, ERROR_INVALID_NAME when
  // the file is an increment or a later volume rather than the base's first
  // volume.
  bool Open(DWORD increment, CQVStorage& storage);

  // What the chain of the opened base is on disk (read without the
  // password): the members that can be used, and what to say of the rest.
  ChainVerdict JudgeMembers();
  // The members to read: the usable ones, at least the base (a base whose
  // run never ended is read without its index).
  static DWORD MembersToRead(const ChainVerdict& verdict);

  const ArchiveLocation& location() const { return location_; }
  // The description of the archive's chain (no password): for InspectChain
  // and for writing members of the same form.
  QVS_ARCHIVE_INFO Description() const;
  // What each member of the chain is on disk, the base first.
  std::vector<MemberState> Members() const { return InspectMembers(Description()); }
  // The password members were opened with (empty: none was needed).
  const WString& password() const { return password_; }
  DWORD error() const { return error_; }
  const WString& reason() const { return reason_; }
  // What was said of members whose header is damaged though the password
  // opened their data (its check value does not match it): each is read,
  // and the command does not end with success. Each was also printed on
  // standard error as it was met.
  const std::vector<WString>& damagedHeaders() const { return damagedHeaders_; }
  // The volume file a member opened here needed and that could not be had
  // (volume_prompt.h), named as ARCHIVE was typed ("/b/home.3.QVA" beside
  // "/b/home.1.QVA"); empty while none was given up on.
  WString missingVolume() const;

 private:
  bool TryOpen(DWORD increment, bool split, CQVStorage& storage);
  bool ReadPasswordOnce();
  bool Failed(DWORD error, const WString& reason);

  ArchiveLocation location_;
  const ParsedOptions& options_;
  WString password_;
  bool passwordRead_ = false;
  DWORD error_ = 0;
  WString reason_;
  std::vector<WString> damagedHeaders_;
  MissingVolumes missingVolumes_;
};

// After `storage` failed to take the lock of archive `name` for `command`:
// says who holds it (kExitBusy) or why it could not be taken (kExitFailure).
int FailLocking(const char* command, const WString& name, CQVStorage& storage);

// Why an archive cannot be used, in words: the system's text, or ours for
// the archive's own errors.
WString ArchiveErrorText(DWORD error);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_ARCHIVE_OPEN_H_
