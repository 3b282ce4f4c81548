// CQVFileArray: the file index.
//
// The whole tree of one or more volumes lives in one contiguous image of
// variable-length entries that name each other by byte offset, so the image
// can be handed out, stored and loaded back without any fix-up. Every entry
// carries the CRC-32 of its upper-cased name and extension, so lookups
// compare 32-bit numbers first and strings only on a CRC match.
//
// An entry index is the entry's byte offset in the image; the root lies at 0,
// so 0 also means "no entry" and failure. Indexes stay valid until the image
// is compacted or replaced.
//
// Failures return 0 (or an empty string, or 0xFFFFFFFF where said) and set
// the thread's last error to a Windows error number. One index is used by one
// thread at a time.
#ifndef QVBACKUP_QVFILEARRAY_H_
#define QVBACKUP_QVFILEARRAY_H_

#include <bit>
#include <cstddef>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "qvbackup/export.h"
#include "qvbackup/qvstring.h"
#include "qvbackup/wintypes.h"

static_assert(std::endian::native == std::endian::little,
              "the index image is little-endian and used in place");

namespace qv::platform {
class RawVolume;
struct FileInformation;
}
namespace qv::fileindex {
class FatReader;
// The children of one large folder, by name key: an open-addressing table
// of entry indices (0: a free slot), a power of two in size and at most
// three quarters full. The keys are read from the entries themselves, so a
// child costs a few bytes, not the nodes of a map.
struct ChildSlots {
  std::vector<DWORD> slots;
  DWORD count = 0;
};
}
namespace qvfuzz {
struct FileArrayAccess;  // the fuzz targets' white-box door
}

// File-system kinds found by CQVFileArray::OpenDrive.
#define QVFA_FS_NONE 0
#define QVFA_FS_NTFS 1
#define QVFA_FS_FAT12 12
#define QVFA_FS_FAT16 16
#define QVFA_FS_FAT32 32

// Flags of CQVFileArray::Add.
#define QVFA_ADD_CLONE 0x1   // add the last component again, as a clone
#define QVFA_ADD_LOOKUP 0x2  // only look up; a missing component fails
#define QVFA_ADD_EXACT_CASE 0x4  // a component matches only a name equal code unit for code unit

// Entry state bits.
#define QVFA_DELETED 0x01
#define QVFA_CLONE 0x02
#define QVFA_HASCLONES 0x04
#define QVFA_INUSE 0x20

#define QVFA_ENTRYTAG 86          // the tag word of every entry
#define QVFA_ENTRYHEADERSIZE 84   // header bytes before the name
#define QVFA_ROOTSIZE 86          // the root: header and an empty name
#define QVFA_NOTLINKED 0xFFFFFFFFu  // parent value of an entry not yet in the tree
#define QVFA_MAXNAMELENGTH 1023   // longest name or path component, in code units

// Search flags of QV_FINDFILTER.
#define QVFF_INCLUDEDELETED 0x02  // deleted entries match too
#define QVFF_RECURSE 0x04         // the whole subtree below the base folder
#define QVFF_NOMETAFILES 0x08     // leave out NTFS metafiles and $Extend
#define QVFF_NOSYSVOLINFO 0x10    // leave out "System Volume Information"

// Modes of CQVFileArray::DeleteItem.
#define QVFA_DEL_UNLESSPARENTDELETED 0
#define QVFA_DEL_IFEMPTY 1
#define QVFA_DEL_FORCE 2
#define QVFA_DEL_TREE 3

// Tests of CQVFileArray::CompareEntries ("this" entry against the other).
#define QVFA_CMP_NAME 0x001       // equal names (case of a-z ignored)
#define QVFA_CMP_EXT 0x002        // equal extensions, dot included
#define QVFA_CMP_PATH 0x004       // equal parent paths
#define QVFA_CMP_SAMETIME 0x008   // equal last write times
#define QVFA_CMP_OLDER 0x010      // this last write time is earlier
#define QVFA_CMP_SAMESIZE 0x020   // equal sizes
#define QVFA_CMP_SMALLER 0x040    // this size is smaller
#define QVFA_CMP_NOTNEWER 0x080   // this last write time is not later
#define QVFA_CMP_NOTLARGER 0x100  // this size is not greater

