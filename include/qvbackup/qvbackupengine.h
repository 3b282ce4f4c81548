// CQVBackupEngine: the exported engine a host program drives. The host
// gives it a CQVEngineCallback, then either adds filters and builds the
// list of files to save (MakeFileList) and runs the backup
// (BackupControl), or works from a backup profile (categories, exclusions,
// list file, counts). Everything runs on the caller's thread; the engine
// starts no threads, and one engine is used by one thread at a time.
#ifndef QVBACKUP_QVBACKUPENGINE_H_
#define QVBACKUP_QVBACKUPENGINE_H_

#include <map>
#include <set>
#include <string>
#include <vector>

#include "qvbackup/export.h"
#include "qvbackup/qvbackupcontrol.h"
#include "qvbackup/qvenginecallback.h"
#include "qvbackup/qvfilearray.h"
#include "qvbackup/qvprofile.h"
#include "qvbackup/qvstorage.h"
#include "qvbackup/qvstring.h"
#include "qvbackup/wintypes.h"

class CQVIni;  // the list-file writer

// One filter: a base folder, a file-name mask and an extension mask, made
// into one search of the index. The three masks belong to the filter kept
// by the filter manager; copies share them and own only their name.
class QVBACKUP_API CQVFilter {
 public:
  CQVFilter();

  CQVString m_strName;
  CQVString* m_pstrExtensionMask;
  CQVString* m_pstrBasePath;       // null when the filter has none
  CQVString* m_pstrFileMask;
  QV_FINDFILTER m_findFilter;      // points at the three masks' texts
};

// The engine's filters, in the order they were created.
class QVBACKUP_API CQVFilterManager {
 public:
  // The number of filters (traced).
  int GetSizeFilter();
  // A copy of the filter at `index`; std::out_of_range outside 0..count-1.
  CQVFilter GetAt(int index) const;
  void Append(const CQVFilter& filter);
  // Empties the list; the masks are not freed here (ClearFilters does).
  void EraseAll();

  std::vector<CQVFilter> m_vecFilters;
};

class QVBACKUP_API CQVBackupEngine {
 public:
  // Traces itself and finds the host program's folder (m_strEnvironementPath).
  CQVBackupEngine();
  // Sends messages to `pCallBack`; no trace, m_strEnvironementPath empty.
  explicit CQVBackupEngine(CQVEngineCallback* pCallBack);
  // Member-by-member copies. The copy gets filters of its own (the masks
  // are copied, not shared) and a backup control of its own with the same
  // callback and restore root: an archive being written is not shared.
  CQVBackupEngine(const CQVBackupEngine& other);
  CQVBackupEngine& operator=(const CQVBackupEngine& other);
  // Frees the filters' masks and the filter manager; writes no log line.
  virtual ~CQVBackupEngine();

  // Where messages go; never deleted by the engine.
  void SetpCallBack(CQVEngineCallback* pCallBack);
  // The folder below which RestoreFile recreates files ("c:\" unless set).
  void SetRestoreRoot(LPCWSTR pszRoot);
  CQVString GetRestoreRoot() const;

  // ---- Filters -------------------------------------------------------------
  BOOL CreateFilters(LPCWSTR pszName, CQVString strBasePath, LPCWSTR pszExtensionMask, DWORD dwFlags,
                     LPCWSTR pszFileMask);
  BOOL CreateFilterByFolder(LPCWSTR pszName, LPCWSTR pszFolder);
  BOOL CreateFilterByExtension(LPCWSTR pszName, LPCWSTR pszExtension, CQVString* pstrResult);
  BOOL GetFilters(std::vector<QV_FINDFILTER>& filters);
  DWORD GetNbFilters(int& count);
  CQVFilter GetFilterInfosAt(int index);
  DWORD GetFilterInfos(int index, CQVString& name, CQVString& basePath, CQVString& extensionMask,
                       CQVString& fileMask);
  BOOL ClearFilters();
  DWORD DeleteFilters();

