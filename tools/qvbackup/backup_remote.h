// A backup to a remote folder (--to rclone:REMOTE:PATH): the member's
// volumes are sent under temporary names as they are written in the local
// work folder, the first one (its header written last) once the member is
// read back, and all are renamed into place (the first volume last), in
// the place of the previous archive when it is a new base
// (remote_commit.h).
#ifndef QVBACKUP_TOOLS_BACKUP_REMOTE_H_
#define QVBACKUP_TOOLS_BACKUP_REMOTE_H_

#include <algorithm>
#include <cstdint>
#include <vector>

#include "backup_volumes.h"
#include "console.h"
#include "remote/remote_upload.h"
#include "remote_archive.h"

namespace qvtool {

// What a remote folder should hold of archive `name` before a base is put
// in its place: its volume files, the base's first volume first.
std::vector<WString> OldArchiveFiles(const std::vector<qv::remote::RemoteFile>& files, const WString& name);

// The volumes of the member a backup writes to the work folder of
// `remote` (which holds the archive's lock), sent as the library finishes
// them while the next ones are written: the work folder holds a few
// volumes at a time whatever the member's size. Each lies on the remote
// under its temporary name until SendMember puts the member in place;
// what was sent and not put in place is removed again when this object
// dies.
class MemberSending {
 public:
  MemberSending(RemoteReading& remote, WString name, const volatile BOOL* cancel);
  ~MemberSending();
  MemberSending(const MemberSending&) = delete;
  MemberSending& operator=(const MemberSending&) = delete;

  // The library's volume-written callback (QVS_VOLUMEPROC) and its value:
  // the volume is queued to be sent and taken from the library; a send
  // that failed already fails the archive with its error.
  static DWORD Taken(ULONGLONG userValue, DWORD volume, LPCWSTR path);
  ULONGLONG UserValue() { return static_cast<ULONGLONG>(reinterpret_cast<std::uintptr_t>(this)); }

  // The most the work folder holds at once of a member in volumes of
  // `volumeSize` bytes: those being sent or waiting, the one just finished
  // (the library waits while it is offered), the first (written last) and
  // the one being written.
  static ULONGLONG LocalRoom(ULONGLONG volumeSize);

  // Waits, drawing a bar when asked, until every volume taken so far is
  // on the remote; false when a send failed.
  bool WaitForSent(bool showProgress);

  // The volumes taken, in the order the library finished them.
  const std::vector<VolumeFile>& taken() const { return taken_; }
  bool WasTaken(const WString& fileName) const {
    return std::any_of(taken_.begin(), taken_.end(), [&](const VolumeFile& volume) { return volume.fileName == fileName; });
  }
  ULONGLONG takenBytes() const { return takenBytes_; }
  qv::remote::RemoteUpload& upload() { return upload_; }
  RemoteReading& remote() { return remote_; }
  const WString& name() const { return name_; }
  const volatile BOOL* cancel() const { return cancel_; }

 private:
  DWORD Take(LPCWSTR path);

  RemoteReading& remote_;
  WString name_;
  const volatile BOOL* cancel_;
  qv::remote::RemoteUpload upload_;
  std::vector<VolumeFile> taken_;
  ULONGLONG takenBytes_ = 0;
};

struct MemberToSend {
  std::vector<VolumeFile> volumes;   // every volume, in volume order: in the work folder, or taken
  bool increment = false;            // a new member of the remote chain, not a new base
  bool showProgress = false;         // a bar on the terminal
};

// Sends what is left of `member` from the work folder and puts it in
// place. -1 when it is there; else the exit status, after saying why (the
// previous archive is then as it was).
int SendMember(MemberSending& sending, const MemberToSend& member);

// Says why the volumes taken could not be sent (the archive was given up
// for it); the exit status.
int FailSending(MemberSending& sending);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_BACKUP_REMOTE_H_