// Magic number that starts a saved index file.
#define QVFA_FILEMAGIC 0x81867368u

#pragma pack(push, 1)

// One entry of the image: this header, the UTF-16 name with its terminator,
// then the user data. All values little-endian.
typedef struct _tagQVFA_INDEXENTRY {
  WORD wSize;            // entry size = distance to the next entry; 0 in the last
  WORD wTag;             // always QVFA_ENTRYTAG
  DWORD dwFirstChild;
  DWORD dwLastChild;
  DWORD dwNextSibling;
  DWORD dwPrevSibling;
  DWORD dwParent;        // 0: top level; QVFA_NOTLINKED: not linked yet
  BYTE bState;           // QVFA_DELETED | QVFA_CLONE | QVFA_HASCLONES | QVFA_INUSE
  BYTE bUserDataSize;
  WORD wUserDataOffset;  // from the entry's start: 84 + name bytes
  DWORD dwNameCRC;
  DWORD dwExtensionCRC;  // 0 when the name has no extension
  DWORD dwAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftChangeTime;
  ULONGLONG ullSize;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeReference;  // low 32 bits of the file's reference on its volume
} QVFA_INDEXENTRY, *PQVFA_INDEXENTRY;

// The file information record passed to Add and filled by GetFileInfo.
typedef struct _tagQVFA_FILEINFO {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftChangeTime;
  ULONGLONG ullSize;
  ULONGLONG ullState;              // bit 0: in use
  WCHAR szName[MAX_PATH];          // in: the full path; out: the entry's name
  WCHAR szAlternateName[14];       // not used; cleared on output
  DWORD dwReserved;                // 0 on output
  FILETIME ftLastWriteTime;
  ULONGLONG ullParentReference;    // out: the parent's index
  ULONGLONG ullReference;          // in: low 32 bits = volume reference; out: own index
} QVFA_FILEINFO, *PQVFA_FILEINFO;

#pragma pack(pop)

// A search of the index. Every pointer may be null, which sets no
// condition; the texts and values pointed to must outlive the search. All
// bounds are inclusive; times compare as unsigned 64-bit values.
typedef struct _QV_FINDFILTER {
  DWORD dwFlags;                  // QVFF_*
  DWORD dwReserved;
  LPCWSTR pszBasePath;            // null: flat search; "": below the root
  LPCWSTR pszFileMask;            // name, or a mask with * and ?
  LPCWSTR pszExtensionMask;       // extension without its dot, or a mask
  const void* apvReserved[2];     // not used by the index
  const DWORD* pdwAttributesSet;      // attribute bits that must all be set
  const DWORD* pdwAttributesClear;    // attribute bits none of which may be set
  const DWORD* pdwStateSet;           // entry state bits that must all be set
  const FILETIME* pftCreationAfter;   // earliest creation time
  const FILETIME* pftLastAccessAfter; // earliest last access time
  const FILETIME* pftLastWriteAfter;  // earliest last write time
  const FILETIME* pftCreationBefore;  // latest creation time
  const FILETIME* pftLastAccessBefore;// latest last access time
  const FILETIME* pftLastWriteBefore; // latest last write time
  const ULONGLONG* pullMinSize;       // smallest size
  const ULONGLONG* pullMaxSize;       // largest size
} QV_FINDFILTER, *PQV_FINDFILTER;

static_assert(sizeof(QV_FINDFILTER) == 136, "the search filter is 136 bytes");
static_assert(offsetof(QV_FINDFILTER, pszBasePath) == 8, "base path at 8");
static_assert(offsetof(QV_FINDFILTER, pdwAttributesSet) == 48, "attribute bounds at 48");
static_assert(offsetof(QV_FINDFILTER, pftCreationAfter) == 72, "time bounds at 72");
static_assert(offsetof(QV_FINDFILTER, pullMinSize) == 120, "size bounds at 120");

