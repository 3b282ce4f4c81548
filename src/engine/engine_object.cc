// The engine object: construction, copies, destruction, settings, the
// progress percentage and the messages to the host.
#include <cstdint>
#include <cstring>

#include "engine/engine_filters.h"
#include "log/qv_log.h"
#include "platform/file_system.h"
#include "qvbackup/qvbackupengine.h"

using qv::engine::CopyFilterManager;
using qv::engine::FilterManagerDeleter;
using qv::engine::FilterManagerPtr;
using qv::engine::RetargetFindFilter;

namespace {

constexpr DWORD kExclusionGrowBy = 10;
constexpr WCHAR kPathSeparator = QVT('\\');

// The folder of the running program's executable, ending in "\"; empty when
// the path cannot be read. The whole path is used, however long, so a deep
// folder is never cut into a wrong one.
CQVString HostProgramFolder() {
  qv::WString path;
  if (!qv::platform::GetExecutablePath(&path)) return CQVString();
  std::size_t separator = path.rfind(kPathSeparator);
  if (separator == qv::WString::npos) return CQVString();
  return CQVString(path.substr(0, separator + 1).c_str());
}

QV_FINDFILTER EmptyFindFilter() {
  QV_FINDFILTER filter;
  std::memset(&filter, 0, sizeof(filter));
  return filter;
}

// Replaces `target`'s image with a copy of `source`'s; when that fails the
// target is left empty, as the index's own copy constructor leaves it.
void CopyIndexImage(const CQVFileArray& source, CQVFileArray& target) {
  DWORD size = 0;
  // GetRawData only reads; it is not const because it hands out the
  // index's own buffer.
  const BYTE* image = const_cast<CQVFileArray&>(source).GetRawData(&size);
  if (!target.SetRawData(image, size)) target.RemoveAll();
}

}  // namespace

CQVBackupEngine::CQVBackupEngine() : CQVBackupEngine(nullptr) {
  theLog.Enter(QVT("CQVBackupEngine::CQVBackupEngine(void)"));
  m_strEnvironementPath = HostProgramFolder();
  theLog.LogDetail(QVT("CQVBackupEngine - Environment variable  : m_strEnvironementPath = %s"),
                   m_strEnvironementPath.GetString());
  theLog.ReturnedText(QVT("CQVBackupEngine::CQVBackupEngine"), QVT(""));
}

CQVBackupEngine::CQVBackupEngine(CQVEngineCallback* pCallBack)
    : m_bCancel(FALSE),
      m_pCallBack(pCallBack),
      m_qvbc(pCallBack),
      m_i64SizeOfBackup(0),
      m_hFileEntry(nullptr),
      m_dwFileEntry(0),
      m_qvsaFoldersExcluded(kExclusionGrowBy),
      m_qvsaFilesExcluded(kExclusionGrowBy),
      m_qvsaExtensionsExcluded(kExclusionGrowBy),
      m_bVolumeLoaded(FALSE),
      m_pLstIni(nullptr),
      m_pFilterManager(new CQVFilterManager),
      m_qvFindFilter(EmptyFindFilter()) {}

// The running search and the list-file writer belong to the source's own
// index and run; the copy starts without them.
CQVBackupEngine::CQVBackupEngine(const CQVBackupEngine& other)
    : m_bCancel(other.m_bCancel),
      m_pCallBack(other.m_pCallBack),
      m_setFileToBackup(other.m_setFileToBackup),
      m_qvbc(other.m_pCallBack),
      m_qvfaGroup(other.m_qvfaGroup),
      m_i64SizeOfBackup(other.m_i64SizeOfBackup),
      m_hFileEntry(nullptr),
      m_dwFileEntry(other.m_dwFileEntry),
      m_profile(other.m_profile),
      m_qvfaCount(other.m_qvfaCount),
      m_qvsaFoldersExcluded(other.m_qvsaFoldersExcluded),
      m_qvsaFilesExcluded(other.m_qvsaFilesExcluded),
      m_qvsaExtensionsExcluded(other.m_qvsaExtensionsExcluded),
      m_bVolumeLoaded(other.m_bVolumeLoaded),
      m_strEnvironementPath(other.m_strEnvironementPath),
      m_mapShadowVolume(other.m_mapShadowVolume),
      m_pLstIni(nullptr),
      m_pFilterManager(nullptr),
      m_strMultiplePartScan(other.m_strMultiplePartScan),
      m_qvFindFilter(EmptyFindFilter()),
      m_currentDiskScanned(other.m_currentDiskScanned),
      m_strLastVolume(other.m_strLastVolume),
      m_i64DestinationRoom(other.m_i64DestinationRoom) {
  CopyFrom(other);
}

