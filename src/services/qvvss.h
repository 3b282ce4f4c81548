// CQVVss: the shadow-copy service. It makes a snapshot of a volume so that
// a backup can read every file as it was at one moment, including files
// that other programs hold open, and tells where the snapshot can be read.
//
// There is one service object per process (GetVSSInstance); it holds at
// most one snapshot, which the system deletes when the snapshot is released,
// when the next InitializeBackup begins, or when the process exits.
//
// A snapshot is made in three steps, in this order: InitializeBackup,
// GatherWriterMetadata, CreateSnapshot; GetSnapshotVolumePath then tells
// where to read it. Where the system has no shadow-copy service (POSIX
// systems; under Wine the service exists but makes no snapshot) the steps
// fail and report why; nothing else happens. Results are BOOLs; a failure
// sets the thread's last error (also kept for GetLastErrorCode).
//
// The order of the virtual operations below is the service's binary
// interface: callers reach them by their slot in the virtual table (the
// path query is slot 4, the preparations 5 and 8, the snapshot 6). New
// operations go after the last one; none is ever moved.
#ifndef QVBACKUP_SERVICES_QVVSS_H_
#define QVBACKUP_SERVICES_QVVSS_H_

#include "qvbackup/wintypes.h"

class CQVVss {
 public:
  // Slot 0: the service's own result code of the last step that failed (an
  // HRESULT on Windows); 0 when none has.
  virtual DWORD GetLastServiceResult() = 0;

  // Slot 1: TRUE while a snapshot is held.
  virtual BOOL HasSnapshot() = 0;

  // Slot 2: copies the root of the volume the held snapshot is of ("C:\"),
  // with its terminator, into `pszBuffer` of `dwSize` characters. FALSE with
  // ERROR_INVALID_STATE when no snapshot is held, ERROR_INVALID_PARAMETER for
  // no buffer, ERROR_INSUFFICIENT_BUFFER when it does not fit (the buffer is
  // then left alone).
  virtual BOOL GetSnapshotVolumeRoot(WCHAR* pszBuffer, DWORD dwSize) = 0;

  // Slot 3: releases the snapshot (the system deletes it) and ends the
  // session. TRUE, also when nothing was held.
  virtual BOOL ReleaseSnapshot() = 0;

  // Slot 4: copies the path under which the held snapshot's volume is read
  // ("\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopy3", no trailing
  // backslash), with its terminator, into `pszBuffer` of `dwSize`
  // characters. Failures as for GetSnapshotVolumeRoot.
  virtual BOOL GetSnapshotVolumePath(WCHAR* pszBuffer, DWORD dwSize) = 0;

  // Slot 5: first preparation: releases any snapshot held and opens a new
  // session with the system's service. FALSE when the service cannot be
  // had (ERROR_NOT_SUPPORTED on systems without one).
  virtual BOOL InitializeBackup() = 0;

  // Slot 6: makes a snapshot of the volume `pszVolumeRoot` ("C:\"). When
  // the service is busy with another snapshot it is tried again ten seconds
  // later, up to `dwAttempts` tries (0 counts as 1). FALSE with
  // ERROR_INVALID_PARAMETER for no root, ERROR_INVALID_STATE before
  // InitializeBackup, ERROR_ALREADY_EXISTS while a snapshot is held, or the
  // service's reason.
  virtual BOOL CreateSnapshot(LPCWSTR pszVolumeRoot, DWORD dwAttempts) = 0;

  // Slot 7: the Windows error number of the last step that failed; 0 when
  // none has.
  virtual DWORD GetLastErrorCode() = 0;

  // Slot 8: second preparation: asks the system's writers (databases, mail
  // stores...) to describe themselves, as the service needs before a
  // snapshot. CreateSnapshot does it itself when this was not called. FALSE
  // with ERROR_INVALID_STATE before InitializeBackup, or the service's
  // reason.
  virtual BOOL GatherWriterMetadata() = 0;

 protected:
  // The object lives as long as the process; no caller deletes it.
  ~CQVVss() = default;
};

// The process's shadow-copy service; never null (memory exhaustion throws).
// The same object on every call; not synchronised: one thread at a time.
CQVVss* GetVSSInstance();

#endif  // QVBACKUP_SERVICES_QVVSS_H_