static_assert(sizeof(QVFA_INDEXENTRY) == 84, "the entry header is 84 bytes");
static_assert(offsetof(QVFA_INDEXENTRY, bState) == 24, "entry state at 24");
static_assert(offsetof(QVFA_INDEXENTRY, dwNameCRC) == 28, "name CRC at 28");
static_assert(offsetof(QVFA_INDEXENTRY, ftCreationTime) == 40, "creation time at 40");
static_assert(offsetof(QVFA_INDEXENTRY, ullSize) == 64, "size at 64");
static_assert(offsetof(QVFA_INDEXENTRY, dwVolumeReference) == 80, "volume reference at 80");
static_assert(sizeof(_tagQVFA_FILEINFO) == 620, "the file information record is 620 bytes");
static_assert(offsetof(_tagQVFA_FILEINFO, ullSize) == 28, "size at 28");
static_assert(offsetof(_tagQVFA_FILEINFO, szName) == 44, "name at 44");
static_assert(offsetof(_tagQVFA_FILEINFO, szAlternateName) == 564, "alternate name at 564");
static_assert(offsetof(_tagQVFA_FILEINFO, ftLastWriteTime) == 596, "last write at 596");
static_assert(offsetof(_tagQVFA_FILEINFO, ullReference) == 612, "own reference at 612");

// One extent of a file's data on its volume.
typedef struct _QVFA_RUN {
  ULONGLONG ullLength;  // bytes
  ULONGLONG ullOffset;  // bytes from the start of the volume; 0 for a hole
} QVFA_RUN;

// The extents of one data stream, handed to the caller by FindEntryData.
typedef struct _QVFA_ENTRYDATA {
  BYTE abReserved[16];
  std::vector<QVFA_RUN> runs;
  // A stream held inside its file record: its bytes as the record holds
  // them (the volume's copy carries the record's sector check words).
  std::vector<BYTE> resident;
} QVFA_ENTRYDATA;

// Progress callback of the loaders: code, the caller's user value (passed
// back unchanged), a value and a signed value whose meaning depends on the
// code. A result of ERROR_CANCELLED (1223) asks the loader to skip or stop.
typedef LONGLONG (*QVFA_PROGRESSPROC)(DWORD dwCode, ULONGLONG ullUserValue,
                                      ULONGLONG ullValue, LONGLONG llValue);

class QVBACKUP_API CQVFileArray {
 public:
  // The three arguments are accepted and ignored. Builds an empty index: the
  // root alone, 2048 bytes of capacity.
  CQVFileArray(DWORD dwReserved1 = 0, DWORD dwReserved2 = 0, DWORD dwReserved3 = 0);
  // An empty index that takes a copy of `other`'s image; when the copy cannot
  // be allocated the index stays empty with ERROR_OUTOFMEMORY.
  CQVFileArray(const CQVFileArray& other);
  CQVFileArray& operator=(const CQVFileArray&) = delete;
  virtual ~CQVFileArray();

  // Finds or creates the entry of the full path `pszPath` ("C:\A\b.txt"),
  // creating missing components from the file system, or, with `pInfo`, the
  // path and the last component's data from the record (pszPath is then
  // ignored; every folder above it must already be in the index, else
  // ERROR_PATH_NOT_FOUND). `dwFlags`: QVFA_ADD_CLONE adds the last component
  // again as a clone of an existing one; QVFA_ADD_LOOKUP creates nothing and
  // fails with ERROR_NOT_FOUND when a component is missing;
  // QVFA_ADD_EXACT_CASE matches each component only with a name equal to it
  // code unit for code unit (for names from a file system that tells case
  // apart: "Photos" then gets an entry of its own beside "photos").
  // Without it a component matches a name equal ignoring the case of a to z,
  // one named exactly as given first. The user data
  // (`bUserDataSize` bytes from `pUserData`, zeros when null) goes to the
  // last component's new entry. Returns the entry's index, or 0 with the last
  // error: the file system's error when a component cannot be opened,
  // ERROR_FILENAME_EXCED_RANGE for a component of more than 1023 code units
  // or a record path without a terminator within its 260 code units,
  // ERROR_OUTOFMEMORY, ERROR_INVALID_STATE while chunk loading.
  DWORD Add(LPCWSTR pszPath, _tagQVFA_FILEINFO* pInfo = nullptr, DWORD dwFlags = 0,
            BYTE bUserDataSize = 0, const void* pUserData = nullptr);

