// Sending the files of a new archive (or a new member of a chain) to a
// remote folder while the next one is written: each finished local file is
// queued, sent whole as NAME.qvnew on a thread of its own and removed
// locally once there, so the local disk holds no more than a few files
// whatever the archive's size. Nothing sent passes for an archive until
// Commit renames every NAME.qvnew to NAME, in the order given (the first
// volume of the base last: until then the previous archive stands);
// Abandon takes back what was sent.
#ifndef QVBACKUP_REMOTE_REMOTE_UPLOAD_H_
#define QVBACKUP_REMOTE_REMOTE_UPLOAD_H_

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "remote/rclone_remote.h"

namespace qv::remote {

class RemoteUpload {
 public:
  // At most `pending` files wait to be sent (at least 1): Queue waits for
  // room beyond that. `senders` files are sent at once (at least 1), each
  // by a run of rclone of its own, as rclone copy sends several.
  RemoteUpload(RcloneRemote& remote, std::size_t pending, std::size_t senders = 1);
  // Abandons what was not committed.
  ~RemoteUpload();
  RemoteUpload(const RemoteUpload&) = delete;
  RemoteUpload& operator=(const RemoteUpload&) = delete;

  // Queues the local file `local` (a drive path) to be sent as `name`.
  // False when a send has failed already (the failure: error(), reason()).
  bool Queue(const WString& local, const WString& name);
  // Waits until everything queued is sent; false with the first failure.
  bool Finish();
  // Waits at most `timeout` for everything queued to be sent, or a send to
  // fail: true when either happened (Finish then tells which).
  bool Wait(std::chrono::milliseconds timeout);
  // Renames each sent file from NAME.qvnew to NAME, in `order` (names
  // sent), the last one only once all the others are in place (the others
  // a few at once); false when a rename fails (the last one is then not
  // made). Nothing is renamed
  // over a file already there (ERROR_ALREADY_EXISTS): a rename that
  // replaced a volume of the previous archive would leave it half old,
  // half new, should the run end before the last rename.
  bool Commit(const std::vector<WString>& order);
  // Removes every file sent and not committed; local files not sent yet
  // are left to the caller.
  void Abandon();

  // The first failure; asked while senders still run, too.
  DWORD error() const {
    std::lock_guard<std::mutex> hold(lock_);
    return error_;
  }
  WString reason() const {
    std::lock_guard<std::mutex> hold(lock_);
    return reason_;
  }
  // Bytes sent so far (for progress).
  ULONGLONG bytesSent() const;

 private:
  struct Item {
    WString local;
    WString name;
  };
  void Work(RcloneRemote remote);
  bool RenameAll(const std::vector<WString>& names);

  RcloneRemote& remote_;
  std::size_t pending_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Item> queue_;
  std::size_t sending_ = 0;
  bool stop_ = false;
  std::vector<WString> sent_;  // names sent under NAME.qvnew
  ULONGLONG bytes_ = 0;
  DWORD error_ = 0;
  WString reason_;
  std::size_t senders_;
  std::vector<std::thread> workers_;
};

// NAME.qvnew: where a file of a new archive lies until Commit renames it.
WString SentName(const WString& name);

}  // namespace qv::remote

#endif  // QVBACKUP_REMOTE_REMOTE_UPLOAD_H_
