// The end of a backup to a remote folder (--to rclone:REMOTE:PATH): the
// member written and read back in the local work folder is sent, under
// temporary names, and renamed into place (its first volume last), in the
// place of the previous archive when it is a new base (remote_commit.h).
#ifndef QVBACKUP_TOOLS_BACKUP_REMOTE_H_
#define QVBACKUP_TOOLS_BACKUP_REMOTE_H_

#include <vector>

#include "backup_volumes.h"
#include "console.h"
#include "remote_archive.h"

namespace qvtool {

// What a remote folder should hold of archive `name` before a base is put
// in its place: its volume files, the base's first volume first.
std::vector<WString> OldArchiveFiles(const std::vector<qv::remote::RemoteFile>& files, const WString& name);

struct MemberToSend {
  WString name;                      // the archive's
  std::vector<VolumeFile> volumes;   // in the work folder, in volume order
  bool increment = false;            // a new member of the remote chain, not a new base
  bool showProgress = false;         // a bar on the terminal
};

// Sends `member` from the work folder of `remote` (which holds the
// archive's lock) and puts it in place. -1 when it is there; else the exit
// status, after saying why (the previous archive is then as it was).
int SendMember(RemoteReading& remote, const MemberToSend& member, const volatile BOOL* cancel);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_BACKUP_REMOTE_H_