  // Finds or creates the child named `pszName` (one name, no separator) of
  // entry `dwParent` (0: a top-level entry), as Add does for one component
  // of a path given with a record: a new entry takes its data from `pInfo`
  // (its szName and ullReference are not read; the volume reference is 0).
  // `dwFlags`: QVFA_ADD_CLONE and QVFA_ADD_EXACT_CASE as for Add; the user
  // data goes to a new entry. For paths of any length, built one name at a
  // time (an index copied from another). Returns the entry, or 0 with
  // ERROR_INVALID_PARAMETER (no such parent, a null record), ERROR_INVALID_NAME
  // (an empty name or one holding a separator), ERROR_FILENAME_EXCED_RANGE,
  // ERROR_OUTOFMEMORY or ERROR_INVALID_STATE while chunk loading.
  DWORD AddChild(DWORD dwParent, LPCWSTR pszName, const _tagQVFA_FILEINFO* pInfo, DWORD dwFlags = 0,
                 BYTE bUserDataSize = 0, const void* pUserData = nullptr);

  // Adds every file and every empty folder below the folder `pszPath`,
  // recursively, each through Add with `dwFlags` (files get `bUserDataSize`
  // zero bytes of user data). Folders that are reparse points (junctions,
  // symbolic links, mount points) are added as leaves and not entered, so a
  // walk never loops and stays on one volume. The callback, when given, is
  // called with code 1 (ullValue = address of the item's full path) before
  // each item, and code 2 (ullValue = that address, llValue = the new index)
  // after a file or empty folder was added; ERROR_CANCELLED from a code-1
  // call skips that item. Returns 1; 0 with ERROR_INVALID_STATE while chunk
  // loading. Folders that cannot be listed and items that cannot be opened
  // add nothing; a folder that exists but cannot be listed (the folder
  // given included) is reported with code 3 (ullValue = address of its path, without a
  // trailing backslash; llValue = the system error). Names below the folder
  // are matched exactly: two items of one listing whose names differ only
  // in case get an entry each.
  BOOL AddDirectory(LPCWSTR pszPath, DWORD dwFlags = 0, BYTE bUserDataSize = 0,
                    QVFA_PROGRESSPROC pfnProgress = nullptr, ULONGLONG ullUserValue = 0);

  // The entry's name; empty with ERROR_INVALID_PARAMETER for an invalid index.
  CQVString GetFileName(DWORD dwIndex);
  // The entry's full path ("C:\Data\x.txt"; a drive entry gives "C:\");
  // empty for index 0, and with ERROR_INVALID_PARAMETER for an invalid index.
  CQVString GetPathName(DWORD dwIndex);
  // The full path of the entry's parent; empty for a top-level entry.
  CQVString GetPath(DWORD dwIndex);
  // Fills the record with the entry's data (the name only, not the path);
  // ERROR_INVALID_PARAMETER for an invalid index or a null record.
  BOOL GetFileInfo(DWORD dwIndex, _tagQVFA_FILEINFO* pInfo);
  // Fills a WIN32_FIND_DATAW (the reserved words are left as they were).
  BOOL GetFileInfo(DWORD dwIndex, WIN32_FIND_DATAW* pFindData);
  // The entry's size; 0 with ERROR_INVALID_PARAMETER for an invalid index.
  ULONGLONG GetSize(DWORD dwIndex);
  // The entry's attributes; INVALID_FILE_ATTRIBUTES for an invalid index.
  DWORD GetAttributes(DWORD dwIndex);
  // The masked bit itself (0x10, 0x01, 0x20), 0 when clear or invalid.
  DWORD IsDirectory(DWORD dwIndex);
  DWORD IsDeleted(DWORD dwIndex);
  DWORD IsInUse(DWORD dwIndex);
  // Empties the index (back to the root alone and 2048 bytes of capacity);
  // ERROR_INVALID_STATE while chunk loading.
  BOOL RemoveAll();

