// A folder of a remote store reached through rclone, the user's own tool
// for SFTP servers, object stores, WebDAV and many more: its remotes are
// configured once, for all the user's tools, in rclone's configuration (or
// its environment variables). The library lists, sends, fetches, renames
// and removes the files of one folder, REMOTE:PATH, each operation one run
// of rclone.
//
// Every function that fails sets the thread's last error to a Windows error
// number and keeps rclone's own words in reason().
#ifndef QVBACKUP_REMOTE_RCLONE_REMOTE_H_
#define QVBACKUP_REMOTE_RCLONE_REMOTE_H_

#include <string>
#include <vector>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::remote {

struct RemoteFile {
  WString name;
  ULONGLONG size = 0;
};

class RcloneRemote {
 public:
  // `program`: the rclone to run (a path, or "rclone" from the PATH).
  // `folder`: "REMOTE:PATH" as rclone names it (":local:/path" and the
  // other on-the-fly remotes included).
  RcloneRemote(WString program, WString folder);

  // Whether `typed` is the destination form "rclone:REMOTE:PATH"; *folder
  // gets "REMOTE:PATH".
  static bool ParseDestination(const WString& typed, WString* folder);

  // The files of the folder (not its subfolders). A folder that is not
  // there holds none: the answer is then empty and true.
  bool List(std::vector<RemoteFile>* files);

  // Sends the local file `local` (a native path) as `name`: first under a
  // temporary name, renamed to `name` once all of it is there, so that no
  // reader ever sees a part of it under `name`. A name that is itself
  // temporary (`whole` false) is sent to at once, in one run of rclone
  // fewer: a part of it may then lie there after a failure.
  bool Send(const WString& local, const WString& name, bool whole = true);
  // Sends `text` as `name`, through a file of the local folder `scratch`
  // (a drive path) removed again afterwards.
  bool SendText(const std::string& text, const WString& name, const WString& scratch);
  // Fetches `name` into the local file `local` (a native path), written
  // whole under a temporary name and renamed.
  bool Fetch(const WString& name, const WString& local);
  // `count` bytes of `name` from `offset` (fewer at its end).
  bool ReadRange(const WString& name, ULONGLONG offset, ULONGLONG count, std::string* bytes);
  // Renames `from` to `to` within the folder, replacing a file `to`.
  bool Rename(const WString& from, const WString& to);
  // Removes `name`; one that is not there is no failure. Not ended by the
  // cancel word: it is how a cancelled run takes back what it put there.
  bool Remove(const WString& name);

  const WString& folder() const { return folder_; }
  // What rclone said of the last failure (its summary line), or why it
  // could not be run.
  const WString& reason() const { return reason_; }

  // The cancel word of the work under way (may be null): a run of rclone
  // is ended when it turns TRUE.
  void SetCancelFlag(const volatile BOOL* cancel) { cancel_ = cancel; }

 private:
  bool Run(const std::vector<WString>& arguments, std::string* output = nullptr);
  WString Path(const WString& name) const;

  WString program_;
  WString folder_;
  WString reason_;
  const volatile BOOL* cancel_ = nullptr;
};

// Sets the thread's last error to `error` and returns false: how every
// failure of the remote layer ends.
inline bool FailWith(DWORD error) {
  SetLastError(error);
  return false;
}

// Whether `name` is a file being sent, under its temporary name.
bool IsPartName(const WString& name);

// The drive path of `name` in the local folder `folder` (a drive path).
WString InFolder(const WString& folder, const WString& name);

// Sixteen hexadecimal digits no other run picks: what tells apart the
// temporary and lock files of runs at once.
WString UniqueToken();

// The Windows error number for an exit status of rclone and what it wrote
// on standard error.
DWORD RcloneError(DWORD exitCode, const std::string& errors);
// The line of rclone's standard error that says what failed, without its
// time stamp.
std::string RcloneReason(const std::string& errors);

}  // namespace qv::remote

#endif  // QVBACKUP_REMOTE_RCLONE_REMOTE_H_