CQVBackupEngine& CQVBackupEngine::operator=(const CQVBackupEngine& other) {
  if (this == &other) return *this;
  m_bCancel = other.m_bCancel;
  m_pCallBack = other.m_pCallBack;
  m_setFileToBackup = other.m_setFileToBackup;
  // The old search runs over the image about to be replaced.
  if (m_hFileEntry != nullptr) m_qvfaGroup.FindClose(m_hFileEntry);
  m_hFileEntry = nullptr;
  CopyIndexImage(other.m_qvfaGroup, m_qvfaGroup);
  m_i64SizeOfBackup = other.m_i64SizeOfBackup;
  m_dwFileEntry = other.m_dwFileEntry;
  m_profile = other.m_profile;
  CopyIndexImage(other.m_qvfaCount, m_qvfaCount);
  m_qvsaFoldersExcluded = other.m_qvsaFoldersExcluded;
  m_qvsaFilesExcluded = other.m_qvsaFilesExcluded;
  m_qvsaExtensionsExcluded = other.m_qvsaExtensionsExcluded;
  m_bVolumeLoaded = other.m_bVolumeLoaded;
  m_strEnvironementPath = other.m_strEnvironementPath;
  m_mapShadowVolume = other.m_mapShadowVolume;
  m_strMultiplePartScan = other.m_strMultiplePartScan;
  m_currentDiskScanned = other.m_currentDiskScanned;
  m_strLastVolume = other.m_strLastVolume;
  m_i64DestinationRoom = other.m_i64DestinationRoom;
  CopyFrom(other);
  return *this;
}

// What a member-by-member copy cannot do: filters with masks of their own,
// a search filter pointing at them, and the settings of a backup control
// that is not itself copied.
void CQVBackupEngine::CopyFrom(const CQVBackupEngine& other) {
  FilterManagerPtr filters = CopyFilterManager(*other.m_pFilterManager);
  m_qvFindFilter = RetargetFindFilter(other.m_qvFindFilter, *other.m_pFilterManager, *filters);
  FilterManagerDeleter()(m_pFilterManager);
  m_pFilterManager = filters.release();
  m_qvbc.SetCallback(other.m_pCallBack);
  m_qvbc.SetRestoreRoot(other.GetRestoreRoot());
  m_qvbc.SetWorkerThreads(other.GetWorkerThreads());
  m_qvbc.SetCompressionEffort(other.GetCompressionEffort());
}

CQVBackupEngine::~CQVBackupEngine() { FilterManagerDeleter()(m_pFilterManager); }

void CQVBackupEngine::SetpCallBack(CQVEngineCallback* pCallBack) {
  m_pCallBack = pCallBack;
  m_qvbc.SetCallback(pCallBack);
}

void CQVBackupEngine::SetRestoreRoot(LPCWSTR pszRoot) { m_qvbc.SetRestoreRoot(pszRoot); }

void CQVBackupEngine::SetWorkerThreads(DWORD dwThreads) { m_qvbc.SetWorkerThreads(dwThreads); }

DWORD CQVBackupEngine::GetWorkerThreads() const { return m_qvbc.GetWorkerThreads(); }

BOOL CQVBackupEngine::SetCompressionEffort(DWORD dwEffort) { return m_qvbc.SetCompressionEffort(dwEffort); }

DWORD CQVBackupEngine::GetCompressionEffort() const { return m_qvbc.GetCompressionEffort(); }

CQVString CQVBackupEngine::GetRestoreRoot() const { return m_qvbc.GetRestoreRoot(); }

int CQVBackupEngine::CalculProgress(ULONGLONG ullDone, ULONGLONG ullTotal) {
  if (ullTotal == 0) return 0;
  // The product wraps as 64-bit unsigned and only the low 32 bits of the
  // quotient count, so a huge `done` can give a small or negative value.
  auto percentage = static_cast<std::int32_t>(static_cast<DWORD>((ullDone * 100) / ullTotal));
  if (percentage > 100) return 100;
  if (percentage < 0) return 0;
  return percentage;
}

BOOL CQVBackupEngine::CallbackQVFA() { return FALSE; }

void CQVBackupEngine::Notify(DWORD dwCode, ULONGLONG ullValue1, ULONGLONG ullValue2, ULONGLONG ullValue3,
                             ULONGLONG ullValue4) {
  if (m_pCallBack == nullptr) return;
  m_pCallBack->OnEngineMessage(dwCode, ullValue1, ullValue2, ullValue3, ullValue4);
}