  // ---- Search ----------------------------------------------------------

  // Opens a search and stores the first match in `dwIndex` (0 first). With
  // no filter, or a filter without base path, the search walks the whole
  // image in creation order; with a base path it walks the tree below that
  // folder (its children, or with QVFF_RECURSE its whole subtree, a folder
  // before its contents), adding the folder from the file system when the
  // index lacks it. Returns a handle for FindNextFileW and FindClose, or
  // null with ERROR_NO_MORE_FILES (nothing matches), ERROR_PATH_NOT_FOUND
  // (no such base folder) or ERROR_INVALID_STATE (chunk loading).
  HANDLE FindFirstFileW(DWORD& dwIndex, const QV_FINDFILTER* pFilter);
  // Stores the next match; 0 with ERROR_NO_MORE_FILES at the end, with
  // ERROR_INVALID_HANDLE for a handle this index did not open.
  BOOL FindNextFileW(HANDLE hFind, DWORD& dwIndex);
  // Frees the search; 0 with ERROR_INVALID_HANDLE for a handle this index
  // did not open (or already closed).
  BOOL FindClose(HANDLE hFind);

  // ---- The image ---------------------------------------------------------

  // The image (used length + 2 bytes, trailer included), owned by the index
  // and valid until the next change; its length is stored in *pdwSize. Null
  // with ERROR_INVALID_PARAMETER when pdwSize is null.
  const BYTE* GetRawData(DWORD* pdwSize);
  // Replaces the image with a copy of `dwLength` bytes. An image that is not
  // well formed (entry tags, sizes, names, links, trailer) is refused with
  // ERROR_INVALID_DATA and the index is left as it was; ERROR_OUTOFMEMORY
  // when the copy cannot be made.
  BOOL SetRawData(const BYTE* pData, DWORD dwLength);
  // Replaces the image in pieces: StartSetRawData announces the total length
  // (ERROR_INVALID_PARAMETER for 0, ERROR_INVALID_STATE when already
  // loading, ERROR_OUTOFMEMORY), AddRawDataChunk appends (ERROR_NOT_ENOUGH_MEMORY
  // past the total, nothing copied), EndSetRawData takes the received bytes
  // as the new image. Until EndSetRawData the tree is read-only and every
  // change or search fails with ERROR_INVALID_STATE. EndSetRawData refuses
  // an image that is not well formed with ERROR_INVALID_DATA and puts the
  // previous image back.
  BOOL StartSetRawData(DWORD dwTotalLength);
  BOOL AddRawDataChunk(const BYTE* pData, DWORD dwLength);
  BOOL EndSetRawData();
  // Writes the saved index file (magic, used length, image, 2 bytes of
  // padding) at the handle's position; 0 with the write's error.
  BOOL SaveToFile(HANDLE hFile);
  // Reads a saved index file from the handle's position. A wrong magic
  // number gives ERROR_BAD_FORMAT, a short file ERROR_HANDLE_EOF, a damaged
  // image ERROR_INVALID_DATA; in every failure the index is left as it was.
  BOOL LoadFromFile(HANDLE hFile);

  // ---- Deletion and compaction -------------------------------------------

  // Marks an entry deleted under `dwMode` (QVFA_DEL_*): mode 0 refuses when
  // the parent is deleted (ERROR_INVALID_STATE), mode 1 refuses a folder
  // with a live child (ERROR_DIR_NOT_EMPTY), mode 2 deletes regardless, mode
  // 3 deletes the whole subtree; another mode gives ERROR_NOT_SUPPORTED.
  BOOL DeleteItem(DWORD dwIndex, DWORD dwMode);
  // Removes deleted entries from the image, moving the others down and
  // rewriting their links; with `bRemoveEmptyFolders`, folders below which no
  // live file remains go too. Every index handed out before may be stale.
  BOOL Compact(BOOL bRemoveEmptyFolders);

