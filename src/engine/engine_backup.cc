// The backup run: the destination's room is checked, every listed file is
// written into a new archive through the backup control, and a whole
// archive is restored below the restore root; and the snapshot of the
// system volume asked of the shadow-copy service.
#include <algorithm>
#include <limits>

#include "log/qv_log.h"
#include "platform/disk_space.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/system_info.h"
#include "qvbackup/qvbackupengine.h"
#include "services/qvvss.h"

namespace {

// The characters of a snapshot's volume path, terminator included.
constexpr DWORD kShadowPathCharacters = 260;

const WCHAR* TextOrEmpty(const WCHAR* text) { return text != nullptr ? text : QVT(""); }

bool IsLetter(WCHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "E:..." names a drive; its root is "E:\" whatever follows the colon.
bool DriveRootOf(const CQVString& path, CQVString* root) {
  if (path.GetLength() < 2 || !IsLetter(path.GetAt(0)) || path.GetAt(1) != ':') return false;
  *root = path.Left(2) + QVT("\\");
  return true;
}

// Free bytes as a signed figure: a volume reporting more than the signed
// range holds is simply larger than any backup, never "negative".
LONGLONG SignedFreeBytes(ULONGLONG freeBytes) {
  constexpr auto kMost = static_cast<ULONGLONG>(std::numeric_limits<LONGLONG>::max());
  return static_cast<LONGLONG>(std::min(freeBytes, kMost));
}

// Measures the destination `path` (ending with "\"): a CD-ROM drive is asked
// about the folder itself, any other drive about its root. A path without
// a drive letter (a share) is measured as it is.
bool MeasureDestination(const CQVString& path, qv::platform::DiskSpace* space) {
  CQVString root;
  bool onDrive = DriveRootOf(path, &root);
  if (onDrive && qv::platform::QueryDriveType(root) == qv::platform::kDriveTypeCdRom) {
    if (!qv::platform::QueryDiskSpace(path, space)) return false;
    theLog.LogDetail(QVT("Total space %I64u"), space->totalBytes);
    theLog.LogDetail(QVT("Free space %I64u"), space->freeBytes);
    return true;
  }
  theLog.LogDetail(QVT("Drive NON CDROM"));
  return qv::platform::QueryDiskSpace(onDrive ? root : path, space);
}

// Reads the host's cancel word as the backup control does: it may be set
// from another thread at any time.
bool CancelRequested(const BOOL& cancel) { return *static_cast<const volatile BOOL*>(&cancel) != 0; }

// Hands every listed file that still exists to the control, in list order.
// Returns true when the control stopped the backup on the cancel word: it
// has then finished and removed the archive, so the files left would each
// fail against a closed archive and are not tried.
bool SaveListedFiles(CQVBackupControl& control, const std::set<CQVString>& files, const BOOL& cancel) {
  for (const CQVString& path : files) {
    if (!qv::platform::FileExists(path)) {
      theLog.LogDetail(QVT("File %s missing on disk"), path.GetString());
      continue;
    }
    if (!control.AddFileToArchive(path, 0) && GetLastError() == ERROR_CANCELLED && CancelRequested(cancel)) {
      return true;
    }
  }
  return false;
}

}  // namespace

DWORD CQVBackupEngine::BackupControl(QVS_ARCHIVE_INFO* pInfo) {
  theLog.Enter(QVT("CQVBackupEngine::BackupControl()"));
  m_qvbc.SetCallback(m_pCallBack);
  theLog.LogDetail(QVT("Size of file list %d"), static_cast<int>(m_setFileToBackup.size()));
  const WCHAR* folder = pInfo != nullptr ? TextOrEmpty(pInfo->pszFolder) : QVT("");
  const WCHAR* name = pInfo != nullptr ? TextOrEmpty(pInfo->pszName) : QVT("");
  // The room is measured even for an empty list, so the log always shows it.
  const LONGLONG needed = m_i64DestinationRoom >= 0 && m_i64DestinationRoom < m_i64SizeOfBackup ? m_i64DestinationRoom
                                                                                                : m_i64SizeOfBackup;
  BOOL room = CheckFreeSpace(folder, needed);
  if (m_setFileToBackup.empty()) {
    theLog.LogDetail(QVT("No Files to Backup send message"));
    Notify(ENGINE_MSG_NO_FILES);
  } else if (!room) {
    theLog.LogDetail(QVT("Destination has not enough space"));
    Notify(ENGINE_MSG_NO_SPACE);
  } else {
    m_qvbc.SetArchiveLocation(folder, name);
    theLog.LogDetail(QVT("m_qvbc.m_Archivename=%s"), name);
    theLog.LogDetail(QVT("m_qvbc.m_ArchivePath=%s"), folder);
    theLog.LogDetail(QVT("m_qvbc.dwEncryptionKeySize=%d"), pInfo != nullptr ? pInfo->dwEncryptionKeySize : 0u);
    m_qvbc.SetCancelFlag(&m_bCancel);
    if (!m_qvbc.BeginBackup(pInfo)) {
      theLog.LogError(QVT("CREATE OF BACKUP FAILED !"));
      Notify(ENGINE_MSG_CREATE_FAILED);
    } else if (SaveListedFiles(m_qvbc, m_setFileToBackup, m_bCancel)) {
      // The control finished, removed and reported the cancelled archive.
    } else if (!CancelRequested(m_bCancel)) {
      // A backup whose index, closing record or move into place failed (the
      // disk filled up, a write failed) was given up by the control: the
      // archive it would have replaced is as it was.
      if (!m_qvbc.EndBackup()) {
        const DWORD error = GetLastError();
        theLog.LogError(QVT("The archive could not be finished, it is given up"));
        Notify(ENGINE_MSG_CREATE_FAILED);
        SetLastError(error);
      }
    } else {
      // The cancel word came after the control's last look at it (during
      // the last file's last block): the new archive is given up as the
      // control gives up a cancelled one, and the host told.
      theLog.LogDetail(QVT("bCancel = TRUE Cancelling"));
      m_qvbc.GetStorage().AbandonArchive();
      Notify(ENGINE_MSG_CANCELLED);
    }
  }
  theLog.ReturnedText(QVT("CQVBackupEngine::TestBackupControl ()"), QVT(""));
  return 0;
}

// Restores below the control's restore root (SetRestoreRoot). Nothing is
// recreated from an archive that did not open or whose index did not load:
// the control's index would otherwise still describe an earlier archive.
DWORD CQVBackupEngine::RestoreFile(QVS_ARCHIVE_INFO* pInfo) {
  CQVStorage& archive = m_qvbc.GetStorage();
  m_qvbc.SetCallback(m_pCallBack);
  m_qvbc.SetCancelFlag(&m_bCancel);
  if (!archive.OpenArchive(pInfo, nullptr, 0)) {
    SetLastError(archive.GetError());
    theLog.LogError(QVT("CQVBackupEngine::RestoreFile : the archive cannot be opened"));
    return 0;
  }
  if (m_qvbc.LoadArchiveIndex()) {
    CQVString root = m_qvbc.GetRestoreRoot();
    m_qvbc.RestoreAllFiles(root);
  }
  m_qvbc.EndRestore();
  return 0;
}

// Exactly as many free bytes as needed is enough. A free-space query that
// fails (a share that does not answer it, a folder that does not exist) is
// logged and lets the backup go on: refusing it for "no space" would name
// the wrong reason, and a destination that really fills up fails the
// archive's own writes; one that does not exist fails its creation.
BOOL CQVBackupEngine::CheckFreeSpace(CQVString strPath, LONGLONG llBytesNeeded) {
  theLog.Enter(QVT("CQVArchive::CheckFreeSpace(CQVString strTemp : %s, __int64 BackupSize : %I64d)"),
               strPath.GetString(), llBytesNeeded);
  strPath += QVT("\\");
  qv::platform::DiskSpace space;
  if (!MeasureDestination(strPath, &space)) {
    theLog.LogError(QVT("Free space of %s unknown, the backup goes on"), strPath.GetString());
    return theLog.Returned(TRUE);
  }
  if (SignedFreeBytes(space.freeBytes) < llBytesNeeded) {
    theLog.LogDetail(QVT("Not enough space on drive destination"));
    return theLog.Returned(FALSE);
  }
  theLog.LogDetail(QVT("enough space on drive destination"));
  return theLog.Returned(TRUE);
}

DWORD CQVBackupEngine::ShadowCopy() {
  theLog.Enter(QVT("CQVBackupEngine::ShadowCopy"));
  const CQVString volume(QVT("C:\\"));
  m_mapShadowVolume.clear();
  if (CQVVss* service = GetVSSInstance()) {
    service->InitializeBackup();
    service->GatherWriterMetadata();
  }
  CQVVss* service = GetVSSInstance();
  BOOL obtained = FALSE;
  if (service != nullptr && service->CreateSnapshot(volume, 1)) {
    WCHAR path[kShadowPathCharacters] = {};
    obtained = service->GetSnapshotVolumePath(path, kShadowPathCharacters);
    if (obtained) {
      path[kShadowPathCharacters - 1] = 0;
      theLog.LogDetail(QVT("ShadowVolume obtained %s"), path);
      m_mapShadowVolume[volume] = CQVString(path) + QVT("\\");
    }
  }
  if (!obtained) {
    theLog.LogDetail(QVT("Shadow copy has not worked"));
    m_mapShadowVolume[volume] = CQVString();
  }
  return theLog.Returned(static_cast<DWORD>(0));
}
