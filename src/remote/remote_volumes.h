// The volume files of a remote archive, fetched as a reader needs them into
// a local cache folder of bounded size. The archive is opened in the cache
// folder; each volume file the container cannot open there is asked for
// through its missing-volume callback (QVS_PROGRESS_VOLUME_MISSING), and
// this class answers by fetching that file from the remote first. When the
// cache would hold more than its limit, the volumes fetched longest ago go
// (never the one just asked for), so a reader of a large archive keeps a
// few volumes on the local disk, not all. Given the order of the volumes
// (SetReadingOrder), a reader going through them in order gets the next
// ones fetched (a few at once) while it reads the one it asked for.
#ifndef QVBACKUP_REMOTE_REMOTE_VOLUMES_H_
#define QVBACKUP_REMOTE_REMOTE_VOLUMES_H_

#include <cstdint>
#include <deque>
#include <list>
#include <thread>
#include <vector>

#include "remote/rclone_remote.h"

namespace qv::remote {

class RemoteVolumes {
 public:
  // `cache`: a local folder (a drive path) only this reader uses; at most
  // `limit` volume files are kept in it (at least 1), and `ahead` more
  // fetched ahead.
  RemoteVolumes(RcloneRemote& remote, WString cache, std::size_t limit, std::size_t ahead = 1);
  // Removes the volumes it fetched.
  ~RemoteVolumes();
  RemoteVolumes(const RemoteVolumes&) = delete;
  RemoteVolumes& operator=(const RemoteVolumes&) = delete;

  // Fetches the file `name` of the remote into the cache, unless it is
  // there; false with the remote's error (reason() tells rclone's words).
  bool Fetch(const WString& name);

  // The volume files of each member, in volume order: once one is fetched
  // after the one before it, the `ahead` after it in its member are
  // fetched ahead, each on a thread of its own (with a copy of the remote:
  // one run of rclone at a time each).
  void SetReadingOrder(std::vector<std::vector<WString>> members);

  // The volume `name` of a member being sent lies on the remote under its
  // temporary name (SentName) until it is put in place: a read of the
  // member before then fetches it from there.
  void NoteSent(const WString& name);

  // The container's progress callback and its user value: a missing volume
  // whose path lies in the cache is fetched and tried again; anything else,
  // or a fetch that fails, gives up (ERROR_CANCELLED), the failure kept in
  // error() and reason().
  static LONGLONG Callback(DWORD code, ULONGLONG userValue, ULONGLONG volume, LONGLONG pathBuffer);
  ULONGLONG UserValue() { return static_cast<ULONGLONG>(reinterpret_cast<std::uintptr_t>(this)); }

  const WString& cache() const { return cache_; }
  DWORD error() const { return error_; }
  const WString& reason() const { return reason_; }
  // How many volume files were fetched, in all.
  std::size_t fetches() const { return fetches_; }

 private:
  // A volume being fetched ahead: its name, its thread, whether it came.
  struct Ahead {
    WString name;
    std::thread thread;
    bool fetched = false;
    DWORD error = 0;
    WString reason;
  };

  LONGLONG Answer(WCHAR* path);
  void MakeRoom(const WString& keep);
  bool TakeAhead(const WString& name);
  void DropAhead();
  void FetchAhead(const WString& after);
  bool PreviousIsHere(const WString& name) const;

  RcloneRemote& remote_;
  WString cache_;
  std::size_t limit_;
  std::deque<WString> held_;  // names in the cache, fetched first at the front
  std::size_t fetches_ = 0;
  std::vector<std::vector<WString>> order_;
  std::vector<WString> sent_;  // fetched from their temporary names
  std::size_t aheadLimit_;
  std::list<Ahead> ahead_;  // a list: each thread fills its own entry
  // What the fetch ahead of a volume met, when that volume was asked for.
  DWORD aheadError_ = 0;
  WString aheadReason_;
  DWORD error_ = 0;
  WString reason_;
};

}  // namespace qv::remote

#endif  // QVBACKUP_REMOTE_REMOTE_VOLUMES_H_