  // ---- Volumes read raw ----------------------------------------------------

  // Opens the raw volume of drive `wcDrive` (on POSIX the device or image the
  // drive map gives the letter), reads its boot sector and recognises NTFS
  // (reading its volume data) or FAT12/16/32. FALSE with the system's error,
  // or ERROR_BAD_FORMAT when the file system is not one of these.
  BOOL OpenDrive(WCHAR wcDrive);
  // Closes the volume (when open) and forgets its file system.
  void CloseDrive();
  // QVFA_FS_NTFS, QVFA_FS_FAT12/16/32, or QVFA_FS_NONE.
  DWORD GetFatSystem();
  // A token for the open volume (INVALID_HANDLE_VALUE when none); it is the
  // index's own and not a system handle.
  HANDLE GetHandle();
  HANDLE GetVolumeHandle();
  // Opens the drive of `pszPath`'s first character, loads it (NTFS or FAT)
  // and closes it again. FALSE when it cannot be opened or read, with the
  // loader's error.
  BOOL LoadVolume(LPCWSTR pszPath, QVFA_PROGRESSPROC pfnProgress = nullptr, ULONGLONG ullUserValue = 0);
  // Empties the index, then AddNTFSVolume.
  BOOL LoadNTFSVolume(LPCWSTR pszPath, QVFA_PROGRESSPROC pfnProgress = nullptr, ULONGLONG ullUserValue = 0);
  // Adds every named, in-use file record of the open NTFS volume: one entry
  // per hard-link name (DOS 8.3 names left out), linked into a tree at the
  // end; the volume's root folder becomes the drive entry ("E:"). Progress:
  // code 0 with steps 0..850 while reading, 852.. while linking. A damaged
  // record is skipped; folders that would be each other's parents are cut
  // loose (the entry becomes top-level), so every path ends.
  BOOL AddNTFSVolume(LPCWSTR pszPath, QVFA_PROGRESSPROC pfnProgress = nullptr, ULONGLONG ullUserValue = 0);

  // The raw variant of AddNTFSVolume: reads the records straight from the
  // volume (following the MFT's own run list, checking every record's
  // update sequence), records not in use included (their entries lack
  // QVFA_INUSE), then closes the volume.
  BOOL AddNTFSVolume2(LPCWSTR pszPath, QVFA_PROGRESSPROC pfnProgress = nullptr, ULONGLONG ullUserValue = 0);

  // Adds the open FAT12/16/32 volume: the drive entry ("E:"), then every
  // file and folder, each folder before its contents, depth first in folder
  // order. Long names are read as UTF-16; short names show their lower-case
  // flags. Deleted names, the volume label, "." and ".." are left out, and so
  // are names that hold a path separator or a control character. A damaged
  // chain or folder ends where it is damaged and the load goes on. FALSE
  // with ERROR_INVALID_HANDLE when no volume is open, ERROR_NOT_SUPPORTED
  // when it is not FAT, ERROR_BAD_FORMAT when its geometry is impossible, or
  // the error of adding the drive entry.
  BOOL LoadFATVolume(LPCWSTR pszPath);

  // Appends the extents (byte length, byte offset on the volume; offset 0
  // for a hole) of every data stream of the entry's record, unnamed and
  // named, in record order; a resident stream is one extent inside the MFT.
  // Returns the number of extents in `runs`; 0 with the last error (the
  // volume of the index's drive is opened when none is).
  DWORD GetRunList(DWORD dwIndex, std::vector<QVFA_RUN>& runs);
  // The extents of the entry's `dwStream`-th data stream (0: the first), in
  // a new object released with ReleaseEntryData; null when there is none.
  QVFA_ENTRYDATA* FindEntryData(DWORD dwIndex, DWORD dwStream);
  // Reads the stream's first `dwSize` bytes (holes read as zeros) into
  // `pBuffer`; FALSE with the last error when the volume cannot be read.
  BOOL ReadEntryData(QVFA_ENTRYDATA* pData, BYTE* pBuffer, DWORD dwSize);
  static void ReleaseEntryData(QVFA_ENTRYDATA* pData);

