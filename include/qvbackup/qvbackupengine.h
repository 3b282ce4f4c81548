// CQVBackupEngine: the exported engine a host program drives. The host
// gives it a CQVEngineCallback, then either adds filters and builds the
// list of files to save (MakeFileList) and runs the backup
// (BackupControl), or works from a backup profile (categories, exclusions,
// list file, counts). Everything runs on the caller's thread; the engine
// starts no threads unless the host gives it worker threads for the
// archive's blocks (SetWorkerThreads), and one engine is used by one thread
// at a time.
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
  // Worker threads that checksum, compress and encrypt the archive's blocks
  // during BackupControl: 1 (the default) starts none; above 64 means 64.
  // Whatever the number, the archive is written in order by the calling
  // thread, messages and cancel checks come on the calling thread, a plain
  // archive holds the same bytes, and a failure ends the run as it would
  // without workers. Memory grows by a few blocks per thread.
  void SetWorkerThreads(DWORD dwThreads);
  DWORD GetWorkerThreads() const;
  // How hard BackupControl compresses the archive's blocks: QVS_EFFORT_DEFAULT
  // (chosen per block), QVS_EFFORT_FAST or QVS_EFFORT_BEST; FALSE with
  // ERROR_INVALID_PARAMETER for anything else. Every effort writes blocks
  // any reader of the archive decompresses.
  BOOL SetCompressionEffort(DWORD dwEffort);
  DWORD GetCompressionEffort() const;
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
  // Writes every listed file into a new archive, which replaces an archive
  // of that name only once it is whole (CQVStorage): a failed or cancelled
  // run leaves the earlier one as it was.
  DWORD BackupControl(QVS_ARCHIVE_INFO* pInfo);
  // Restores the whole archive below the restore root. m_bCancel stops it
  // too (before each file and each chunk): the engine never clears it, so a
  // host clears it after a cancelled run before it restores.
  DWORD RestoreFile(QVS_ARCHIVE_INFO* pInfo);
  BOOL CheckFreeSpace(CQVString strPath, LONGLONG llBytesNeeded);
  DWORD ShadowCopy();

  // ---- Categories (profile-driven runs) --------------------------------------
  // The categories are read from "GpExt.xml" (the host program's folder; under
  // Windows PE the Windows installation's system32 folder). Every operation
  // here returns 0.
  //
  // Appends the extensions of every group named exactly `pstrGroupName`
  // (case-sensitive), in file order; the array is not emptied first.
  DWORD GroupExt_EnumerateExtensionsInGroup(LPCWSTR pstrGroupName, CQVStringArray& straListOfExtensions,
                                            QV_ARCHIVE_PROFILE_BACKUP& qvapb);
  // Enters into `qvfaSelected` every existing file of m_qvfaGroup whose
  // extension belongs to a checked category.
  DWORD BuildSelectedList(CQVFileArray& qvfaSelected, QV_ARCHIVE_PROFILE_BACKUP& qvapb);
  // Enters every entry of m_qvfaGroup with the extension that still exists.
  DWORD AddOneExtensionToSelectedList(CQVFileArray& qvfaSelectedCategories, LPCWSTR lpExtension);
  DWORD AddToqvfa(CQVFileArray& qvfa, CQVString strPath);
  // Enters the full path of every live entry of `qvfaFrom` into `qvfaTo`.
  DWORD Copy_qvfaFromTo(CQVFileArray& qvfaFrom, CQVFileArray& qvfaTo);
  // Deletes from m_qvfaGroup the files of every category not checked.
  DWORD SubstractNonCheckedCategories(QV_ARCHIVE_PROFILE_BACKUP& qvapb);
  // Deletes from `qvfa` every entry with the extension that is not a folder.
  DWORD SubstractOneExtension(CQVFileArray& qvfa, LPCWSTR lpExtension);

  // ---- Exclusions -------------------------------------------------------------
  // The setters replace a list with a copy of the caller's.
  DWORD SetFoldersExcludedList(CQVStringArray& qvsaFolders);
  DWORD SetFilesExcludedList(CQVStringArray& qvsaFiles);
  DWORD SetExtensionsExcludedList(CQVStringArray& qvsaExtensions);
  // Moves the excluded folders and files that begin with a drive ("C:\...")
  // to the drive root `pszNewRoot` ("D:\").
  void UpdateExcludeList(LPCWSTR pszNewRoot);
  // Kept for hosts that call them; they change nothing.
  LONG BuildExclusionsList(QV_ARCHIVE_PROFILE_BACKUP& qvapb);
  DWORD SubstractSystemExtensions(QV_ARCHIVE_PROFILE_BACKUP& qvapb);
  // Deletes the entries of `qvfa` that are the path `pszPath` or lie below
  // it, whole components compared without regard to case.
  DWORD SubstractOnePath(CQVFileArray& qvfa, LPCWSTR pszPath);
  DWORD SubstractExcludedPathFromXML(CQVFileArray& qvfa);
  DWORD SubstractExcludedExtensionsFromXML(CQVFileArray& qvfa);
  // Deletes the NTFS metafiles from m_qvfaGroup.
  DWORD SubstractAllMFTEntry();
  // Deletes the first entry of m_qvfaGroup named `pszName`; `pqvfa` is not
  // read.
  DWORD SubstractOneMFTEntry(CQVFileArray* pqvfa, LPCWSTR pszName);
  // Deletes the files of `qvfa` whose creation and last-write times both lie
  // before `ftReference` (UTC, as the index holds its times).
  DWORD SubstractFileBeforeReferenceTime(CQVFileArray& qvfa, FILETIME& ftReference);

  // ---- List file --------------------------------------------------------------
  // Writes the list file `pszLstFileName` (in the host program's folder) of
  // the files the profile selects: sections "Parameters", "Selected" and
  // "Include".
  DWORD BuildLSTFile(LPCWSTR pszLstFileName, QV_ARCHIVE_PROFILE_BACKUP& qvapb);
  DWORD LSTFile_BuildHeader(CQVString strLSTFilenamePath);
  DWORD LSTFile_BuildSelectedSection(CQVFileArray& qvfa, CQVString strLSTFilenamePath);
  DWORD LSTFile_BuildIncludedSection(CQVString strLSTFilenamePath, CQVFileArray* pqvfa);
  // Traces the full path of every live entry of `qvfa`.
  DWORD DebugShowAll(CQVFileArray& qvfa);

  // ---- Counts per category ------------------------------------------------------
  // Sends ENGINE_MSG_CATEGORY_COUNT for each category 1 to 6 with the number
  // and total size of its files.
  DWORD GetCount(CQVString strBaseFolder, QV_ARCHIVE_PROFILE_BACKUP& qvapb);
  // Stores in the two results the number and total size of the files of
  // the partition `pszPartition` ("C:\"), below `strBaseFolder` when it is
  // not empty, that have one of `straExtensions` and are not excluded.
  DWORD ComputeSizeInformationsOfCategory(LPCWSTR pszPartition, CQVString strBaseFolder,
                                          CQVStringArray& straExtensions, LONGLONG& i64NbFiles,
                                          LONGLONG& i64Size, QV_ARCHIVE_PROFILE_BACKUP& qvapb);

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
  // The most the destination holds of the archive at once, when its
  // volumes are taken away as they are written (to another store); the
  // free-space check asks for no more. -1: the whole backup.
  LONGLONG m_i64DestinationRoom = -1;

 protected:
  // done * 100 / total, wrapping as 64-bit unsigned, clamped to 0..100; 0
  // when total is 0.
  int CalculProgress(ULONGLONG ullDone, ULONGLONG ullTotal);
  // A progress callback that does nothing; always FALSE.
  static BOOL CallbackQVFA();

 private:
  // The folder walk's callback (user value: the engine). A folder that
  // cannot be listed is logged and sent to the host as
  // ENGINE_MSG_FOLDER_NOT_READ unless the exclusions leave it out: nothing
  // below it is saved.
  static LONGLONG OnFolderWalk(DWORD dwCode, ULONGLONG ullEngine, ULONGLONG ullPath, LONGLONG llError);
  void ReportUnreadFolder(LPCWSTR pszPath, DWORD dwError);
  void Notify(DWORD dwCode, ULONGLONG ullValue1 = 0, ULONGLONG ullValue2 = 0, ULONGLONG ullValue3 = 0,
              ULONGLONG ullValue4 = 0);
  void CopyFrom(const CQVBackupEngine& other);

  // File list building. LoadSearchScope makes m_qvfaGroup hold what a
  // search below `pszBasePath` (null or empty: the whole volume) of volume
  // `strVolume` needs: the whole volume when it can be read raw, else only
  // the base folder walked. The search record is set up from a filter
  // record (SetUpSearch) and reset to zeros afterwards (ResetSearch).
  BOOL LoadSearchScope(const CQVString& strVolume, LPCWSTR pszBasePath);
  // Reads the volume `strVolume` ("C:\") raw into `qvfa`, emptied first.
  // FALSE with the system's error when it cannot be opened or read.
  static BOOL LoadRawVolume(CQVFileArray& qvfa, const CQVString& strVolume);
  // Reads a partition of a profile-driven run into `qvfa`: raw when it can
  // be, else by walking `strWalkFrom` (traced, with `pszFallbackLine`
  // announcing the walk). FALSE when the raw read failed.
  BOOL LoadPartition(CQVFileArray& qvfa, const CQVString& strRoot, const CQVString& strWalkFrom,
                     LPCWSTR pszFallbackLine);
  void SetUpSearch(const QV_FINDFILTER& filter, BOOL bTraceDetails);
  void ResetSearch();
  void SearchCurrentDisk(LPCWSTR pszBasePath);
};

#endif  // QVBACKUP_QVBACKUPENGINE_H_
