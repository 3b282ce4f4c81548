// The list of files to save: volumes loaded into the scanning index, the
// filters' searches run over it, and paths added one by one or folder by
// folder; then their total size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/exclusions.h"
#include "engine/system_file_names.h"
#include "log/qv_log.h"
#include "platform/file_system.h"
#include "platform/posix_metadata.h"
#include "qvbackup/qvbackupengine.h"

using qv::engine::ExclusionRules;
using qv::engine::TextView;

namespace {

constexpr WCHAR kSeparator = QVT('\\');
// InsertElement's answer for a path the disk does not report.
constexpr DWORD kPathNotOnDisk = 5;

bool IsSet(const WCHAR* text) { return text != nullptr && text[0] != 0; }

bool HasAttribute(DWORD attributes, DWORD bit) { return (attributes & bit) != 0; }

bool IsLetter(WCHAR c) { return (c >= QVT('A') && c <= QVT('Z')) || (c >= QVT('a') && c <= QVT('z')); }

// "E:", "E:\" or "E:\..." : a path on a drive letter. Anything else (an
// empty root, a relative or UNC path) is not walked: on Windows "\" alone
// would be the whole current drive.
bool IsDrivePath(const CQVString& path) {
  return path.GetLength() >= 2 && IsLetter(path.GetAt(0)) && path.GetAt(1) == QVT(':') &&
         (path.GetLength() == 2 || path.GetAt(2) == kSeparator);
}

// The path lowered and without trailing separators, so that "E:\" and
// "e:" name the same scope.
CQVString ScopeKey(const CQVString& path) {
  CQVString key = path;
  key.MakeLower();
  key.TrimRight(QVT("\\"));
  return key;
}

// True when what was loaded for `loaded` also holds `wanted`: the same
// folder or volume, or a folder below it.
bool ScopeCovers(const CQVString& loaded, const CQVString& wanted) {
  CQVString loadedKey = ScopeKey(loaded);
  CQVString wantedKey = ScopeKey(wanted);
  return qv::engine::IsAtOrBelow(TextView(wantedKey.GetString(), wantedKey.GetLength()),
                                 TextView(loadedKey.GetString(), loadedKey.GetLength()));
}

bool IsDotEntry(const WCHAR* name) {
  return name[0] == QVT('.') && (name[1] == 0 || (name[1] == QVT('.') && name[2] == 0));
}

}  // namespace

DWORD CQVBackupEngine::MakeFileList() {
  theLog.Enter(QVT("CQVBackupEngine::MakeFileList()"));
  m_i64SizeOfBackup = 0;
  // The control's done bytes start again at 0 with its next BeginBackup.
  m_qvbc.SetTotalBytes(0);
  Notify(ENGINE_MSG_SCAN_BEGIN);

  std::vector<QV_FINDFILTER> records;
  const int count = m_pFilterManager->GetSizeFilter();
  for (int i = 0; i < count; ++i) records.push_back(m_pFilterManager->GetAt(i).m_findFilter);
  theLog.LogDetail(QVT("filter size in make : %d"), static_cast<int>(records.size()));
  theLog.LogDetail(QVT("m_strMultiplePartScan=%s"), m_strMultiplePartScan.c_str());

  // One pass per drive letter to scan; a filter with a base folder belongs
  // to its own drive and is searched in the first pass only.
  const std::size_t passes = std::max<std::size_t>(1, m_strMultiplePartScan.size());
  for (std::size_t pass = 0; pass < passes; ++pass) {
    for (const QV_FINDFILTER& record : records) {
      SetUpSearch(record, FALSE);
      const bool hasBasePath = IsSet(record.pszBasePath);
      if (!m_strMultiplePartScan.empty() && !hasBasePath) {
        m_currentDiskScanned.Format(QVT("%c:\\"), static_cast<int>(m_strMultiplePartScan[pass]));
      } else if (pass > 0) {
        ResetSearch();
        continue;
      }
      SearchCurrentDisk(hasBasePath ? record.pszBasePath : nullptr);
    }
  }

  theLog.LogDetail(QVT("CQVBackupEngine::MakeFileList () SizeOfBackup"));
  SizeOfBackup();
  m_qvbc.SetTotalBytes(static_cast<ULONGLONG>(m_i64SizeOfBackup));
  theLog.LogDetail(QVT("CQVBackupEngine::MakeFileList () Clear Vector of QV_FINDFILTER"));
  records.clear();
  ClearFilters();
  m_bVolumeLoaded = FALSE;
  return theLog.Returned(static_cast<DWORD>(0));
}

