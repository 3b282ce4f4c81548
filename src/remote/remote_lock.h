// One writer per archive on a remote folder, as NAME.qvlock is beside a
// local one. A remote store has no lock of its own, so each run that
// wants the archive puts a lock file of its own there, NAME.qvlock-TOKEN
// (its text says which run it is), then lists the folder: it holds the
// archive when its lock is the only one, and otherwise takes its lock back
// and leaves the archive alone. Two runs that come at once may both leave
// it; they can never both hold it, the store answering each listing with
// what was there before it.
//
// A run that dies holding the lock leaves its file behind. The next run of
// the same machine sees that its process is gone and removes it; a run of
// another machine is told which file, and who put it there, to remove it
// once sure no run is using the archive.
#ifndef QVBACKUP_REMOTE_REMOTE_LOCK_H_
#define QVBACKUP_REMOTE_REMOTE_LOCK_H_

#include <vector>

#include "remote/rclone_remote.h"

namespace qv::remote {

class RemoteLock {
 public:
  // The lock of archive `name` in `remote`'s folder; `scratch` is a local
  // folder (a drive path) where the lock file is written before it is sent.
  RemoteLock(RcloneRemote& remote, WString name, WString scratch);
  // Gives the lock back if it is held.
  ~RemoteLock();
  RemoteLock(const RemoteLock&) = delete;
  RemoteLock& operator=(const RemoteLock&) = delete;

  // False with ERROR_BUSY when another run holds the archive (holder() and
  // heldBy() then tell), or with the remote's error.
  bool Acquire();
  // Takes the lock file back; true when nothing is held.
  bool Release();

  bool held() const { return held_; }
  // The other run's lock file, and what it says of that run.
  const WString& heldBy() const { return heldBy_; }
  const WString& holder() const { return holder_; }
  // The locks of runs of this machine that had died, removed by Acquire:
  // each file's name and what it said.
  struct StaleLock {
    WString file;
    WString holder;
  };
  const std::vector<StaleLock>& removedStale() const { return removedStale_; }

 private:
  RcloneRemote& remote_;
  WString name_;
  WString scratch_;
  WString lockName_;
  bool held_ = false;
  WString heldBy_;
  WString holder_;
  std::vector<StaleLock> removedStale_;
};

// Whether `file` is a lock of archive `name`: NAME.qvlock-TOKEN (not a part
// of one being sent).
bool IsLockOf(const WString& file, const WString& name);

}  // namespace qv::remote

#endif  // QVBACKUP_REMOTE_REMOTE_LOCK_H_
