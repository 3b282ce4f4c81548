// Putting a new archive in the place of an old one on a remote folder. A
// store renames one file at a time, so the old archive's volumes cannot be
// swapped for the new ones at once; instead the run first sends a record,
// NAME.qvcommit, naming the old files and the new ones, then moves every old
// file aside (NAME....qvold, the old first volume first), then renames the
// new files into place (their first volume last), and only then removes the
// old files and the record. A run that ends anywhere on the way leaves the
// record behind, and the next run that holds the archive's lock reads it
// and puts back whichever archive is whole: the new one once its first
// volume is in place, else the old one, from the files set aside.
#ifndef QVBACKUP_REMOTE_REMOTE_COMMIT_H_
#define QVBACKUP_REMOTE_REMOTE_COMMIT_H_

#include <vector>

#include "remote/rclone_remote.h"
#include "remote/remote_upload.h"

namespace qv::remote {

// The record of a replacement under way.
struct ReplaceRecord {
  std::vector<WString> old;     // the old archive's files, its first volume first
  std::vector<WString> placed;  // the new archive's files, in the order renamed: its first volume last
};

// The record's name for archive `name`, and its text.
WString RecordName(const WString& name);
std::string WriteRecord(const ReplaceRecord& record);
// False when `text` is not a record (nothing is then undone by it).
bool ReadRecord(const std::string& text, ReplaceRecord* record);

// Where an old file lies while it is set aside.
WString AsideName(const WString& name);

// Replaces the files `old` (the old archive's, its first volume first) by
// those `upload` sent, renamed in `order` (the new first volume last).
// `scratch` is a local folder (a drive path) for the record on its way. On
// failure the remote holds the record, and Recover puts things back.
bool Replace(RcloneRemote& remote, RemoteUpload& upload, const WString& name, const std::vector<WString>& old,
             const std::vector<WString>& order, const WString& scratch);

// What Recover did, for the run to tell.
struct Recovery {
  bool found = false;         // a record was there
  bool keptNew = false;       // the new archive was whole: the old files went
  std::vector<WString> removed;  // files removed, the record's own and leftovers
};

// Puts archive `name` back in order, as `files` (the folder's listing)
// shows it: finishes or undoes the replacement its record tells of, and
// removes what runs that did not end left on their way (remote_names.h).
// Must be called by the holder of the archive's lock. False with the
// remote's error; what was not done is done by the next try.
bool Recover(RcloneRemote& remote, const WString& name, const std::vector<RemoteFile>& files, Recovery* recovery);

}  // namespace qv::remote

#endif  // QVBACKUP_REMOTE_REMOTE_COMMIT_H_