DWORD CQVBackupEngine::BuildListOfFileFromFilters(std::vector<QV_FINDFILTER>& filters) {
  theLog.Enter(QVT("CQVBackupEngine::BuildListOfFileFromFilters"));
  for (const QV_FINDFILTER& record : filters) {
    SetUpSearch(record, TRUE);
    SearchCurrentDisk(IsSet(record.pszBasePath) ? record.pszBasePath : nullptr);
  }
  return theLog.Returned(static_cast<DWORD>(0));
}

void CQVBackupEngine::SetUpSearch(const QV_FINDFILTER& filter, BOOL bTraceDetails) {
  m_qvFindFilter.dwFlags = filter.dwFlags;
  if (IsSet(filter.pszExtensionMask)) {
    m_qvFindFilter.pszExtensionMask = filter.pszExtensionMask;
    if (bTraceDetails) {
      theLog.LogDetail(QVT("pszExtensionMask non vide"));
      theLog.LogDetail(QVT("m_qvFindFilter.pszExtensionMask: %s"), m_qvFindFilter.pszExtensionMask);
    }
  }
  // Without a base folder the search has no file mask either: it is a flat
  // search of the whole volume with the extension mask alone.
  if (IsSet(filter.pszBasePath)) {
    m_currentDiskScanned = CQVString(filter.pszBasePath).Left(3);
    m_qvFindFilter.pszBasePath = filter.pszBasePath;
    m_qvFindFilter.pszFileMask = filter.pszFileMask;
    if (bTraceDetails) {
      theLog.LogDetail(QVT("pszBasePath non vide"));
      theLog.LogDetail(QVT("m_currentDiskScanned: %s"), m_currentDiskScanned.GetString());
      theLog.LogDetail(QVT("m_qvFindFilter.pszBasePath: %s"), m_qvFindFilter.pszBasePath);
      theLog.LogDetail(QVT("m_qvFindFilter.pszFileMask: %s"), m_qvFindFilter.pszFileMask);
    }
  }
}

void CQVBackupEngine::ResetSearch() {
  m_qvFindFilter.dwFlags = 0;
  m_qvFindFilter.pszBasePath = nullptr;
  m_qvFindFilter.pszFileMask = nullptr;
  m_qvFindFilter.pszExtensionMask = nullptr;
}

void CQVBackupEngine::SearchCurrentDisk(LPCWSTR pszBasePath) {
  LoadSearchScope(m_currentDiskScanned, pszBasePath);
  int counter = 0;
  PutFAIntoSTL(&counter);
  ResetSearch();
}

BOOL CQVBackupEngine::LoadVolume(CQVString strVolume) { return LoadSearchScope(strVolume, nullptr); }

// A volume read raw is loaded whole, since that is fast. When it cannot be
// read raw, only the base folder is walked: the search looks below it
// alone, and walking a whole disk for it would cost far more. The cache
// then names the folder walked, so a search elsewhere on the volume loads
// again.
BOOL CQVBackupEngine::LoadSearchScope(const CQVString& strVolume, LPCWSTR pszBasePath) {
  const CQVString scope = IsSet(pszBasePath) ? CQVString(pszBasePath) : strVolume;
  if (m_bVolumeLoaded && ScopeCovers(m_strLastVolume, scope)) return TRUE;
  theLog.LogDetail(QVT("CQVBackupEngine::LoadVolume(...): loading volume %s"), strVolume.GetString());

  BOOL loadedWhole = FALSE;
  if (IsDrivePath(strVolume)) {
    loadedWhole = LoadRawVolume(m_qvfaGroup, strVolume);
  } else {
    SetLastError(ERROR_BAD_PATHNAME);
  }
  if (!loadedWhole) {
    theLog.LogError(QVT("::LoadVolume (%d)"), static_cast<int>(GetLastError()));
    theLog.LogDetail(QVT("Old School parsing method begin!!"));
    // What a failed raw load left in the index is not the volume.
    if (m_qvfaGroup.RemoveAll() && IsDrivePath(scope)) {
      m_qvfaGroup.AddDirectory(scope, 0, 0, OnFolderWalk, reinterpret_cast<std::uintptr_t>(this));
    }
    theLog.LogDetail(QVT("Old School parsing method end!!"));
  }
  m_strLastVolume = loadedWhole ? strVolume : scope;
  m_bVolumeLoaded = TRUE;
  return TRUE;
}

