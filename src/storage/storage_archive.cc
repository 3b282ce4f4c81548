// Creating, opening and closing archives, and their header.
#include <cstring>

#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "platform/system_info.h"
#include "storage/archive_layout.h"
#include "storage/buffered_volume.h"
#include "storage/chain_member.h"
#include "storage/block_queue.h"
#include "storage/block_sealer.h"
#include "storage/member_files.h"
#include "storage/volume_names.h"
#include "qvbackup/qvstorage.h"

using namespace qv::storage;
using qv::platform::OpenMode;
using qv::platform::Sharing;

namespace {

constexpr int kCreateAttempts = 6;  // the first try and five more
constexpr DWORD kCreateRetryDelay = 1000;

}  // namespace

// Opens volume 0 of a new archive: the copied program of a self-extracting
// archive, or a new (emptied) file. A file another program holds open is
// tried again a few times.
BOOL CQVStorage::OpenFirstVolumeForCreate(BOOL bExisting) {
  CQVPathString path = VolumeFilePath(0);
  OpenMode mode = bExisting ? OpenMode::kReadWriteExisting : OpenMode::kReadWriteTruncate;
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (attempt > 0) m_pfnSleep(kCreateRetryDelay);
    // An archive may hold files only their owner may read: so may it.
    auto file = qv::platform::OpenFile(path, mode, Sharing::kReadOwnerOnly);
    if (file) {
      m_pVolume = file.release();
      m_bVolumeDirty = FALSE;
      m_dwCurrentVolume = 0;
      m_dwCurrentVolumeIncrement = GetDword(m_pHeader, header::kIncrement);
      return TRUE;
    }
    error = GetLastError();
  }
  return Fail(error);
}

BOOL CQVStorage::BeginArchive(QVS_ARCHIVE_INFO* pInfo, QVFA_PROGRESSPROC pfnProgress,
                              ULONGLONG ullUserValue) {
  if (pInfo == nullptr || pInfo->dwSize != sizeof(QVS_ARCHIVE_INFO)) return Fail(ERROR_INVALID_PARAMETER);
  if (IsOpen()) return Fail(ERROR_INVALID_STATE);
  DropQueue();
  std::memset(m_pHeader, 0, QVS_HEADER_SIZE);
  m_bSFXReadMode = FALSE;
  m_bReadOnly = FALSE;
  m_bReading = FALSE;
  m_bReadMoving = FALSE;
  m_dwSyncError = ERROR_SUCCESS;
  m_vRemoved.clear();
  m_vDoomed.clear();
  ForgetTakenVolumes();
  if (!UpdateInternalInfo(pInfo)) return Fail(ERROR_INVALID_PARAMETER);
  m_pfnProgress = pfnProgress;
  m_ullProgressUserValue = ullUserValue;
  // Nothing is touched before the lock is had: another run writing this
  // archive makes this one fail at once.
  if (!TakeLock(m_strFolder, m_strName, TRUE)) return FALSE;
  if (m_bRewriting) return BeginRewrittenMember(pInfo);
  const auto fail = [this](DWORD error) {
    AbandonArchive();
    return Fail(error);
  };
  if (!RecoverArchiveFiles()) return fail(GetError());
  if (GetDword(m_pHeader, header::kFlags) & QVS_FLAG_INCREMENTAL) {
    DWORD increment = 0;
    if (!ChooseIncrement(pInfo, &increment)) return fail(GetLastError());
    PutDword(m_pHeader, header::kIncrement, increment);
  }
  if (!PlanReplacement()) return fail(GetError());
  m_bStaged = TRUE;
  BOOL copied = CreateSFX(pInfo);
  if (!copied && !(pInfo->pszSFXStub == nullptr || pInfo->pszSFXStub[0] == 0)) {
    // A self-extracting archive was asked for but its program could not be
    // put in place: an archive without it would not run.
    return fail(GetError() != ERROR_SUCCESS ? GetError() : ERROR_FILE_NOT_FOUND);
  }
  if (!OpenFirstVolumeForCreate(copied)) return fail(GetError());
  if (!HeaderCreate() || !HeaderWrite()) return fail(GetError());
  return Succeed();
}

