// CQVBackupControl: one backup or one restore over one archive.
//
// Backing up, each file becomes a file record block followed by its data
// blocks, and an entry in the control's index whose 18 bytes of user data
// say where (everything delivered for the file, the record's offset). At
// the end the index image is stored as blocks, then a 16-byte closing record
// saying where the image lies, and the archive header points at it.
// Restoring, the control loads the index through the closing record and
// recreates every saved file below the restore root as
// "<root>\Kelvar_<drive letter>\<path after the drive>".
//
// Results are 32-bit success flags; failures set the thread's last error.
#ifndef QVBACKUP_QVBACKUPCONTROL_H_
#define QVBACKUP_QVBACKUPCONTROL_H_

#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "qvbackup/export.h"
#include "qvbackup/qvbackupfile.h"
#include "qvbackup/qvenginecallback.h"
#include "qvbackup/qvfilearray.h"
#include "qvbackup/qvstorage.h"
#include "qvbackup/qvstring.h"
#include "qvbackup/wintypes.h"

#define QVBC_FILE_USER_DATA_SIZE 18     // user data of every entry of the control's index
#define QVBC_RECORD_HEADER_SIZE 27      // header of a file record
#define QVBC_CLOSING_RECORD_SIZE 16     // "SQVO", index offset (8), image length (4)
#define QVBC_DEFAULT_RESTORE_ROOT QVT("c:\\")

// What an entry of a loaded index holds to restore (GetItemKind).
#define QVBC_ITEM_NONE 0        // nothing: a deleted entry, or a folder known only from what is below it
#define QVBC_ITEM_FILE 1        // a file and its content
#define QVBC_ITEM_FOLDER 2      // a folder saved for itself (an empty one)
#define QVBC_ITEM_LINK 3        // a symbolic link
#define QVBC_ITEM_OTHER_NAME 4  // a further name of a file whose content another entry holds

// What a restore does with an item already where it restores one
// (SetOverwriteMode).
#define QVBC_OVERWRITE_ALWAYS 0  // replaces it (a folder in the way of a file fails it)
#define QVBC_OVERWRITE_NEVER 1   // leaves it alone, whatever it is
#define QVBC_OVERWRITE_OLDER 2   // replaces a file or link last written before the saved
                                 // item; leaves anything else alone

// RestoreEntry's result for an item left alone under the overwrite mode:
// non-zero, as nothing failed.
#define QVBC_RESTORE_LEFT_ALONE 2

// What a restore could not give back of the items' metadata
// (GetMetadataNotRestored), as bits.
#define QVBC_METADATA_OWNER_NOT_SET 0x1       // owner or group (only root gives them)
#define QVBC_METADATA_MODE_NOT_SET 0x2
#define QVBC_METADATA_ATTRIBUTES_NOT_SET 0x4  // a user.* extended attribute
#define QVBC_METADATA_TIMES_NOT_SET 0x8

// An item an earlier member of the chain saved that still exists when an
// increment is made: the member (0: the base) and its entry in that
// member's index.
struct QVBC_KEPT_ENTRY {
  DWORD dwMember;
  DWORD dwEntry;
};

namespace qv::control {
struct MetadataState;
class RestoreFolders;
}
namespace qv::platform {
struct PosixMetadata;
class ConfinedFolder;
}
namespace qv::services {
enum class ExistingTarget;
}

class QVBACKUP_API CQVBackupControl {
 public:
  explicit CQVBackupControl(CQVEngineCallback* pCallback = nullptr);
  virtual ~CQVBackupControl();
  CQVBackupControl(const CQVBackupControl&) = delete;
  CQVBackupControl& operator=(const CQVBackupControl&) = delete;