// The index holds the loaded volume alone: a flat search must not find
// what an earlier volume left.
BOOL CQVBackupEngine::LoadRawVolume(CQVFileArray& qvfa, const CQVString& strVolume) {
  if (strVolume.IsEmpty() || !qvfa.OpenDrive(strVolume.GetAt(0))) return FALSE;
  BOOL loaded = qvfa.RemoveAll();
  if (loaded) {
    loaded = qvfa.GetFatSystem() == QVFA_FS_NTFS ? qvfa.AddNTFSVolume(strVolume, nullptr, 0)
                                                  : qvfa.LoadFATVolume(strVolume);
  }
  DWORD error = GetLastError();
  qvfa.CloseDrive();
  SetLastError(error);
  return loaded;
}

LONGLONG CQVBackupEngine::OnFolderWalk(DWORD dwCode, ULONGLONG ullEngine, ULONGLONG ullPath, LONGLONG llError) {
  if (dwCode == 3 && ullEngine != 0 && ullPath != 0) {
    reinterpret_cast<CQVBackupEngine*>(static_cast<std::uintptr_t>(ullEngine))
        ->ReportUnreadFolder(reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(ullPath)),
                             static_cast<DWORD>(llError));
  }
  return 0;
}

void CQVBackupEngine::ReportUnreadFolder(LPCWSTR pszPath, DWORD dwError) {
  const ExclusionRules exclusions(m_qvsaFoldersExcluded, m_qvsaFilesExcluded, m_qvsaExtensionsExcluded);
  if (exclusions.Excludes(CQVString(pszPath))) return;
  theLog.LogError(QVT("Folder %s cannot be read (%d)"), pszPath, static_cast<int>(dwError));
  Notify(ENGINE_MSG_FOLDER_NOT_READ, dwError, reinterpret_cast<std::uintptr_t>(pszPath));
}

BOOL CQVBackupEngine::PutFAIntoSTL(int* piCounter) {
  theLog.LogDetail(QVT("iNbFoldersExclude: %d"), static_cast<int>(m_qvsaFoldersExcluded.GetSize()));
  theLog.LogDetail(QVT("iSizeExtensionsExclude: %d"), static_cast<int>(m_qvsaExtensionsExcluded.GetSize()));
  theLog.LogDetail(QVT("m_qvFindFilter.pszBasePath: %s"), m_qvFindFilter.pszBasePath);
  theLog.LogDetail(QVT("m_qvFindFilter.pszExtensionMask : %s"), m_qvFindFilter.pszExtensionMask);
  theLog.LogDetail(QVT("m_qvFindFilter.pszFileMask : %s"), m_qvFindFilter.pszFileMask);

  m_hFileEntry = m_qvfaGroup.FindFirstFileW(m_dwFileEntry, &m_qvFindFilter);
  if (m_hFileEntry == INVALID_HANDLE_VALUE) {
    theLog.LogError(QVT("m_qvfaGroup.FindFirstFile(m_hFileEntry,&m_qvFindFilter) return INVALID_HANDLE_VALUE"));
    m_hFileEntry = nullptr;
    return TRUE;
  }
  if (m_hFileEntry == nullptr) {
    theLog.LogError(QVT("m_qvfaGroup.FindFirstFile(m_hFileEntry,&m_qvFindFilter) return NULL"));
    return TRUE;
  }

  const ExclusionRules exclusions(m_qvsaFoldersExcluded, m_qvsaFilesExcluded, m_qvsaExtensionsExcluded);
  BOOL more = TRUE;
  while (more) {
    const DWORD entry = m_dwFileEntry;
    const CQVString path = m_qvfaGroup.GetPathName(entry);
    qv::platform::FileInformation onDisk;
    const bool exists = !path.IsEmpty() && qv::platform::GetFileInformation(path, &onDisk);
    more = m_qvfaGroup.FindNextFileW(m_hFileEntry, m_dwFileEntry);
    theLog.LogDetail(QVT("insert1 : %d"), exists ? 1 : 0);
    // The index's own attributes count too: where the disk query follows a
    // link to its target, the volume's record still says what it is.
    const DWORD indexed = m_qvfaGroup.GetAttributes(entry);
    const DWORD attributes = (exists ? onDisk.attributes : 0) | (indexed == INVALID_FILE_ATTRIBUTES ? 0 : indexed);
    // Where the system keeps links and folders as items of their own, a
    // link is saved as a link (never followed, whether its target exists
    // or not) and an empty folder as a folder; folders with content come
    // back through it. Elsewhere a junction is not entered and folders are
    // not files to save.
    const bool keepsItems = qv::platform::KeepsPosixMetadata();
    const bool link = HasAttribute(attributes, FILE_ATTRIBUTE_REPARSE_POINT);
    if (!exists && !(link && keepsItems)) continue;
    if (link && !keepsItems) {
      theLog.LogDetail(QVT("----JUNCTION !! skip----"));
      continue;
    }
    if (!link && HasAttribute(attributes, FILE_ATTRIBUTE_DIRECTORY) &&
        (!keepsItems || !qv::platform::IsDirectoryEmpty(path))) {
      continue;
    }
    CQVString lowered = path;
    lowered.MakeLower();
    const TextView loweredView(lowered.GetString(), lowered.GetLength());
    if (exclusions.ExcludesLowered(loweredView)) continue;
    if (qv::engine::IsSystemFileName(qv::engine::LastComponent(loweredView))) continue;
    m_setFileToBackup.insert(path);
    if (piCounter != nullptr) ++*piCounter;
  }
  m_qvfaGroup.FindClose(m_hFileEntry);
  m_hFileEntry = nullptr;
  return TRUE;
}