BOOL CQVStorage::BeginIncrementalArchive(QVS_ARCHIVE_INFO* pInfo, QVFA_PROGRESSPROC pfnProgress,
                                         ULONGLONG ullUserValue) {
  if (pInfo == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  pInfo->dwFlags |= QVS_FLAG_INCREMENTAL;
  return BeginArchive(pInfo, pfnProgress, ullUserValue);
}

// Places the header: after the program of a self-extracting archive (whose
// DOS header then records where), else at the start. Gives the archive its
// identifier: the base archive's for an increment, a new one otherwise.
BOOL CQVStorage::HeaderCreate() {
  if (GetDword(m_pHeader, header::kFlags) & QVS_FLAG_SELFEXTRACTING) {
    ULONGLONG stubSize = 0;
    if (!m_pVolume->Size(&stubSize)) return FailClosed(GetLastError());
    if (HasVolumeLimit() && stubSize > VolumeLimit()) return FailClosed(ERROR_INVALID_PARAMETER);
    BYTE marker[8];
    PutQword(marker, 0, stubSize);
    m_bVolumeDirty = TRUE;
    if (!m_pVolume->Seek(kStubMarkerOffset) || !m_pVolume->Write(marker, sizeof(marker))) {
      return FailClosed(GetLastError());
    }
    if (Seek(stubSize, 0, TRUE) == QVS_INVALID_OFFSET) return FALSE;
  } else if (!m_pVolume->Seek(0)) {
    return Fail(GetLastError());
  }

  bool copiedIdentifier = false;
  DWORD flags = GetDword(m_pHeader, header::kFlags);
  if (m_bRewriting && GetDword(m_pHeader, header::kIncrement) != 0) {
    // An increment of a rewritten chain: its new base's, still staged.
    std::memcpy(m_pHeader + header::kIdentifier, m_abRewriteIdentifier, header::kIdentifierSize);
    copiedIdentifier = true;
  } else if ((flags & QVS_FLAG_INCREMENTAL) && GetDword(m_pHeader, header::kIncrement) != 0) {
    CQVPathString base = GetIncrementBase();
    auto file = base.IsEmpty() ? nullptr
                               : qv::platform::OpenFile(base, OpenMode::kReadExisting, Sharing::kReadWrite);
    DWORD read = 0;
    BYTE identifier[16];
    if (file && file->Seek(header::kIdentifier) && file->Read(identifier, 16, &read) && read == 16) {
      std::memcpy(m_pHeader + header::kIdentifier, identifier, 16);
      copiedIdentifier = true;
    }
  }
  if (!copiedIdentifier && !qv::platform::CreateUuid(m_pHeader + header::kIdentifier)) {
    return Fail(GetLastError());
  }
  PutQword(m_pHeader, header::kMemberTime, static_cast<ULONGLONG>(qv::platform::CurrentCalendarTime()));
  // A new encrypted member has keys of its own: its salt holds the
  // identifier (an increment's is its base's, so a chain shares one key).
  if (m_bHasPassword) {
    m_pHeader[header::kKeyScheme] = header::kKeySchemeOwn;
    std::memcpy(m_pHeader + header::kKeyIdentifierCopy, m_pHeader + header::kIdentifier, header::kIdentifierSize);
    BYTE check[header::kCheckValueSize];
    if (!DeriveCheckValue(check)) return FALSE;
    std::memcpy(m_pHeader + header::kCheckValue, check, sizeof(check));
    std::memset(check, 0, sizeof(check));
  }
  return TRUE;
}

BOOL CQVStorage::HeaderWrite() {
  ULONGLONG offset = GetHeaderOffset();
  if (offset == QVS_INVALID_OFFSET) return FALSE;
  if (!OpenVolumeForOffset(offset)) return FALSE;
  return WriteData(m_pHeader, QVS_HEADER_SIZE);
}

// Reads the header at its place and checks it is one this library can use:
// its magic, and the values every later computation divides or allocates
// by. A damaged or foreign file fails with ERROR_BAD_FORMAT.
BOOL CQVStorage::HeaderRead() {
  ULONGLONG offset = GetHeaderOffset();
  if (offset == QVS_INVALID_OFFSET) return FALSE;
  if (!OpenVolumeForOffset(offset)) return FALSE;
  BYTE buffer[QVS_HEADER_SIZE];
  DWORD done = 0;
  if (!Transfer(buffer, QVS_HEADER_SIZE, false, &done)) {
    DWORD error = GetError();
    return Fail(error == ERROR_HANDLE_EOF || error == ERROR_SUCCESS ? ERROR_BAD_FORMAT : error);
  }
  std::memcpy(m_pHeader, buffer, QVS_HEADER_SIZE);
  return CheckHeader();
}

BOOL CQVStorage::CheckHeader() {
  if (std::memcmp(m_pHeader + header::kMagic, header::kMagicBytes, 4) != 0) return Fail(ERROR_BAD_FORMAT);
  DWORD blockSize = GetDword(m_pHeader, header::kBlockSize);
  if (blockSize < QVS_MIN_BLOCK_SIZE || blockSize > QVS_MAX_BLOCK_SIZE) return Fail(ERROR_BAD_FORMAT);
  if (GetQword(m_pHeader, header::kVolumeSize) == 0) return Fail(ERROR_BAD_FORMAT);
  BYTE type = m_pHeader[header::kEncryptionType];
  if (type != 0 && GetKeySize(type) == 0) return Fail(ERROR_BAD_FORMAT);
  // A scheme this reader does not know would make keys it cannot make.
  BYTE scheme = m_pHeader[header::kKeyScheme];
  if (scheme != header::kKeySchemeShared && (scheme != header::kKeySchemeOwn || type == 0)) {
    return Fail(ERROR_BAD_FORMAT);
  }
  if (GetWord(m_pHeader, header::kExtension + 2 * (header::kExtensionUnits - 1)) != 0) {
    return Fail(ERROR_BAD_FORMAT);
  }
  return TRUE;
}

BOOL CQVStorage::OpenArchive(QVS_ARCHIVE_INFO* pInfo, QVFA_PROGRESSPROC pfnProgress, ULONGLONG ullUserValue) {
  if (pInfo == nullptr) return OpenSFX(pfnProgress, ullUserValue, nullptr);
  if (pInfo->dwSize != sizeof(QVS_ARCHIVE_INFO)) return Fail(ERROR_INVALID_PARAMETER);
  if (IsOpen()) return Fail(ERROR_INVALID_STATE);
  DropQueue();
  std::memset(m_pHeader, 0, QVS_HEADER_SIZE);
  m_bSFXReadMode = FALSE;
  m_bReadOnly = FALSE;
  m_bReading = TRUE;
  m_bStaged = FALSE;
  UpdateInternalInfo(pInfo);
  if (IsExe(m_strExtension)) {
    PutDword(m_pHeader, header::kFlags, GetDword(m_pHeader, header::kFlags) | QVS_FLAG_SELFEXTRACTING);
  }
  PutDword(m_pHeader, header::kIncrement, pInfo->dwIncrementToOpen);

  // A member a run had committed but not yet moved into place is read from
  // its ".qvnew" files.
  m_bReadMoving = FALSE;
  CQVPathString finalPath = GetArchiveVolumePath(0);
  const CQVPathString movingPath = finalPath + qv::storage::kMovingSuffix;
  const CQVPathString baseFirst = GetArchiveVolumePath(0, 0);
  m_bReadMoving = TakesMovingVolumes(qv::WString(static_cast<const WCHAR*>(movingPath)), pInfo->dwIncrementToOpen,
                                     qv::WString(static_cast<const WCHAR*>(baseFirst)), IsExe(m_strExtension))
                      ? TRUE
                      : FALSE;
  CQVPathString path = VolumeFilePath(0);
  auto file = qv::platform::OpenFile(path, OpenMode::kReadWriteExisting, Sharing::kRead);
  if (!file) {
    // An archive on read-only media or in a read-only file is still read.
    DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_WRITE_PROTECT) return Fail(error);
    file = qv::platform::OpenFile(path, OpenMode::kReadExisting, Sharing::kRead);
    if (!file) return Fail(error);
    m_bReadOnly = TRUE;
  }
  m_pVolume = new BufferedVolume(std::move(file));
  m_bVolumeDirty = FALSE;
  m_dwCurrentVolume = 0;
  m_dwCurrentVolumeIncrement = pInfo->dwIncrementToOpen;
  m_pfnProgress = pfnProgress;
  m_ullProgressUserValue = ullUserValue;
  // A file that is no archive of ours is closed untouched: writing a header
  // into it on close would damage it.
  if (!HeaderRead()) return FailClosed(GetError());
  if (!CheckArchivePassword(m_bHasPassword ? static_cast<LPCWSTR>(m_strPassword) : nullptr)) {
    return FailClosed(ERROR_WRONG_PASSWORD);
  }
  return Succeed();
}

// Blocks still queued are written first: the header then tells where the
// data really ends. A block that cannot be written fails the close, which
// still writes the header and closes the volume.
BOOL CQVStorage::CloseArchive() {
  if (!IsOpen()) return Fail(ERROR_INVALID_STATE);
  if (m_bStaged) return FinishArchive();
  const BOOL settled = SettleQueue();
  const DWORD settleError = GetError();
  DropQueue();
  m_pSealer.reset();
  BOOL written = TRUE;
  DWORD error = ERROR_SUCCESS;
  if (!m_bSFXReadMode && !m_bReadOnly) {
    written = HeaderWrite();
    error = GetError();
  }
  CloseVolume();
  if (!settled) return Fail(settleError);
  return written ? Succeed() : Fail(error);
}