  // ---- User data, counts, set operations ---------------------------------

  // The entry's user data inside the image (size in *pdwSize when given);
  // null with ERROR_INVALID_PARAMETER for an invalid index.
  BYTE* GetUserData(DWORD dwIndex, DWORD* pdwSize = nullptr);
  // Copies as many bytes as the entry's user data size from pData.
  BOOL SetUserData(DWORD dwIndex, const void* pData);
  // Entries in the image, the root not counted; deleted ones only when
  // `bIncludeDeleted` is non-zero.
  DWORD GetItemCount(BOOL bIncludeDeleted);
  // Deletes from this index every entry with a counterpart in `other` (same
  // name key and every test of `dwCompareFlags`), then compacts. Both indexes
  // are expected to have been filled in the same order.
  BOOL SubtractArray(CQVFileArray& other, DWORD dwCompareFlags);
  // 1 when every test of `dwCompareFlags` (QVFA_CMP_*) holds between this
  // index's entry and `other`'s entry.
  BOOL CompareEntries(DWORD dwIndex, CQVFileArray& other, DWORD dwOtherIndex,
                      DWORD dwCompareFlags);
  // The state bits QVFA_CLONE / QVFA_HASCLONES themselves (2 or 4), or 0.
  DWORD IsClone(DWORD dwIndex);
  DWORD HasClones(DWORD dwIndex);
  // 1 when the folder has a child (with `bFoldersOnly`, a child folder).
  BOOL HasChildren(DWORD dwIndex, BOOL bFoldersOnly);
  // The sum of the sizes of all entries, deleted ones and folders included.
  ULONGLONG GetTotalSize();

 private:
  friend class qv::fileindex::FatReader;
  friend struct qvfuzz::FileArrayAccess;