  // ---- Settings ------------------------------------------------------------
  void SetCallback(CQVEngineCallback* pCallback);
  // The host's cancel word, read before each chunk of file content; a
  // non-zero value stops the backup. The BOOL form takes the engine's
  // m_bCancel as it is declared. Each call replaces the word set before;
  // a null pointer (of either type) means nothing stops the backup.
  void SetCancelFlag(const volatile DWORD* pdwCancel);
  void SetCancelFlag(const volatile BOOL* pbCancel);
  // Bytes the whole backup will read (for the progress percentage).
  void SetTotalBytes(ULONGLONG ullTotal);
  // The archive's folder and name; BeginBackup takes them from the
  // description of the archive it begins.
  void SetArchiveLocation(LPCWSTR pszFolder, LPCWSTR pszName);
  // The folder below which restores recreate files; "c:\" by default.
  void SetRestoreRoot(LPCWSTR pszRoot);
  CQVString GetRestoreRoot() const;
  // What a restore does with an item already at its target
  // (QVBC_OVERWRITE_*): QVBC_OVERWRITE_ALWAYS by default, as a restore
  // always did. FALSE with ERROR_INVALID_PARAMETER for another value.
  // NEVER renames a restored file onto its name only where nothing is (the
  // check and the rename are one step); OLDER compares the item's own last
  // write time (a link's, never what it points to) with the saved one just
  // before the rename. The item there is seen through the folders held from
  // the root, never through a link. Folders already there that hold what is
  // restored get their saved metadata only with ALWAYS.
  BOOL SetOverwriteMode(DWORD dwMode);
  DWORD GetOverwriteMode() const;
  // With TRUE, items go back to the paths they were saved from
  // ("D:\Data\a.txt" to D:\Data\a.txt, through the drive map on POSIX)
  // instead of below the restore root: the root of each item's drive becomes
  // the restore root, so an item is still made only through folders reached
  // from it one name at a time, never through a link. FALSE by default.
  void SetOriginalPaths(BOOL bOriginal);
  BOOL GetOriginalPaths() const;
  // For a restore that goes on in this control after `other` (the next
  // member of a chain, restored into the same place): the folders `other`
  // made count as made by this one, so they get the saved metadata under
  // every overwrite mode.
  void ContinueAfter(const CQVBackupControl& other);
  // Worker threads for the blocks of the archives written (CQVStorage::
  // SetWorkerThreads): 1, the default, keeps everything on the calling
  // thread. Messages and cancel checks stay on the calling thread whatever
  // the number; a plain archive's bytes do not depend on it. With workers a
  // write error may be met while a later file is saved: that file fails
  // with the error, and so does every later one and EndBackup, as when the
  // disk fills up without workers.
  void SetWorkerThreads(DWORD dwThreads);
  DWORD GetWorkerThreads() const;
  // How hard the blocks of the archives written are compressed (CQVStorage::
  // SetCompressionEffort, QVS_EFFORT_*).
  BOOL SetCompressionEffort(DWORD dwEffort);
  DWORD GetCompressionEffort() const;
  CQVStorage& GetStorage() { return m_qvStorage; }
  CQVFileArray& GetIndex() { return m_qvfa; }

  // ---- Backup ----------------------------------------------------------------
  // Begins the archive (CQVStorage::BeginArchive: under temporary names and
  // the archive's lock; an increment with the incremental flag). FALSE with
  // the storage's error: ERROR_BUSY when another run writes the archive.
  BOOL BeginBackup(QVS_ARCHIVE_INFO* pInfo);
  // Saves one file: 1 when it was saved, 0 otherwise (the last error says
  // why; a file that failed is marked deleted in the index). A cancel
  // request seen here gives the new archive up (ERROR_CANCELLED,
  // ENGINE_MSG_CANCELLED): the archive it would have replaced is untouched.
  // A file saved as read while it changed is told to the callback
  // (ENGINE_MSG_FILE_CHANGED) and marked so in its entry's user data
  // (qvlayout::userdata::kChangedWhileRead): its content may be longer or
  // shorter than the size its entry gives.
  BOOL AddFileToArchive(LPCWSTR pszPath, ULONGLONG ullUnused = 0);
  // Writes the index and the closing record and puts the archive in place
  // (CQVStorage::CloseArchive); each file that removed is told to the
  // callback (ENGINE_MSG_FILE_REMOVED). When anything fails the new archive
  // is given up and the one it would have replaced stays.
  BOOL EndBackup();
  // Deletes the files of archive `pszName` in `pszFolder`: every volume
  // file its naming rules make (names as the file system compares them) and
  // what a stopped run left of it, nothing else. Nothing is deleted while
  // another run holds the archive's lock (logged as an error).
  void CleanArchive(LPCWSTR pszFolder, LPCWSTR pszName);

