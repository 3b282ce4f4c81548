// An INI file ("private profile") read for a program's own configuration:
// opened once, told who may change it and the folder that holds it, and
// read through the very descriptor it was examined on, so that what is
// read is what was examined, whatever is renamed into its place meanwhile.
//
// Windows: the file is found as before (it must exist, or open for reading
// and writing when asked) and read with the system's private-profile
// functions by its path; the system keeps no owner and mode bits of the
// POSIX kind, so the access below is not known there.
// POSIX: see Open.
#ifndef QVBACKUP_PLATFORM_CHECKED_PROFILE_H_
#define QVBACKUP_PLATFORM_CHECKED_PROFILE_H_

#include <memory>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::platform {

// Who may change a file or a folder, as far as the system says.
struct WriteAccess {
  bool known = false;           // false where the system keeps no such bits: nothing below means anything
  bool regularFile = false;     // a regular file (for a folder: false)
  bool ownedByUser = false;     // owned by the running (effective) user
  bool ownedBySystem = false;   // owned by the system's administrator (uid 0)
  bool groupWritable = false;
  bool othersWritable = false;
};

enum class ProfileOpening {
  kOpened,        // Folder() and File() tell what was found; the values read come from it
  kMissing,       // nothing to open (missing, or not to be opened as asked): the last error says why
  kSymbolicLink,  // the name is a symbolic link, never followed
  kTooLarge,      // larger than any configuration (kMostProfileBytes)
};

// What Open reads at most: a configuration is a few lines.
constexpr DWORD kMostProfileBytes = 1 << 20;

class CheckedProfile {
 public:
  CheckedProfile();
  ~CheckedProfile();
  CheckedProfile(const CheckedProfile&) = delete;
  CheckedProfile& operator=(const CheckedProfile&) = delete;

  // Opens the INI file `path` (drive-letter form) for reading, or for
  // reading and writing with `readWrite` (the handle is closed again
  // before Open returns; only the right to open counts).
  // POSIX: its folder is opened first and examined (fstat), then the file
  // is opened inside that very folder with O_NOFOLLOW and O_NONBLOCK (a
  // FIFO never blocks), examined through its descriptor, and, when it is a
  // regular file, read whole through the same descriptor. A folder, device
  // or FIFO under the name opens but is no regular file (File().regularFile
  // false) and nothing is read from it.
  ProfileOpening Open(const WCHAR* path, bool readWrite);

  // The file and its folder as found by the last Open that returned kOpened.
  const WriteAccess& File() const;
  const WriteAccess& Folder() const;

  // ReadProfileString and ReadProfileInt (platform/profile.h) on the file
  // opened: the same answers, the defaults when it holds no such key or
  // was not opened.
  DWORD ReadString(const WCHAR* section, const WCHAR* key, const WCHAR* defaultValue, DWORD capacity,
                   WString* value) const;
  UINT ReadInt(const WCHAR* section, const WCHAR* key, INT defaultValue) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_CHECKED_PROFILE_H_