  DWORD GetDirectoryEntry(LPCWSTR pszPath, _tagQVFA_FILEINFO* pInfo, DWORD dwFlags,
                          BYTE bUserDataSize, const void* pUserData);
  // The same, with the components that start at or after `exactFrom` (a
  // position in the path) matched as QVFA_ADD_EXACT_CASE matches them.
  DWORD GetDirectoryEntry(LPCWSTR pszPath, _tagQVFA_FILEINFO* pInfo, DWORD dwFlags,
                          BYTE bUserDataSize, const void* pUserData, std::size_t exactFrom,
                          const qv::platform::FileInformation* pListed = nullptr);
  // The entry named `pszName` below `dwParent`, matched exactly, created
  // from `listed` (what the folder listing told of it) when there is none:
  // the last step of GetDirectoryEntry for a folder walk that knows the
  // parent's entry already.
  DWORD AddListedChild(DWORD dwParent, LPCWSTR pszName, DWORD dwNameLength,
                       const qv::platform::FileInformation& listed, DWORD dwFlags, BYTE bUserDataSize);
  DWORD CreateEntry(DWORD dwNameBytes, DWORD dwParent, BYTE bUserDataSize,
                    const void* pUserData);
  DWORD CreateDirectoryEntry(const _tagQVFA_FILEINFO* pInfo, LPCWSTR pszName,
                             DWORD dwNameLength, DWORD dwParent, BYTE bUserDataSize,
                             const void* pUserData);
  // Without `pListed`, the information comes from opening the path.
  DWORD CreateDirectoryEntry(LPCWSTR pszName, DWORD dwNameLength, DWORD dwParent,
                             BYTE bUserDataSize, const void* pUserData,
                             const qv::platform::FileInformation* pListed = nullptr);
  DWORD FindChild(LPCWSTR pszName, DWORD dwNameLength, DWORD dwParent);
  void InsertChildSlot(qv::fileindex::ChildSlots& table, DWORD dwChild);
  void LinkAsLastChild(DWORD dwIndex, DWORD dwParent);
  DWORD FindChildWithCRC(LPCWSTR pszName, DWORD dwNameLength, DWORD dwCRC, DWORD dwParent,
                         bool bExactCase = false);
  DWORD ScanChildren(LPCWSTR pszName, DWORD dwNameLength, DWORD dwCRC, DWORD dwParent,
                     bool bExactCase, DWORD* pdwChildren);
  void BuildChildLookup(DWORD dwParent);
  void RememberChild(DWORD dwParent, DWORD dwCRC, DWORD dwChild);
  DWORD GetStringCRC(LPCWSTR pszName);
  DWORD FastFindNameCRC(DWORD dwCRC, DWORD dwStart);
  QVFA_INDEXENTRY* GetEntry(DWORD dwIndex) const;
  DWORD GetOffset(const QVFA_INDEXENTRY* pEntry) const;
  QVFA_INDEXENTRY* GetRootParent(QVFA_INDEXENTRY* pEntry) const;
  bool IsValidIndex(DWORD dwIndex) const;
  QVFA_INDEXENTRY* CheckedEntry(DWORD dwIndex) const;
  bool EnsureCapacity(DWORD dwEntrySize);
  void ResetImage();
  void CountItems();
  void TakeImage(BYTE* pImage, DWORD dwUsed, DWORD dwCapacity);
  BOOL ReadMFTEntry(LONGLONG llRecord, std::vector<BYTE>* pBuffer);
  BOOL ProcessMFTEntry(const std::vector<BYTE>& record);
  BOOL StartNtfsLoad(LPCWSTR pszPath);
  void RelinkDatabase(DWORD dwStart, QVFA_PROGRESSPROC pfnProgress, ULONGLONG ullUserValue);
  BOOL CollectStreams(DWORD dwIndex, DWORD dwStream, std::vector<QVFA_RUN>* pRuns, DWORD* pdwFound,
                      std::vector<BYTE>* pResident = nullptr);
  static void FreeSearch(const void* pHandle);
  BOOL DirectorySearch(HANDLE hFind, DWORD& dwIndex);
  BOOL EntryPassesFilter(const QVFA_INDEXENTRY* pEntry, const void* pFilterCopy) const;
  BOOL DeleteSubItems(DWORD dwIndex, BOOL bOnlyEmptyFolders, BOOL* pbLiveRemains);
  void MarkDeleted(QVFA_INDEXENTRY* pEntry);
  void RemoveEmptyFolders(QVFA_INDEXENTRY* pFolder);
  void UnlinkEntry(DWORD dwIndex);
  void MoveEntry(DWORD dwFrom, DWORD dwTo);
  void DeleteBelowDeletedFolders();

  std::unordered_map<ULONGLONG, DWORD> m_mapReference;  // volume reference -> index
  BYTE* m_pImage;
  BYTE m_abRecordBuffer[2048];    // one volume file record at a time
  DWORD m_dwUsed;                 // offset of the trailer
  DWORD m_dwCapacity;             // allocated bytes of the image
  HANDLE m_hVolume;
  WCHAR m_wcDrive;
  BOOL m_bChunkLoading;
  DWORD m_dwEntryCount;           // root not counted, deleted included
  DWORD m_dwDeletedCount;
  BYTE m_abBootSector[512];
  BYTE m_abNtfsVolumeData[96];
  DWORD m_dwFileSystem;           // 1: NTFS
  BYTE* m_pPreviousImage;         // kept while chunk loading, to fall back on
  DWORD m_dwPreviousUsed;
  DWORD m_dwPreviousCapacity;
  std::unordered_set<const void*> m_setSearchHandles;  // searches still open
  // Name keys of the children of large folders (folder -> key -> child), so
  // that filling a folder of many files is not quadratic. Rebuilt on demand;
  // dropped whenever entries move or the image is replaced.
  std::unordered_map<DWORD, qv::fileindex::ChildSlots> m_mapLargeFolders;
  qv::platform::RawVolume* m_pRawVolume;  // the open volume behind m_hVolume, owned
};

#endif  // QVBACKUP_QVFILEARRAY_H_
