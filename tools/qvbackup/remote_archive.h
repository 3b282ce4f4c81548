// Archives kept on a remote store through rclone: wherever qvbackup takes
// an archive's folder or an archive, "rclone:REMOTE:PATH" names a folder of
// one of the user's rclone remotes (rclone:REMOTE:PATH/NAME.QVA an archive
// there). The commands work on a local work folder: a reader gets there the
// first and last volume of each member of the chain (the headers and the
// indexes lie there) and the others one by one as the library asks for
// them, a few at a time; a backup writes its new member there and sends it.
#ifndef QVBACKUP_TOOLS_REMOTE_ARCHIVE_H_
#define QVBACKUP_TOOLS_REMOTE_ARCHIVE_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "backup_volumes.h"
#include "console.h"
#include "options.h"
#include "remote/rclone_remote.h"
#include "remote/remote_lock.h"
#include "remote/remote_volumes.h"

namespace qvtool {

// Whether `typed` is the remote form "rclone:..." (its folder then in
// *folder, "REMOTE:PATH"). A local path never begins so on Windows, and
// "./rclone:x" names a local folder of that name on POSIX.
bool IsRemoteForm(const WString& typed, WString* folder = nullptr);

// Splits "rclone:REMOTE:PATH/FILE" into its folder ("REMOTE:PATH") and the
// file's name; false when no file is named.
bool SplitRemoteFile(const WString& typed, WString* folder, WString* fileName);

// The rclone to run: --rclone PATH, else "rclone" on the PATH. False, after
// saying so (how to install it, or that PATH is no program), when there is
// none; `command` names the command in the message.
bool FindRclone(const ParsedOptions& options, const char* command, WString* program);

// A local folder for the work on a remote archive, made private and
// removed with everything in it when the object dies.
class WorkFolder {
 public:
  WorkFolder() = default;
  ~WorkFolder();
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  // False with the system's error.
  bool Create();
  const WString& path() const { return path_; }  // a drive path

 private:
  WString path_;
};

// The volume files of archive `name` among a remote folder's files.
std::vector<VolumeFile> RemoteVolumesOf(const std::vector<qv::remote::RemoteFile>& files, const WString& name);

// A remote archive's chain, as a reader (or a backup adding an increment)
// sees it in its work folder.
class RemoteReading {
 public:
  // `typed` is how the user named the archive or its folder (for messages).
  RemoteReading(WString program, WString folder, WString typed);
  RemoteReading(const RemoteReading&) = delete;
  RemoteReading& operator=(const RemoteReading&) = delete;

  // Makes the work folder. False, after saying why, when it cannot be made.
  bool Prepare();
  // Takes the lock of archive `name` for as long as this object lives (a
  // backup's). False, after saying why (ERROR_BUSY: another run holds it).
  bool Lock(const WString& name);

  // Lists the folder (putting in order an archive an interrupted backup
  // left half replaced; under the lock, also clearing what runs that did
  // not end left), and with `fetchChain` fetches the first and last volume
  // of each member of the chain of archive `name` into the work folder.
  // False, after saying why, when the remote cannot be reached or listed or
  // a volume cannot be had. `fileName`, when not empty, must be there: the
  // file the user named.
  bool Open(const WString& name, const WString& fileName, bool fetchChain = true);

  // The work folder: a drive path, and the system's own path.
  const WString& folder() const { return work_.path(); }
  const WString& nativeFolder() const { return native_; }
  qv::remote::RcloneRemote& remote() { return remote_; }
  // The files of the remote folder, as Open found them.
  const std::vector<qv::remote::RemoteFile>& files() const { return files_; }

  // The library's progress callback for archives opened in the work
  // folder: a missing volume is fetched, and a failure said on standard
  // error.
  static LONGLONG Callback(DWORD code, ULONGLONG userValue, ULONGLONG volume, LONGLONG pathBuffer);
  ULONGLONG UserValue() { return static_cast<ULONGLONG>(reinterpret_cast<std::uintptr_t>(this)); }

  // The volume `name` of the member a backup sends lies on the remote under
  // its temporary name until the member is put in place.
  void NoteSent(const WString& name) { volumes_->NoteSent(name); }

  // The cancel word of the work under way: a fetch stops when it is set.
  void SetCancelFlag(const volatile BOOL* cancel) { remote_.SetCancelFlag(cancel); }

 private:
  bool Fail(const WString& what);
  bool PutInOrder(const WString& name);
  bool Recover(const WString& name);

  qv::remote::RcloneRemote remote_;
  WString typed_;
  WorkFolder work_;
  WString native_;
  std::vector<qv::remote::RemoteFile> files_;
  std::unique_ptr<qv::remote::RemoteVolumes> volumes_;
  std::unique_ptr<qv::remote::RemoteLock> lock_;  // held for a backup
};

// How a remote folder is named in messages: "rclone:REMOTE:PATH", and a
// file in it.
WString RemoteText(const WString& folder);
WString RemoteFileText(const WString& folder, const WString& fileName);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_REMOTE_ARCHIVE_H_