  // ---- Restore (after GetStorage().OpenArchive) --------------------------------
  BOOL LoadArchiveIndex();
  // Restores the file of the current entry to `pszTarget`. A target below
  // the restore root is reached from the root one folder at a time: a
  // folder on the way that is a symbolic link, junction or other reparse
  // point fails it with ERROR_STOPPED_ON_SYMLINK, nothing written (the root
  // itself may be or lie below a link: it is the host's to choose).
  BOOL RestoreFile(LPCWSTR pszTarget, ULONGLONG ullFileBytes);
  // Restores every saved file below the restore root; a file that fails is
  // logged and the others go on. Entries whose path would leave the root
  // (empty, "." or ".." components) are refused. The cancel word stops it
  // (checked before each file and each chunk of content): the file being
  // written is removed, those restored stay, ENGINE_MSG_CANCELLED is sent
  // and the result is FALSE with ERROR_CANCELLED.
  BOOL RestoreAllFiles(LPCWSTR pszUnused = nullptr);
  // Restores the one saved file of index entry `dwEntry` below the restore
  // root, as RestoreAllFiles does for each (a host walking the index itself
  // learns each file's outcome). FALSE with the last error:
  // ERROR_INVALID_PARAMETER when the entry holds no saved file (no such
  // entry, a folder, a deleted entry, no content), ERROR_BAD_PATHNAME when
  // its path would leave the root, ERROR_STOPPED_ON_SYMLINK when a folder on
  // its way below the root is a link (one already there, or one the restore
  // made: links it restores are never passed through), or RestoreFile's
  // error. Folders, links and further names are made, and metadata given,
  // only through the folders reached that way. QVBC_RESTORE_LEFT_ALONE
  // (last error ERROR_SUCCESS) when the overwrite mode kept an item already
  // there: it is as it was, and nothing was written for it. While a file's
  // content is written, ENGINE_MSG_RESTORE_PROGRESS tells how far it got.
  BOOL RestoreEntry(DWORD dwEntry);
  // After LoadArchiveIndex: the item already where entry `dwEntry` would
  // be restored, seen as RestoreEntry would see it (through the folders
  // held from the root, a link not followed): TRUE with its size (0 for a
  // folder), last write time and attributes (each pointer may be null).
  // FALSE with ERROR_FILE_NOT_FOUND when nothing is there,
  // ERROR_INVALID_PARAMETER for an entry that holds nothing to restore,
  // ERROR_BAD_PATHNAME when its path would leave the root, or the error of
  // reaching its folder.
  BOOL GetExistingTarget(DWORD dwEntry, ULONGLONG* pullSize, FILETIME* pftLastWrite, DWORD* pdwAttributes);
  // Restores, below the restore root, the file whose record block starts at
  // `ullRecordOffset`, without its index entry: for a host bringing files
  // back from an archive whose index is lost. The path is the record's full
  // path, refused as RestoreEntry refuses one that would leave the root. The
  // content is the first `ullContentBytes` bytes of the data blocks after the
  // record, and must end where a block ends; the caller vouches that those
  // blocks hold the file's whole content (qvbackup restore proves it from
  // the blocks around them). The index kept the file's times and attributes:
  // the file comes back with normal attributes and the times of its
  // writing. Like RestoreFile, a failure leaves no half-written file. FALSE
  // with the last error: ERROR_INVALID_DATA when the block is no file record
  // or the content does not end at a block's end, ERROR_BAD_PATHNAME when
  // the path would leave the root, else the error of reading the blocks or
  // of writing the file.
  BOOL RestoreRecord(ULONGLONG ullRecordOffset, ULONGLONG ullContentBytes);
  // After LoadArchiveIndex: what entry `dwEntry` holds to restore
  // (QVBC_ITEM_*). Entries other than files exist where the backup kept
  // what a POSIX system holds beyond content (its metadata table): links,
  // empty folders, further names of one file; RestoreEntry restores them
  // as well (a link as a link, a further name as a hard link of the name
  // restored before it, or with the content when that one was not).
  DWORD GetItemKind(DWORD dwEntry) const;
  // After LoadArchiveIndex: 0 when the member's metadata table (if it has
  // one) was read, else why not; its files then restore without it.
  DWORD GetMetadataError() const;
  // After LoadArchiveIndex: whether the member has a metadata table its
  // locator leads to (read or not: GetMetadataError tells).
  BOOL HasMetadataTable() const;
  // What metadata the restores so far could not give back, as
  // QVBC_METADATA_* bits (0: all given back).
  DWORD GetMetadataNotRestored() const;
  // Between BeginBackup and EndBackup of an increment: records in it which
  // items of earlier members still exist at its time (the entries are
  // copied), so that the member tells the state of the whole selection:
  // what it saves itself, and these. A member that records it lists every
  // item that existed then; one that does not (a base, or an increment
  // written before members recorded it) only what it saved.
  BOOL SetKeptEntries(const QVBC_KEPT_ENTRY* pEntries, DWORD dwCount);
  // Between BeginBackup and EndBackup: copies into the archive being
  // written the item of entry `dwEntry` of `source` (another control, its
  // member open and its index loaded) as it was saved: its entry with the
  // folders above it (their data and metadata too), its metadata, and for
  // a file its record and content blocks, read and checked, then written
  // anew. A further name of a file copied before from the same source
  // becomes a further name of that copy; one whose file is not copied gets
  // the content under its own name. Returns the new entry, or 0 with the
  // last error (ERROR_INVALID_PARAMETER: the entry holds nothing to copy;
  // ERROR_INVALID_DATA: what was saved for it is damaged; else the error
  // of reading the source or writing the archive; nothing of the item is
  // then left in the index).
  DWORD CopySavedItem(CQVBackupControl& source, DWORD dwEntry);
  // After LoadArchiveIndex: whether the member records the state of the
  // selection (SetKeptEntries), and the entries it keeps from earlier
  // members (*ppEntries valid until the next load); 0 and FALSE when it
  // records none or its record cannot be read (GetChainStateError).
  BOOL HasChainState() const;
  DWORD GetKeptEntries(const QVBC_KEPT_ENTRY** ppEntries) const;
  // After LoadArchiveIndex: 0 when the member's record of the state was
  // read or it has none, else why it could not be (ERROR_INVALID_DATA).
  DWORD GetChainStateError() const;
  // Makes the files restored so far durable: each was synced before it
  // took its name; this gives the folders that received them (and those
  // made on the way) their saved metadata, deepest first, then syncs them.
  // EndRestore does it too. FALSE with the error of the first folder that
  // could not be synced.
  BOOL FlushRestoredFiles();
  // Flushes the restored files and closes the archive.
  BOOL EndRestore();

