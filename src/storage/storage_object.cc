// The container object: construction, copies, the description it is given,
// and the names of its volume files.
#include <cstdlib>
#include <cstring>

#include "platform/file_lock.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "platform/random_access_file.h"
#include "storage/archive_layout.h"
#include "storage/block_opener.h"
#include "storage/block_queue.h"
#include "storage/block_sealer.h"
#include "storage/read_ahead.h"
#include "qvbackup/qvstorage.h"

using namespace qv::storage;

namespace {

const WCHAR kDefaultExtension[] = QVT("QVA");
const WCHAR kDefaultIncrementTag[] = QVT("I");
constexpr DWORD kMaxExtensionLength = 5;

bool IsEmptyText(const WCHAR* text) { return text == nullptr || text[0] == 0; }

}  // namespace

CQVStorage::CQVStorage()
    : m_pVolume(nullptr),
      m_pHeader(static_cast<BYTE*>(std::calloc(QVS_HEADER_SIZE, 1))),
      m_dwCurrentVolume(0),
      m_dwCurrentVolumeIncrement(0),
      m_bSFXReadMode(FALSE),
      m_bHasPassword(FALSE),
      m_pfnProgress(nullptr),
      m_ullProgressUserValue(0),
      m_bReadOnly(FALSE),
      m_bReading(FALSE),
      m_pfnSleep(qv::platform::SleepMilliseconds),
      m_dwWorkerThreads(1),
      m_dwQueueError(0) {
  if (m_pHeader == nullptr) throw std::bad_alloc();
}

CQVStorage::CQVStorage(const CQVStorage& other) : CQVStorage() { CopyFrom(other); }

CQVStorage& CQVStorage::operator=(const CQVStorage& other) {
  if (this != &other) {
    // An archive this object was writing is given up, as at its end.
    AbandonArchive();
    m_pLock.reset();
    m_bLockFromBegin = FALSE;
    CopyFrom(other);
  }
  return *this;
}

// A copy takes the description and the header but no open volume, so two
// objects never share a handle; it starts closed.
void CQVStorage::CopyFrom(const CQVStorage& other) {
  m_error = other.m_error;
  std::memcpy(m_pHeader, other.m_pHeader, QVS_HEADER_SIZE);
  m_crypto = other.m_crypto;
  m_dwCurrentVolume = 0;
  m_dwCurrentVolumeIncrement = 0;
  m_bSFXReadMode = other.m_bSFXReadMode;
  m_bHasPassword = other.m_bHasPassword;
  m_strPassword = other.m_strPassword;
  m_strName = other.m_strName;
  m_strFolder = other.m_strFolder;
  m_strExtension = other.m_strExtension;
  m_strIncrementTag = other.m_strIncrementTag;
  m_pfnProgress = other.m_pfnProgress;
  m_ullProgressUserValue = other.m_ullProgressUserValue;
  m_bReadOnly = other.m_bReadOnly;
  m_bReading = other.m_bReading;
  m_bReadMoving = other.m_bReadMoving;
  m_bCheckValueDamaged = other.m_bCheckValueDamaged;
  m_pfnSleep = other.m_pfnSleep;
  // Blocks queued or read ahead by the source stay the source's.
  m_pBlockQueue.reset();
  ForgetReadAhead();
  m_dwQueueError = 0;
  m_dwWorkerThreads = other.m_dwWorkerThreads;
  m_dwCompressionEffort = other.m_dwCompressionEffort;
}

// An archive still being written is given up: what was written of it goes,
// the archive it would have replaced stays.
CQVStorage::~CQVStorage() {
  if (m_bStaged) AbandonArchive();
  AbandonChainRewrite();
  CloseVolume();
  for (const void* cursor : m_setBlockSearches) delete static_cast<const ULONGLONG*>(cursor);
  if (m_pHeader != nullptr) std::memset(m_pHeader, 0, QVS_HEADER_SIZE);
  std::free(m_pHeader);
}

BOOL CQVStorage::Dump() { return TRUE; }

DWORD CQVStorage::GetError() const { return m_error.GetError(); }

BOOL CQVStorage::Fail(DWORD dwError) {
  m_error.SetError(dwError);
  SetLastError(dwError);
  return FALSE;
}

