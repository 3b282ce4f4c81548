// Snapshots of a volume through the system's shadow-copy service, so that a
// backup can read files as they were at one moment, including files other
// programs hold open.
//
// Windows: the volume shadow copy service, reached through vssapi.dll,
// which is loaded when a session begins (a system without it, such as a
// pre-installation environment, or Wine, whose service does not make
// snapshots, simply reports that it cannot). A snapshot is of the backup
// kind: the system deletes it when the session ends (End, destruction,
// the next Begin) or when the process exits. Making one needs the rights of
// an administrator; the host, not this library, sets the process's COM
// security if it wants the system's writers to take part fully.
//
// POSIX: there is no such service; every step fails with
// ERROR_NOT_SUPPORTED.
#ifndef QVBACKUP_PLATFORM_SHADOW_COPY_H_
#define QVBACKUP_PLATFORM_SHADOW_COPY_H_

#include <memory>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::platform {

class ShadowCopySession {
 public:
  ShadowCopySession();
  // Ends the session (its snapshot is deleted).
  ~ShadowCopySession();
  ShadowCopySession(const ShadowCopySession&) = delete;
  ShadowCopySession& operator=(const ShadowCopySession&) = delete;

  // Ends any earlier session and opens a new one for a full backup. False
  // with the last error when the service cannot be had (the system's error
  // for loading it, ERROR_NOT_SUPPORTED on POSIX).
  bool Begin();

  // Asks the system's writers (databases, mail stores...) to describe
  // themselves, which the service needs before it makes a snapshot. False
  // with the last error; ERROR_INVALID_STATE without a session.
  bool GatherWriters();

  // Makes a snapshot of the volume `root` ("C:\"), gathering the writers
  // first when GatherWriters has not. When the service is busy with another
  // snapshot (ERROR_BUSY) it is tried again, ten seconds later, in a new
  // session, up to `attempts` tries in all (0 counts as 1). False with the
  // last error; ERROR_INVALID_STATE without a session, ERROR_ALREADY_EXISTS
  // when this session already holds a snapshot.
  bool Create(const WCHAR* root, DWORD attempts);

  // The device path of the snapshot, such as
  // "\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopy3" (no trailing
  // backslash). False with ERROR_INVALID_STATE when the session holds no
  // snapshot.
  bool DevicePath(WString* path) const;

  // The service's own result code (an HRESULT on Windows) of the last step
  // that failed; 0 when none has.
  DWORD LastServiceResult() const;

  // Ends the session: the snapshot is deleted. Harmless without one.
  void End();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_SHADOW_COPY_H_