 private:
  static DWORD BackupCallback(QVBF_INTERNAL_DATA* pData);
  static DWORD RestoreCallback(QVBF_INTERNAL_DATA* pData);
  DWORD OnOpeningRecord(const QVBF_INTERNAL_DATA& data);
  DWORD OnNamingRecord(const QVBF_INTERNAL_DATA& data);
  DWORD OnContent(const QVBF_INTERNAL_DATA& data);
  DWORD Cancel();
  bool IsCancelRequested() const;
  DWORD ReadRecord(QVBF_INTERNAL_DATA& data);
  DWORD FillNamingRecord(QVBF_INTERNAL_DATA& data);
  DWORD FillContent(QVBF_INTERNAL_DATA& data);
  DWORD CheckRecordContentEnd(DWORD dwHandedBack);
  BOOL RestoreBelowRoot(LPCWSTR pszPath, DWORD dwPathLength, ULONGLONG ullFileBytes);
  BOOL RestoreFileAs(LPCWSTR pszTarget, ULONGLONG ullFileBytes, const qv::platform::PosixMetadata* pMetadata);
  // The folders below the restore root (restore_control.cc).
  qv::control::RestoreFolders& Folders();
  const qv::platform::ConfinedFolder* HeldFolder(const std::basic_string<WCHAR>& path, bool bCreate);
  const qv::platform::ConfinedFolder* HeldFolderOf(const std::basic_string<WCHAR>& path,
                                                   std::basic_string<WCHAR>* pName, bool bCreate);
  void ReleaseRestoreBlock();
  void Notify(DWORD dwCode, ULONGLONG ullValue1 = 0, ULONGLONG ullValue2 = 0);
  // Whether entry `dwEntry`'s content may be of another length than its
  // size: a file saved as read while it changed, or one of an archive
  // written before such files were marked.
  bool SavedWhileChanging(DWORD dwEntry) const;
  BOOL FailLoading(const WCHAR* pszDetail);
  void ApplyWrittenOffsets(bool bAll);
  void MarkAbandoned(DWORD dwError);
  BOOL FailEnding(const WCHAR* pszError);
  void ReportRemovedFiles();
  // The metadata table (item_metadata.cc).
  qv::control::MetadataState& Metadata();
  static bool DescribeItem(LPCWSTR pszPath, qv::platform::PosixMetadata* pItem);
  BOOL AddItemWithoutContent(LPCWSTR pszPath, const qv::platform::PosixMetadata& item, DWORD dwSameFileAs);
  void KeepFileMetadata(DWORD dwEntry, const qv::platform::PosixMetadata& item);
  DWORD SavedUnderAnotherName(const qv::platform::PosixMetadata& item);
  void GatherFolderMetadata();
  BOOL WriteMetadataTable();
  void LoadMetadataTable(ULONGLONG ullIndexOffset);
  bool LocatorKindAt(ULONGLONG ullOffset, WORD wKind);
  // A table in blocks of its own kind, named by a plain locator block that
  // follows it (located_table.cc). Reading: 0 when no locator ends right
  // before `ullBefore`, 1 when the table was read, 2 when the locator or
  // the table is damaged (the reason in *pdwError).
  BOOL WriteLocatedTable(const std::vector<BYTE>& bytes, WORD wKind, WORD wLocatorKind, const char* pszMagic);
  int ReadLocatedTable(ULONGLONG ullBefore, WORD wLocatorKind, const char* pszMagic, std::vector<BYTE>* pBytes,
                       ULONGLONG* pullTableOffset, DWORD* pdwError);
  // The record of the selection's state (member_state.cc).
  BOOL WriteChainState();
  // The entry of `source`'s entry `dwEntry` in this index, made with the
  // folders above it as the source has them (item_copy.cc).
  DWORD CopyEntryPath(CQVBackupControl& source, DWORD dwEntry, DWORD dwFlags);
  void LoadChainState(ULONGLONG ullBefore);
  BOOL RestoreLink(const std::basic_string<WCHAR>& target, const std::string& linkTarget);
  BOOL RenameOverTarget(const qv::platform::ConfinedFolder& folder, const std::basic_string<WCHAR>& temporary,
                        const std::basic_string<WCHAR>& name);
  BOOL RestoreOtherName(DWORD dwFirst, const std::basic_string<WCHAR>& target,
                        const qv::platform::PosixMetadata& metadata);
  BOOL RestoreItem(DWORD dwEntry, DWORD dwKind, const std::basic_string<WCHAR>& target);
  void FinishItem(DWORD dwEntry, DWORD dwKind, const std::basic_string<WCHAR>& target);
  void FinishFolders();
  bool TargetBelowRoot(LPCWSTR pszPath, DWORD dwPathLength, std::basic_string<WCHAR>* pTarget);
  void UseRootOfDrive(WCHAR chDrive);
  bool KeepsItemThere(DWORD dwEntry, DWORD dwKind, const std::basic_string<WCHAR>& target);
  void NoteContentProgress(DWORD dwHanded);
  qv::services::ExistingTarget ExistingRule() const;
  void NoteRestored(const std::basic_string<WCHAR>& target);