BOOL CQVStorage::Succeed() {
  m_error.SetError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CQVStorage::IsOpen() const { return m_pVolume != nullptr; }

void CQVStorage::CloseVolume() {
  ForgetReadAhead();
  delete m_pVolume;
  m_pVolume = nullptr;
}

// Closes the volume without writing the header and fails with `dwError`.
BOOL CQVStorage::FailClosed(DWORD dwError) {
  CloseVolume();
  return Fail(dwError);
}

void CQVStorage::SetSleepProc(QVS_SLEEPPROC pfnSleep) {
  m_pfnSleep = pfnSleep != nullptr ? pfnSleep : qv::platform::SleepMilliseconds;
}

ULONGLONG CQVStorage::VolumeLimit() const { return GetQword(m_pHeader, header::kVolumeSize); }

bool CQVStorage::HasVolumeLimit() const { return VolumeLimit() != QVS_NO_VOLUME_LIMIT; }

DWORD CQVStorage::GetKeyType(DWORD dwBits) {
  switch (dwBits) {
    case 32: return QV_KEY_32;
    case 64: return QV_KEY_64;
    case 128: return QV_KEY_128;
    case 160: return QV_KEY_160;
    case 256: return QV_KEY_256;
  }
  Fail(ERROR_NOT_SUPPORTED);
  return 0;
}

DWORD CQVStorage::GetKeySize(DWORD dwCode) {
  switch (dwCode) {
    case QV_KEY_32: return 32;
    case QV_KEY_64: return 64;
    case QV_KEY_128: return 128;
    case QV_KEY_160: return 160;
    case QV_KEY_256: return 256;
  }
  Fail(ERROR_NOT_SUPPORTED);
  return 0;
}

// Fills the header from the description and keeps copies of its texts.
BOOL CQVStorage::UpdateInternalInfo(QVS_ARCHIVE_INFO* pInfo) {
  std::memset(m_pHeader + header::kCheckValue, 0, header::kCheckValueSize);
  const bool hasPassword = !IsEmptyText(pInfo->pszPassword);
  BYTE encryptionType = 0;
  if (hasPassword) {
    DWORD code = GetKeyType(pInfo->dwEncryptionKeySize);
    if (code == 0) return FALSE;
    encryptionType = static_cast<BYTE>(code);
  }
  std::memcpy(m_pHeader + header::kMagic, header::kMagicBytes, 4);
  PutDword(m_pHeader, header::kVersion, 1);
  DWORD blockSize = pInfo->dwBlockSize;
  if (blockSize < QVS_MIN_BLOCK_SIZE || blockSize > QVS_MAX_BLOCK_SIZE) blockSize = QVS_DEFAULT_BLOCK_SIZE;
  PutDword(m_pHeader, header::kBlockSize, blockSize);
  PutDword(m_pHeader, header::kFlags, pInfo->dwFlags);
  PutDword(m_pHeader, header::kCompression, pInfo->dwCompression);
  PutQword(m_pHeader, header::kVolumeSize, pInfo->ullVolumeSize);
  PutDword(m_pHeader, header::kIncrement, 0);
  m_pHeader[header::kEncryptionType] = encryptionType;

  const WCHAR* extension = IsEmptyText(pInfo->pszExtension) ? kDefaultExtension : pInfo->pszExtension;
  DWORD extensionLength = static_cast<DWORD>(qv::TextLength(extension));
  // The header holds at most five characters; a longer extension would name
  // volumes the header cannot describe.
  if (extensionLength > kMaxExtensionLength || pInfo->ullVolumeSize == 0) return FALSE;
  std::memset(m_pHeader + header::kExtension, 0, header::kExtensionUnits * 2);
  for (DWORD i = 0; i < extensionLength; ++i) PutWord(m_pHeader, header::kExtension + 2 * i, extension[i]);

  if (!IsEmptyText(pInfo->pszSFXStub) && qv::platform::FileExists(pInfo->pszSFXStub)) {
    PutDword(m_pHeader, header::kFlags, pInfo->dwFlags | QVS_FLAG_SELFEXTRACTING);
  }
  if (IsEmptyText(pInfo->pszFolder) || !qv::platform::IsDirectory(pInfo->pszFolder) ||
      IsEmptyText(pInfo->pszName)) {
    return FALSE;
  }
  m_strExtension = extension;
  m_strName = pInfo->pszName;
  m_strFolder = pInfo->pszFolder;
  m_bHasPassword = hasPassword ? TRUE : FALSE;
  m_strPassword = hasPassword ? pInfo->pszPassword : QVT("");
  m_strIncrementTag = IsEmptyText(pInfo->pszIncrementTag) ? kDefaultIncrementTag : pInfo->pszIncrementTag;
  // The check value is derived once the archive has its identifier (see
  // HeaderCreate): the identifier is part of its salt.
  return TRUE;
}

CQVPathString CQVStorage::GetRunningProgramPath() {
  CQVSysPathString program;
  if (!program.GetCurrentApplicationName()) return CQVPathString();
  return CQVPathString(program);
}

CQVPathString CQVStorage::GetArchiveVolumePath(DWORD dwVolume, DWORD dwIncrement) {
  DWORD increment = dwIncrement == QVS_CURRENT_INCREMENT ? GetDword(m_pHeader, header::kIncrement) : dwIncrement;
  const bool numbered = dwVolume != 0xFFFFFFFFu && HasVolumeLimit();
  if (m_bSFXReadMode) {
    CQVPathString program = GetRunningProgramPath();
    if (dwVolume == 0 || !numbered) return program;
    // Later volumes lie beside the program: its name without its
    // extension (a second one removed too), the volume number and the
    // header's extension.
    CQVPathString stem = program;
    stem.RemoveExtension();
    if (!CQVPathString(stem.FindExtension()).IsEmpty()) stem.RemoveExtension();
    WCHAR extension[header::kExtensionUnits];
    for (DWORD i = 0; i < header::kExtensionUnits; ++i) extension[i] = GetWord(m_pHeader, header::kExtension + 2 * i);
    extension[header::kExtensionUnits - 1] = 0;
    CQVPathString path;
    if (increment == 0) {
      path.Format(QVT("%s.%d.%s"), static_cast<const WCHAR*>(stem), static_cast<int>(dwVolume + 1), extension);
    } else {
      path.Format(QVT("%s.%d.%s%d.%s"), static_cast<const WCHAR*>(stem), static_cast<int>(dwVolume + 1),
                  static_cast<const WCHAR*>(m_strIncrementTag), static_cast<int>(increment), extension);
    }
    return path;
  }
  CQVPathString path = m_strFolder;
  path.AddBackslash();
  path += m_strName;
  path += QVT(".");
  CQVString part;
  if (increment != 0) {
    part.Format(QVT("%s%d."), static_cast<const WCHAR*>(m_strIncrementTag), static_cast<int>(increment));
    path += part;
  }
  if (numbered) {
    part.Format(QVT("%d."), static_cast<int>(dwVolume + 1));
    path += part;
  }
  if (dwVolume == 0 && (GetDword(m_pHeader, header::kFlags) & QVS_FLAG_SELFEXTRACTING)) {
    path += QVT("exe");
  } else {
    path += m_strExtension;
  }
  return path;
}