BOOL CQVBackupEngine::GenerateBackupFileList() {
  LoadVolume(m_currentDiskScanned);
  int counter = 0;
  PutFAIntoSTL(&counter);
  return TRUE;
}

DWORD CQVBackupEngine::InsertElement(LPCWSTR lpElement) {
  theLog.Enter(QVT("BOOL CQVBackupEngine::InsertElement(LPCTSTR lpElement : %s)"), lpElement);
  qv::platform::FileInformation onDisk;
  if (!IsSet(lpElement) || !qv::platform::GetFileInformation(lpElement, &onDisk)) {
    return theLog.Returned(kPathNotOnDisk);
  }
  m_setFileToBackup.insert(CQVString(lpElement));
  return theLog.Returned(static_cast<DWORD>(0));
}

// Folders are walked from a list of their own rather than by recursion, so
// a deep tree costs no stack.
void CQVBackupEngine::ScanAndAddFolder(CQVString strFolder) {
  strFolder.TrimRight(QVT("\\"));
  if (strFolder.IsEmpty()) return;
  std::vector<CQVString> pending;
  pending.push_back(std::move(strFolder));
  while (!pending.empty()) {
    const CQVString folder = std::move(pending.back());
    pending.pop_back();
    qv::platform::DirectoryEnumerator items;
    WIN32_FIND_DATAW item;
    for (bool found = items.First(folder + QVT("\\*.*"), &item); found; found = items.Next(&item)) {
      if (IsDotEntry(item.cFileName)) continue;
      CQVString path = folder + kSeparator + item.cFileName;
      // A junction or link is never entered: its target is elsewhere, and
      // may hold the folder itself. Where links are items of their own it
      // is saved as the link it is, and an empty folder as a folder.
      const bool keepsItems = qv::platform::KeepsPosixMetadata();
      if (HasAttribute(item.dwFileAttributes, FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (keepsItems) m_setFileToBackup.insert(std::move(path));
        continue;
      }
      if (HasAttribute(item.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY)) {
        if (keepsItems && qv::platform::IsDirectoryEmpty(path)) m_setFileToBackup.insert(path);
        pending.push_back(std::move(path));
        continue;
      }
      theLog.LogDetail(QVT("File to backup : %s"), path.GetString());
      m_setFileToBackup.insert(std::move(path));
    }
  }
}

BOOL CQVBackupEngine::SizeOfBackup() {
  theLog.Enter(QVT("CQVBackupEngine::SizeOfBackup()"));
  for (const CQVString& path : m_setFileToBackup) {
    qv::platform::FileInformation onDisk;
    if (qv::platform::GetFileInformation(path, &onDisk)) m_i64SizeOfBackup += static_cast<LONGLONG>(onDisk.size);
  }
  return theLog.Returned(static_cast<BOOL>(FALSE));
}

DWORD CQVBackupEngine::ClearListofFileToBackup() {
  theLog.Enter(QVT("CQVBackupEngine::ClearListofFileToBackup"));
  m_setFileToBackup.clear();
  return theLog.Returned(static_cast<DWORD>(0));
}