  // ---- File list -------------------------------------------------------------
  DWORD MakeFileList();
  DWORD BuildListOfFileFromFilters(std::vector<QV_FINDFILTER>& filters);
  BOOL LoadVolume(CQVString strVolume);
  BOOL PutFAIntoSTL(int* piCounter);
  BOOL GenerateBackupFileList();
  DWORD InsertElement(LPCWSTR lpElement);
  void ScanAndAddFolder(CQVString strFolder);
  BOOL SizeOfBackup();
  DWORD ClearListofFileToBackup();

  // ---- Backup run ------------------------------------------------------------
  DWORD BackupControl(QVS_ARCHIVE_INFO* pInfo);
  DWORD RestoreFile(QVS_ARCHIVE_INFO* pInfo);
  BOOL CheckFreeSpace(CQVString strPath, LONGLONG llBytesNeeded);
  DWORD ShadowCopy();

  // ---- State, in this order ----------------------------------------------------
  // The host reads and writes m_bCancel and m_strMultiplePartScan directly;
  // the rest is the engine's working state, open to the host as it always
  // was.
  BOOL m_bCancel;                               // set by the host to stop a backup
  CQVEngineCallback* m_pCallBack;               // not owned
  std::set<CQVString> m_setFileToBackup;        // full paths, each once
  CQVBackupControl m_qvbc;
  CQVFileArray m_qvfaGroup;                     // the volume being scanned
  LONGLONG m_i64SizeOfBackup;
  HANDLE m_hFileEntry;                          // the running search of PutFAIntoSTL
  DWORD m_dwFileEntry;
  QV_ARCHIVE_PROFILE_BACKUP m_profile;
  CQVFileArray m_qvfaCount;                     // work index of the counts
  CQVStringArray m_qvsaFoldersExcluded;
  CQVStringArray m_qvsaFilesExcluded;
  CQVStringArray m_qvsaExtensionsExcluded;      // without the dot
  BOOL m_bVolumeLoaded;                         // m_qvfaGroup holds m_strLastVolume
  CQVString m_strEnvironementPath;              // the host program's folder, ending in "\"
  std::map<CQVString, CQVString> m_mapShadowVolume;
  CQVIni* m_pLstIni;                            // the list-file writer while one is written
  CQVFilterManager* m_pFilterManager;           // owned
  std::basic_string<WCHAR> m_strMultiplePartScan;  // drive letters scanned in turn
  QV_FINDFILTER m_qvFindFilter;                 // the search of PutFAIntoSTL; points, never owns
  CQVString m_currentDiskScanned;               // "C:\"
  CQVString m_strLastVolume;

 protected:
  // done * 100 / total, wrapping as 64-bit unsigned, clamped to 0..100; 0
  // when total is 0.
  int CalculProgress(ULONGLONG ullDone, ULONGLONG ullTotal);
  // A progress callback that does nothing; always FALSE.
  static BOOL CallbackQVFA();

 private:
  void Notify(DWORD dwCode, ULONGLONG ullValue1 = 0, ULONGLONG ullValue2 = 0, ULONGLONG ullValue3 = 0,
              ULONGLONG ullValue4 = 0);
  void CopyFrom(const CQVBackupEngine& other);

  // File list building. LoadSearchScope makes m_qvfaGroup hold what a
  // search below `pszBasePath` (null or empty: the whole volume) of volume
  // `strVolume` needs: the whole volume when it can be read raw, else only
  // the base folder walked. The search record is set up from a filter
  // record (SetUpSearch) and reset to zeros afterwards (ResetSearch).
  BOOL LoadSearchScope(const CQVString& strVolume, LPCWSTR pszBasePath);
  BOOL LoadRawVolume(const CQVString& strVolume);
  void SetUpSearch(const QV_FINDFILTER& filter, BOOL bTraceDetails);
  void ResetSearch();
  void SearchCurrentDisk(LPCWSTR pszBasePath);
};

#endif  // QVBACKUP_QVBACKUPENGINE_H_