  // A file handed to the archive whose record block may not be written yet
  // (with worker threads): its user data is set once the offset is known.
  struct SavedEntry {
    DWORD dwEntry;
    ULONGLONG ullFileBytes;
    ULONGLONG ullRecordOffset;  // QVS_INVALID_OFFSET until written
    bool bSaved;
    bool bRecordQueued;
    bool bChanged;  // saved as read while it changed
    bool bCopied = false;  // copied from another member (CopySavedItem): its flags as they were
    WORD wFlags = 0;
  };

  ULONGLONG m_ullTotalBytes;
  ULONGLONG m_ullDoneBytes;
  CQVString m_Archivename;
  CQVString m_ArchivePath;
  CQVStringArray m_qvsaUnused;
  const volatile DWORD* m_pbCancel;     // at most one of the two cancel words is set
  const volatile BOOL* m_pbCancelFlag;
  CQVStorage m_qvStorage;
  CQVFileArray m_qvfa;
  CQVEngineCallback* m_pCallback;
  DWORD m_dwPhase;
  DWORD m_dwCurrentEntry;
  ULONGLONG m_ullFileBytes;  // what the file service delivers (backup) or is handed (restore) for the file
  BYTE m_abRecordHeader[QVBC_RECORD_HEADER_SIZE];
  BYTE* m_pRestoreBlock;             // the block being handed back
  DWORD m_dwRestoreBlockLength;
  DWORD m_dwRestoreBlockPosition;
  BYTE* m_pRecordBlock;              // the current file's record, kept for its names
  DWORD m_dwRecordBlockLength;
  ULONGLONG m_ullRecordOffset;
  DWORD m_dwProgress;
  DWORD m_dwCallbackError;
  CQVString m_strRestoreRoot;
  DWORD m_dwOverwriteMode = QVBC_OVERWRITE_ALWAYS;
  bool m_bOriginalPaths = false;
  bool m_bLeftAlone = false;          // the item being restored was kept as it was
  bool m_bMetadataGiven = false;      // the file being restored got its saved metadata
  ULONGLONG m_ullContentHanded = 0;   // content of the current file handed back so far
  DWORD m_dwPendingFlushError = ERROR_SUCCESS;  // of the drive restored to before this one
  bool m_bFromRecordOnly = false;     // restoring without an index entry (RestoreRecord)
  ULONGLONG m_ullContentLeft = 0;     // the content RestoreRecord still hands back
  std::deque<SavedEntry> m_dqSavedEntries;  // oldest first; references stay valid as it grows
  std::set<std::basic_string<WCHAR>> m_setRestoredFolders;  // to sync (FlushRestoredFiles)
  std::set<std::basic_string<WCHAR>> m_setMadeFolders;      // made by the restore (drive paths)
  // The folders restored into, reached from the root without following
  // links; made for the root of the first restore after SetRestoreRoot.
  std::unique_ptr<qv::control::RestoreFolders> m_pRestoreFolders;
  // The metadata table being gathered (backup) or read (restore), and what
  // the restore still has to give the folders.
  std::unique_ptr<qv::control::MetadataState> m_pMetadata;
};

#endif  // QVBACKUP_QVBACKUPCONTROL_H_
