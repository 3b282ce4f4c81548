// Increment chains, self-extracting archives, the header's place and the
// caller's user data.
#include <cstring>

#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "storage/archive_layout.h"
#include "storage/buffered_volume.h"
#include "qvbackup/qvstorage.h"

using namespace qv::storage;
using qv::platform::OpenMode;
using qv::platform::Sharing;

namespace {

// Increment numbers are 16-bit where the header's readers show them.
constexpr DWORD kMaxIncrements = 0x10000;

}  // namespace

DWORD CQVStorage::GetIncrementCount(DWORD dwVolume) {
  for (DWORD increment = 0; increment < kMaxIncrements; ++increment) {
    if (!qv::platform::FileExists(GetArchiveVolumePath(dwVolume, increment))) return increment;
  }
  return kMaxIncrements;
}

WORD CQVStorage::GetCurrentIncrement() {
  if (!IsOpen()) {
    Fail(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (!(GetDword(m_pHeader, header::kFlags) & QVS_FLAG_INCREMENTAL)) {
    Fail(ERROR_NOT_SUPPORTED);
    return 0;
  }
  Succeed();
  return static_cast<WORD>(GetDword(m_pHeader, header::kIncrement));
}

CQVPathString CQVStorage::GetIncrementBase() {
  if (!(GetDword(m_pHeader, header::kFlags) & QVS_FLAG_INCREMENTAL)) {
    Fail(ERROR_NOT_SUPPORTED);
    return CQVPathString();
  }
  CQVPathString base = GetArchiveVolumePath(0, 0);
  if (!qv::platform::FileExists(base)) {
    Fail(ERROR_FILE_NOT_FOUND);
    return CQVPathString();
  }
  Succeed();
  return base;
}

// Puts a copy of the self-extracting program where volume 0 goes; the
// archive is then written behind it.
BOOL CQVStorage::CreateSFX(QVS_ARCHIVE_INFO* pInfo) {
  m_bSFXReadMode = FALSE;
  DWORD flags = GetDword(m_pHeader, header::kFlags);
  if (pInfo->pszSFXStub == nullptr || pInfo->pszSFXStub[0] == 0) {
    PutDword(m_pHeader, header::kFlags, flags & ~static_cast<DWORD>(QVS_FLAG_SELFEXTRACTING));
    return FALSE;
  }
  PutDword(m_pHeader, header::kFlags, flags | QVS_FLAG_SELFEXTRACTING);
  // The copy is the new archive's first volume, under its temporary name
  // while the archive is written: an archive of that name stays as it is.
  CQVPathString target = VolumeFilePath(0);
  if (qv::platform::FileExists(target)) {
    qv::platform::MakeWritable(target);
    qv::platform::RemoveFile(target);
  }
  if (!qv::platform::CopyFileReplacing(pInfo->pszSFXStub, target)) return Fail(GetLastError());
  return Succeed();
}

ULONGLONG CQVStorage::GetHeaderOffset() {
  if (!IsOpen()) {
    Fail(ERROR_INVALID_HANDLE);
    return QVS_INVALID_OFFSET;
  }
  if (!(GetDword(m_pHeader, header::kFlags) & QVS_FLAG_SELFEXTRACTING)) return 0;
  // Reading the marker must not move the stream: blocks are written at the
  // current position.
  ULONGLONG position = GetArchiveOffset();
  if (position == QVS_INVALID_OFFSET) return QVS_INVALID_OFFSET;
  if (!OpenVolume(0)) return QVS_INVALID_OFFSET;
  BYTE probe[kStubProbeSize];
  DWORD read = 0;
  bool probed = m_pVolume->Seek(0) && m_pVolume->Read(probe, sizeof(probe), &read);
  DWORD error = GetLastError();
  if (!OpenVolumeForOffset(position)) return QVS_INVALID_OFFSET;
  if (!probed) {
    Fail(error);
    return QVS_INVALID_OFFSET;
  }
  if (read != sizeof(probe) || probe[0] != 'M' || probe[1] != 'Z') {
    Fail(ERROR_INVALID_DATA);
    return QVS_INVALID_OFFSET;
  }
  return GetQword(probe, kStubMarkerOffset);
}

BOOL CQVStorage::SetHeaderOffset(LPCWSTR pszPath) {
  if (pszPath == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  auto file = qv::platform::OpenFile(pszPath, OpenMode::kReadWriteExisting, Sharing::kRead);
  if (!file) return Fail(GetLastError());
  ULONGLONG size = 0;
  if (!file->Size(&size)) return Fail(GetLastError());
  BYTE marker[8];
  PutQword(marker, 0, size);
  if (!file->Seek(kStubMarkerOffset) || !file->Write(marker, sizeof(marker))) return Fail(GetLastError());
  return Succeed();
}

BOOL CQVStorage::SetOriginalFilePointer(ULONGLONG ullOffset) {
  if (!SettleQueue()) return FALSE;
  ULONGLONG target = ullOffset;
  if (target == QVS_INVALID_OFFSET) {
    target = GetHeaderOffset();
    if (target == QVS_INVALID_OFFSET) return FALSE;
  }
  return OpenVolumeForOffset(target) ? Succeed() : FALSE;
}

BOOL CQVStorage::SetUserData(ULONGLONG ullUserData) {
  if (!IsOpen()) return Fail(ERROR_INVALID_STATE);
  PutQword(m_pHeader, header::kUserData, ullUserData);
  return Succeed();
}

BOOL CQVStorage::SetMemberTime(LONGLONG llSeconds) {
  if (!IsOpen() || !m_bStaged) return Fail(ERROR_INVALID_STATE);
  PutQword(m_pHeader, header::kMemberTime, static_cast<ULONGLONG>(llSeconds));
  return Succeed();
}

LONGLONG CQVStorage::GetMemberTime() {
  if (!IsOpen()) {
    Fail(ERROR_INVALID_STATE);
    return 0;
  }
  Succeed();
  return static_cast<LONGLONG>(GetQword(m_pHeader, header::kMemberTime));
}

ULONGLONG CQVStorage::GetUserData() {
  if (!IsOpen()) {
    Fail(ERROR_INVALID_STATE);
    return QVS_INVALID_OFFSET;
  }
  Succeed();
  return GetQword(m_pHeader, header::kUserData);
}

BOOL CQVStorage::OpenRunningProgram() {
  CQVPathString program = GetRunningProgramPath();
  if (program.IsEmpty()) return Fail(GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_FILE_NOT_FOUND);
  auto file = qv::platform::OpenFile(program, OpenMode::kReadExisting, Sharing::kRead);
  if (!file) return Fail(GetLastError());
  m_pVolume = new BufferedVolume(std::move(file));
  m_bVolumeDirty = FALSE;
  m_dwCurrentVolume = 0;
  m_dwCurrentVolumeIncrement = 0;
  return TRUE;
}

// Opens the archive carried by the running program, read-only. Later
// volumes are looked for beside the program.
BOOL CQVStorage::OpenSFX(QVFA_PROGRESSPROC pfnProgress, ULONGLONG ullUserValue, LPCWSTR pszPassword) {
  if (IsOpen()) return Fail(ERROR_INVALID_STATE);
  std::memset(m_pHeader, 0, QVS_HEADER_SIZE);
  m_pfnProgress = pfnProgress;
  m_ullProgressUserValue = ullUserValue;
  m_bSFXReadMode = TRUE;
  m_bReadOnly = TRUE;
  m_bReading = TRUE;
  m_bHasPassword = FALSE;
  m_strPassword = QVT("");
  if (m_strIncrementTag.IsEmpty()) m_strIncrementTag = QVT("I");
  PutQword(m_pHeader, header::kVolumeSize, QVS_NO_VOLUME_LIMIT);
  PutDword(m_pHeader, header::kFlags, QVS_FLAG_SELFEXTRACTING);
  if (!OpenRunningProgram()) return FALSE;
  ULONGLONG offset = GetHeaderOffset();
  if (offset == QVS_INVALID_OFFSET || offset == 0) return FailClosed(ERROR_BAD_FORMAT);
  if (!HeaderRead()) return FailClosed(GetError());
  m_bCheckValueDamaged = FALSE;
  if (m_pHeader[header::kEncryptionType] != 0) {
    if (pszPassword == nullptr || pszPassword[0] == 0 || !CheckArchivePassword(pszPassword)) {
      return FailClosed(ERROR_INVALID_PASSWORD);
    }
  } else {
    CheckArchivePassword(nullptr);  // a check value without a key size is damage
  }
  return Succeed();
}
