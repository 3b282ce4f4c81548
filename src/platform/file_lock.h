// One writer at a time: an exclusive lock held on a small file for as long
// as an object lives.
//
// The operating system keeps the lock, not the file's content: it is let go
// when the holder closes it or dies however it dies (flock on POSIX, a handle
// shared with no writer on Windows). A lock file left behind by a process
// that was killed, or by a machine that lost power, is therefore taken over
// by the next run without help; its text only tells a run that finds the
// lock taken who holds it.
#ifndef QVBACKUP_PLATFORM_FILE_LOCK_H_
#define QVBACKUP_PLATFORM_FILE_LOCK_H_

#include <memory>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::platform {

class FileLock {
 public:
  // Removes the lock file, then lets the lock go.
  virtual ~FileLock() = default;
};

// Takes the lock of the file `path`, which is created when missing, and
// writes `holder` into it. Null with the last error when it cannot be had:
// ERROR_BUSY when another process, or another lock object of this one,
// holds it (*heldBy, when given, then gets the holder's text, maybe empty
// when it is being written); the system's error when the file cannot be
// created (a read-only folder, a missing one).
std::unique_ptr<FileLock> TryLockFile(const WCHAR* path, WStringView holder, WString* heldBy);

// "process 1234 on HOSTNAME": who holds a lock this process takes.
WString ThisProcessDescription();

// This process's number.
DWORD CurrentProcessId();

// Whether process `id` of this machine is running (a process that may not
// be signalled or opened counts as running).
bool ProcessIsRunning(DWORD id);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_FILE_LOCK_H_
