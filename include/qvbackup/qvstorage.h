// CQVStorage: the archive container.
//
// An archive is one byte stream stored in one or more volume files of equal
// size (the last one shorter): a 246-byte header, then data blocks written
// one after another. Each block holds up to one block size of the caller's
// data, compressed with zlib when that shrinks it and encrypted with a key
// derived from the archive's password. An archive may be an increment of a
// base archive (same identifier, names carrying the increment number) or be
// stored behind a self-extracting program.
//
// Archive offsets count over all volumes: volume index x volume size +
// position in that volume file.
//
// Every operation records its result in the object's error holder (0 for
// success; read it with GetError) and, on failure, also sets the thread's
// last error. One object is used by one thread at a time.
#ifndef QVBACKUP_QVSTORAGE_H_
#define QVBACKUP_QVSTORAGE_H_

#include <cstddef>
#include <memory>
#include <unordered_set>
#include <vector>

#include "qvbackup/export.h"
#include "qvbackup/qvcrypto.h"
#include "qvbackup/qverror.h"
#include "qvbackup/qvfilearray.h"
#include "qvbackup/qvobject.h"
#include "qvbackup/qvstring.h"
#include "qvbackup/wintypes.h"

namespace qv::platform {
class FileLock;
class RandomAccessFile;
}
namespace qv::storage {
class BlockOpener;
class BlockQueue;
class ReadAhead;
class BlockSealer;
struct KeyBytes;
struct QueuedBlock;
struct SealSettings;
struct BlockPlace;
}

#define QVS_HEADER_SIZE 246
#define QVS_BLOCK_HEADER_SIZE 14
#define QVS_DEFAULT_BLOCK_SIZE 0x40000u
#define QVS_MIN_BLOCK_SIZE 1000u
#define QVS_MAX_BLOCK_SIZE 0x20000000u
#define QVS_NO_VOLUME_LIMIT 0xFFFFFFFFFFFFFFFFull
#define QVS_INVALID_OFFSET 0xFFFFFFFFFFFFFFFFull
#define QVS_CURRENT_INCREMENT 0xFFFFFFFFu

// Header flags.
#define QVS_FLAG_SELFEXTRACTING 0x1
#define QVS_FLAG_INCREMENTAL 0x2

// Options of CreateBlock.
#define QVS_BLOCK_STORE_PLAIN 0x1  // neither compressed nor encrypted

// How hard the blocks written are compressed (SetCompressionEffort). Every
// effort writes the same kind of zlib stream; only time and size differ.
#define QVS_EFFORT_DEFAULT 0  // chosen per block from how well a sample of it shrinks
#define QVS_EFFORT_FAST 1     // the least time per byte
#define QVS_EFFORT_BEST 2     // the smallest archive, at several times the time

// Marks in a block header's kind word.
#define QVS_BLOCK_KIND_MASK 0x0FFF
#define QVS_BLOCK_COMPRESSED 0x1000
#define QVS_BLOCK_ENCRYPTED 0x2000

// Progress code sent when a volume file cannot be opened: the callback gets
// the volume index and the address of a 276-character buffer holding the
// path; it may write another path there. ERROR_CANCELLED gives up.
#define QVS_PROGRESS_VOLUME_MISSING 2
#define QVS_VOLUME_PATH_CHARS 276

// Answers to the volume-written callback (SetVolumeWrittenProc).
#define QVS_VOLUME_LEFT 0             // the file stays where it is
#define QVS_VOLUME_TAKEN 0xFFFFFFFFu  // the host took the file away (sent it elsewhere, removed it)

// What a member of a chain is, as InspectChain finds it on disk.
#define QVS_MEMBER_COMPLETE 0    // ended by its closing record, and of this chain
#define QVS_MEMBER_INCOMPLETE 1  // its run never ended: the header was never finished
#define QVS_MEMBER_DAMAGED 2     // ended, but its header or closing record cannot be read
#define QVS_MEMBER_MISSING 3     // no first volume, though a later member has one
#define QVS_MEMBER_FOREIGN 4     // another archive's identifier, or another member's number
#define QVS_MEMBER_REPLACED 5    // left behind by an archive that the base replaced

// Why CloseArchive removed a file when it put an archive in place.
#define QVS_REMOVED_REPLACED 1    // of the chain the new base replaced, or past the new end
#define QVS_REMOVED_UNFINISHED 2  // left by a run that did not end
#define QVS_REMOVED_OUTSIDE 3     // of no chain: past a gap, another archive's, or left over

#pragma pack(push, 1)

// The description of an archive to create or open.
typedef struct _QVS_ARCHIVE_INFO {
  DWORD dwSize;                 // must be sizeof(QVS_ARCHIVE_INFO), 180
  LPCWSTR pszFolder;            // existing folder of the volume files
  LPCWSTR pszName;              // archive name (file stem); required
  LPCWSTR pszExtension;         // at most 5 characters; null: "QVA"
  LPCWSTR pszSFXStub;           // self-extracting program to put in front
  LPCWSTR pszPassword;          // null or empty: not encrypted
  DWORD dwEncryptionKeySize;    // 32, 64, 128, 160 or 256 bits
  DWORD dwFlags;                // copied to the header (bit 1: incremental)
  DWORD dwCompression;          // non-zero: compress blocks
  DWORD dwBlockSize;            // outside 1000..0x20000000: 0x40000
  DWORD dwReserved1;
  ULONGLONG ullVolumeSize;      // QVS_NO_VOLUME_LIMIT: one volume
  BYTE abReserved[96];
  LPCWSTR pszIncrementTag;      // null: "I"
  DWORD dwIncrementToOpen;      // OpenArchive opens this increment (0: base)
} QVS_ARCHIVE_INFO, *PQVS_ARCHIVE_INFO;

#pragma pack(pop)

// One member of a chain (InspectChain).
typedef struct _QVS_MEMBER_STATE {
  DWORD dwIncrement;                    // 0: the base
  DWORD dwState;                        // QVS_MEMBER_*
  WCHAR szPath[QVS_VOLUME_PATH_CHARS];  // its first volume file, NUL-terminated
} QVS_MEMBER_STATE;

static_assert(sizeof(QVS_ARCHIVE_INFO) == 180, "the archive description is 180 bytes");
static_assert(offsetof(QVS_ARCHIVE_INFO, pszFolder) == 4, "folder at 4");
static_assert(offsetof(QVS_ARCHIVE_INFO, dwEncryptionKeySize) == 44, "key size at 44");
static_assert(offsetof(QVS_ARCHIVE_INFO, ullVolumeSize) == 64, "volume size at 64");
static_assert(offsetof(QVS_ARCHIVE_INFO, pszIncrementTag) == 168, "increment tag at 168");
static_assert(offsetof(QVS_ARCHIVE_INFO, dwIncrementToOpen) == 176, "increment to open at 176");

// How the container waits between attempts to open a busy first volume.
typedef void (*QVS_SLEEPPROC)(DWORD dwMilliseconds);

// Told when a volume of an archive being created is whole and synced: the
// archive has gone on to the next one and never writes it again. The
// first volume is never told (its header is written last). The callback
// gets the volume index and its path (the file still under its temporary
// name) and answers QVS_VOLUME_LEFT, QVS_VOLUME_TAKEN, or an error code
// that fails the archive (every later write fails with it).
typedef DWORD (*QVS_VOLUMEPROC)(ULONGLONG ullUserValue, DWORD dwVolume, LPCWSTR pszPath);

class QVBACKUP_API CQVStorage : public CQVObject {
 public:
  CQVStorage();
  // A copy starts closed: it takes the description (names, password, header)
  // but never the source's open volume or searches.
  CQVStorage(const CQVStorage& other);
  CQVStorage& operator=(const CQVStorage& other);
  // Closes nothing on disk: close the archive first (an open volume is
  // released without rewriting the header).
  ~CQVStorage() override;
  BOOL Dump() override;

  // The code of the last operation (0: success).
  DWORD GetError() const;

  // ---- Creating, opening, closing ----------------------------------------

  // Creates the archive described by `pInfo` and writes its header; blocks
  // follow. A busy first volume is tried again five times, a second apart.
  // With the incremental flag the archive becomes the chain's next member,
  // or takes the place of a last member whose run never ended; a chain with
  // a gap, another archive's member or a damaged member takes none
  // (ERROR_INVALID_DATA, the log names the file). Errors:
  // ERROR_INVALID_PARAMETER for a bad description (wrong size, no name, no
  // such folder, bad key size), ERROR_BUSY when another run holds the
  // archive's lock, the system's error when volume 0 cannot be created.
  BOOL BeginArchive(QVS_ARCHIVE_INFO* pInfo, QVFA_PROGRESSPROC pfnProgress = nullptr,
                    ULONGLONG ullUserValue = 0);
  // As BeginArchive, as the next increment of the archive of that name.
  BOOL BeginIncrementalArchive(QVS_ARCHIVE_INFO* pInfo, QVFA_PROGRESSPROC pfnProgress = nullptr,
                               ULONGLONG ullUserValue = 0);
  // Opens an existing archive (the increment pInfo->dwIncrementToOpen) and
  // checks its password: ERROR_BAD_FORMAT when it is no archive,
  // ERROR_WRONG_PASSWORD when the password does not match. With no
  // description, opens the archive carried by the running program (OpenSFX
  // without password). An archive on read-only media is opened read-only.
  BOOL OpenArchive(QVS_ARCHIVE_INFO* pInfo, QVFA_PROGRESSPROC pfnProgress = nullptr,
                   ULONGLONG ullUserValue = 0);
  // Opens the archive stored behind the running program, read-only.
  BOOL OpenSFX(QVFA_PROGRESSPROC pfnProgress, ULONGLONG ullUserValue, LPCWSTR pszPassword);
  // Rewrites the header (with the end-of-data offset) and closes the volume;
  // ERROR_INVALID_STATE when the archive is not open. For an archive being
  // created, this is where it takes its place (see the top of this file);
  // when that fails the archive it would have replaced is as it was (or, if
  // the failure comes once the new one is committed, the new one is whole
  // and readable, and the next run finishes moving it). The lock that
  // BeginArchive took is let go.
  BOOL CloseArchive();
  // Gives up an archive being created: closes it and removes what was
  // written of it; the archive it would have replaced is untouched. An
  // archive opened for reading is closed without its header being
  // rewritten. The lock that BeginArchive took is let go. TRUE also when
  // nothing is open; the error holder keeps the error of what failed
  // before, which says why the archive was given up.
  BOOL AbandonArchive();

  // ---- One writer, chains ----------------------------------------------------

  // Takes the lock of the archive named by pInfo's folder and name (the file
  // NAME.qvlock there) until UnlockArchive or the object's end, so that a
  // run can read a chain and then write its next member with no other run
  // in between; BeginArchive takes it itself otherwise. Another run holding
  // it: ERROR_BUSY at once, and GetLockHolder tells who ("process 1234 on
  // host, since ... UTC"). A lock whose holder died is simply taken.
  BOOL LockArchive(QVS_ARCHIVE_INFO* pInfo);
  BOOL UnlockArchive();
  CQVString GetLockHolder() const;

  // Writes a new chain in place of the archive's chain, as a whole: after
  // BeginChainRewrite (the archive's lock held with LockArchive), each
  // BeginArchive writes the member pInfo->dwIncrementToOpen names, 0 first
  // (a new base, with a new identifier and the replaced chain's listed)
  // and then 1, 2, ... in order (increments of that base), and each
  // CloseArchive syncs the member and leaves it under its temporary
  // names. CommitChainRewrite then puts them all in place at once: the
  // increments are staged as ".qvnew" first and the base last, and from
  // the base's rename on the new chain is the archive's (a run that dies
  // before leaves the old chain as it was; the next run, or the reader,
  // finishes the move); the old chain's files are removed after. Once the
  // commit is made CommitChainRewrite succeeds: what cannot be moved or
  // removed then (a file held open elsewhere) is left to the next run, and
  // the chain reads as the new one meanwhile. FALSE only before the commit,
  // with everything staged removed. The old chain's files must not be held
  // open by this process (Windows renames no file over an open one).
  // AbandonChainRewrite (also the object's end) removes what was written.
  // ERROR_INVALID_STATE out of order or without the lock.
  BOOL BeginChainRewrite();
  BOOL CommitChainRewrite();
  BOOL AbandonChainRewrite();

  // Examines, without the password, the chain of the archive pInfo
  // describes (folder, name, extension, increment tag, split into volumes or
  // not): the base and every increment up to the highest numbered one on
  // disk. Writes at most dwCapacity states, in increment order, and returns
  // how many members there are (0 when there is no member at all, or on
  // failure with the error: ERROR_INVALID_PARAMETER for a bad description).
  DWORD InspectChain(QVS_ARCHIVE_INFO* pInfo, QVS_MEMBER_STATE* pStates, DWORD dwCapacity);

  // Clears away what runs that died left of the archive pInfo describes
  // (BeginArchive does it too): finishes moving a member they had
  // committed, removes what they had not, and the leftovers of archives a
  // base here replaced. Under the archive's lock (held, or taken for the
  // call: ERROR_BUSY when another run holds it). GetRemovedFile tells what
  // went.
  BOOL ClearLeftovers(QVS_ARCHIVE_INFO* pInfo);

  // The files the last CloseArchive (or BeginArchive, which first clears
  // what a run that died left) removed, and why (QVS_REMOVED_*); null past
  // the end.
  DWORD GetRemovedFileCount() const;
  LPCWSTR GetRemovedFile(DWORD dwIndex, DWORD* pdwReason) const;

  // ---- Volumes, sizes, positions -----------------------------------------

  // The path of volume `dwVolume` of increment `dwIncrement` (all ones: the
  // open header's increment); volume all ones: the name without a number.
  CQVPathString GetArchiveVolumePath(DWORD dwVolume, DWORD dwIncrement = QVS_CURRENT_INCREMENT);
  DWORD GetVolumeCount(DWORD dwUnused = 0);
  ULONGLONG GetVolumeSize();
  DWORD GetArchiveBlockSize();
  // The open archive's key size in bits (0: not encrypted) and whether its
  // blocks may be compressed, as its header says.
  DWORD GetArchiveKeySize();
  BOOL IsArchiveCompressed();
  ULONGLONG GetArchiveOffset();
  // The bytes of the archive's files (selector 0 on an increment: those of
  // the previous increment); all ones on failure.
  ULONGLONG GetArchiveSize(DWORD dwSelector);
  // Cuts the archive at the current position and deletes later volumes.
  BOOL SetEndOfArchive();

  // Moves in the stream: origin 0 from the start, 1 the current position, 2
  // back from the end. Returns the target, all ones on failure (origin above
  // 2: ERROR_INVALID_PARAMETER). The position moves only with `bMove`.
  ULONGLONG Seek(ULONGLONG ullOffset, DWORD dwOrigin, BOOL bMove);
  // Transfers `dwLength` bytes at the current position, across volumes.
  BOOL ReadData(BYTE* pBuffer, DWORD dwLength);
  BOOL WriteData(const BYTE* pBuffer, DWORD dwLength);
  // Whether `dwLength` bytes fit before the end of the current volume; the
  // room left goes to *pullRoom when given.
  BOOL DataFitsInCurrentVolume(DWORD dwLength, ULONGLONG* pullRoom = nullptr);

  // ---- Blocks --------------------------------------------------------------

  // Appends a block of `dwLength` bytes (at most the block size; 0 is
  // refused) of kind `wKind` (0-4095); its offset goes to *pullOffset.
  BOOL CreateBlock(const BYTE* pData, DWORD dwLength, DWORD dwOptions,
                   ULONGLONG* pullOffset = nullptr, WORD wKind = 1);
  // Reads the block at `ullOffset` (all ones: the current position). The
  // data (released with DeleteFoundBlockData) goes to *ppData and its length
  // to *pdwLength. A block that fails any check (lengths, checksum,
  // decompression, decryption) gives ERROR_INVALID_DATA; the end of the
  // stream gives ERROR_NO_MORE_ITEMS.
  BOOL GetBlock(ULONGLONG ullOffset, BYTE** ppData, DWORD* pdwLength);
  // Walks the blocks from `ullStart` (all ones: the first after the header).
  HANDLE FindFirstDataBlock(BYTE** ppData, DWORD* pdwLength, ULONGLONG ullStart = QVS_INVALID_OFFSET);
  BOOL FindNextDataBlock(HANDLE hFind, BYTE** ppData, DWORD* pdwLength);
  BOOL FindBlockClose(HANDLE hFind);
  BOOL DeleteFoundBlockData(BYTE*& pData, DWORD dwLength);

  BOOL CheckArchivePassword(LPCWSTR pszPassword);
  // After the password was accepted: TRUE when the header's check value did
  // not match it, yet it opened the archive's first encrypted block (the
  // header is damaged, the password is right), or when an archive without
  // a key size holds a check value. The archive reads as usual;
  // a caller should say that its header is damaged.
  BOOL IsCheckValueDamaged() const;
  // Key size in bits <-> key-size code; 0 and ERROR_NOT_SUPPORTED otherwise.
  DWORD GetKeyType(DWORD dwBits);
  DWORD GetKeySize(DWORD dwCode);

  // ---- Increments, self-extracting archives, user data --------------------

  // The first increment number whose file for volume `dwVolume` is missing
  // (only the files' names are looked at; InspectChain tells what they are).
  DWORD GetIncrementCount(DWORD dwVolume);
  WORD GetCurrentIncrement();
  CQVPathString GetIncrementBase();
  BOOL CreateSFX(QVS_ARCHIVE_INFO* pInfo);
  ULONGLONG GetHeaderOffset();
  // Marks the executable at `pszPath` as carrying an archive from its end.
  BOOL SetHeaderOffset(LPCWSTR pszPath);
  // Positions at `ullOffset` (all ones: the header).
  BOOL SetOriginalFilePointer(ULONGLONG ullOffset);
  BOOL SetUserData(ULONGLONG ullUserData);
  ULONGLONG GetUserData();
  // When the open member's backup began, in seconds since 1970 UTC (0 for
  // members written before it was recorded). A member being written gets
  // the time BeginArchive is called; SetMemberTime gives it another (a
  // chain rewritten keeps its members' times). ERROR_INVALID_STATE when no
  // archive is open (or, to set, none is being written).
  LONGLONG GetMemberTime();
  BOOL SetMemberTime(LONGLONG llSeconds);

  // ---- Worker threads ----------------------------------------------------------

  // Gives the container `dwThreads` worker threads (1: none, the default;
  // above 64: 64) to checksum, compress and encrypt the blocks it writes.
  // The blocks still reach the archive in the order CreateBlock was called,
  // written by the calling thread, and a plain archive's bytes are the same
  // whatever the number. With workers, CreateBlock queues the block and
  // returns; the block offset it was asked for is filled in when the block
  // is written (by a later CreateBlock, FlushBlocks or any other operation
  // on the stream), so the variable must live until then. A write error is
  // then told by the call that meets it, and every later block fails with
  // the same error. Queued blocks are settled before the count changes.
  void SetWorkerThreads(DWORD dwThreads);
  DWORD GetWorkerThreads() const;
  // How hard the blocks written from now on are compressed: one of
  // QVS_EFFORT_*. Anything else fails with ERROR_INVALID_PARAMETER. Blocks
  // queued to workers are settled before the effort changes.
  BOOL SetCompressionEffort(DWORD dwEffort);
  DWORD GetCompressionEffort() const;
  // Writes every block still queued to the workers. TRUE when all were
  // written (also when none was queued); otherwise FALSE with the error
  // that stopped them (the blocks after it are dropped).
  BOOL FlushBlocks();

  // Who is told of each volume of the archives created from now on as it
  // is finished (QVS_VOLUMEPROC); null: nobody. A host that takes the
  // volumes away (to send them to another store while the next is
  // written) keeps the local disk to a few volumes whatever the archive's
  // size: the volumes taken are left out of the move into place, which
  // then puts the others under their names; the host puts the taken ones
  // in place where it sent them.
  void SetVolumeWrittenProc(QVS_VOLUMEPROC pfnWritten, ULONGLONG ullUserValue);

  // Test seam: how to wait between attempts to open a busy first volume.
  void SetSleepProc(QVS_SLEEPPROC pfnSleep);

 protected:
  // The file of the running program, which carries a self-extracting
  // archive; a seam for tests.
  virtual CQVPathString GetRunningProgramPath();

 private:
  BOOL Fail(DWORD dwError);
  BOOL Succeed();
  BOOL IsOpen() const;
  void CloseVolume();
  BOOL UpdateInternalInfo(QVS_ARCHIVE_INFO* pInfo);
  BOOL HeaderCreate();
  BOOL HeaderWrite();
  BOOL HeaderRead();
  BOOL OpenVolume(DWORD dwVolume);
  BOOL OpenVolumeForOffset(ULONGLONG ullOffset);
  BOOL OpenFirstVolumeForCreate(BOOL bExisting);
  BOOL Transfer(BYTE* pBuffer, DWORD dwLength, bool bWrite, DWORD* pdwDone);
  BOOL CheckHeader();
  BOOL OpenRunningProgram();
  BOOL FailClosed(DWORD dwError);
  BOOL DeriveKey(DWORD dwCode, BYTE* pbKey);
  BOOL DeriveBlockKey(qv::storage::KeyBytes* pKey, DWORD* pdwKeyBits);
  BOOL DeriveCheckValue(BYTE pbCheck[20]);
  BOOL WriteSealed(const BYTE* pHeader, const BYTE* pPayload, DWORD dwPayloadLength, bool bContiguous,
                   ULONGLONG* pullOffset);
  BOOL QueueBlock(const BYTE* pData, DWORD dwLength, DWORD dwOptions, ULONGLONG* pullOffset, WORD wKind);
  BOOL WriteQueued(qv::storage::QueuedBlock& block);
  BOOL SettleQueue();
  BOOL StopQueue(DWORD dwError);
  BOOL StartQueue();
  BOOL PrepareSealing(bool bEncrypt, qv::storage::SealSettings* pSettings, qv::storage::KeyBytes* pKey);
  void DropQueue();
  ULONGLONG CurrentOffset();
  BOOL ReadBlockHere(BYTE** ppData, DWORD* pdwLength);
  // Blocks read ahead of a reader going in order (storage_read_ahead.cc).
  void StartReadAhead();
  bool ReadingAhead();
  BOOL DropReadAhead();
  void ForgetReadAhead();
  void FillReadAhead();
  bool ReadOneAhead(ULONGLONG ullEndOfData, DWORD dwBlockSize);
  bool TakeAhead(BYTE** ppData, DWORD* pdwLength);
  qv::storage::BlockPlace PlaceOf(ULONGLONG ullOffset) const;
  bool KeyOpensFirstBlock();
  bool KeyOfTheCopyOpens();
  ULONGLONG LastVolumeOf(ULONGLONG ullEndOfData) const;
  void CopyFrom(const CQVStorage& other);
  bool HasVolumeLimit() const;
  ULONGLONG VolumeLimit() const;
  // Safe replacement (storage_commit.cc), the lock (storage_lock.cc) and
  // chains (storage_chain.cc).
  struct ChainMember;
  struct RemovedFile {
    CQVString path;
    DWORD reason;
  };
  CQVPathString VolumeFilePath(DWORD dwVolume, DWORD dwIncrement = QVS_CURRENT_INCREMENT);
  BOOL SyncVolume();
  BOOL FinishArchive();
  BOOL MoveIntoPlace(DWORD dwVolumes);
  DWORD CountStagedVolumes();
  // The volume just left behind by a write going on to the next one is
  // offered to the volume-written callback; FALSE with the host's error.
  BOOL OfferWrittenVolume(DWORD dwVolume);
  // Whether the host took volume `dwVolume` of the archive being created.
  bool IsVolumeTaken(DWORD dwVolume) const;
  void ForgetTakenVolumes();
  void RemoveStagedVolumes();
  void RemoveReplacedFiles(DWORD dwVolumes);
  BOOL RecoverArchiveFiles();
  BOOL PlanReplacement();
  BOOL BeginRewrittenMember(QVS_ARCHIVE_INFO* pInfo);
  void RemoveRewrittenMembers();
  BOOL ChooseIncrement(QVS_ARCHIVE_INFO* pInfo, DWORD* pdwIncrement);
  BOOL ExamineChain(const QVS_ARCHIVE_INFO& info, std::vector<ChainMember>* pMembers);
  void ExamineMember(DWORD dwIncrement, const ChainMember* pBase, ChainMember* pMember);
  BOOL PrepareForReading(QVS_ARCHIVE_INFO* pInfo);
  BOOL TakeLock(LPCWSTR pszFolder, LPCWSTR pszName, BOOL bForBegin);
  void ReleaseBeginLock();
  void NoteRemoved(const WCHAR* pszPath, DWORD dwReason);

  CQVError m_error;
  qv::platform::RandomAccessFile* m_pVolume;  // the open volume file, owned
  BYTE* m_pHeader;                             // QVS_HEADER_SIZE bytes
  CQVCrypto m_crypto;
  DWORD m_dwCurrentVolume;
  DWORD m_dwCurrentVolumeIncrement;
  BOOL m_bSFXReadMode;
  BOOL m_bHasPassword;
  CQVString m_strPassword;
  CQVString m_strName;
  CQVString m_strFolder;
  CQVString m_strExtension;
  CQVString m_strIncrementTag;
  QVFA_PROGRESSPROC m_pfnProgress;
  ULONGLONG m_ullProgressUserValue;
  BOOL m_bReadOnly;                            // opened from read-only media
  BOOL m_bReading;                             // opened, not created: volumes must exist
  QVS_SLEEPPROC m_pfnSleep;
  std::unordered_set<const void*> m_setBlockSearches;  // cursors still open
  DWORD m_dwWorkerThreads;
  DWORD m_dwCompressionEffort = QVS_EFFORT_DEFAULT;
  std::unique_ptr<qv::storage::BlockSealer> m_pSealer;  // the calling thread's, made on first use
  std::unique_ptr<qv::storage::BlockQueue> m_pBlockQueue;  // while blocks go to workers
  DWORD m_dwQueueError;  // the write error that stopped the workers' blocks
  BOOL m_bStaged = FALSE;        // being created, under temporary names
  BOOL m_bCheckValueDamaged = FALSE;  // the password opened blocks its check value refused
  BOOL m_bReadMoving = FALSE;    // read while its volumes are still moved into place
  BOOL m_bVolumeDirty = FALSE;   // the open volume holds writes not yet synced
  DWORD m_dwSyncError = 0;       // a failed sync: nothing written since can be trusted
  std::unique_ptr<qv::platform::FileLock> m_pLock;
  BOOL m_bLockFromBegin = FALSE;  // taken by BeginArchive, let go when it ends
  CQVString m_strLockPath;
  CQVString m_strLockHolder;      // who held the lock a failed attempt met
  std::vector<RemovedFile> m_vRemoved;
  std::vector<RemovedFile> m_vDoomed;  // what the new archive replaces once in place
  // A chain rewritten whole (storage_rewrite.cc): the members staged so
  // far, and the identifier of its new base.
  BOOL m_bRewriting = FALSE;
  DWORD m_dwRewrittenMembers = 0;
  BYTE m_abRewriteIdentifier[16] = {};
  QVS_VOLUMEPROC m_pfnVolumeWritten = nullptr;
  ULONGLONG m_ullVolumeWrittenValue = 0;
  DWORD m_dwVolumesOffered = 0;          // volumes 1.. below it were offered
  std::vector<DWORD> m_vTakenVolumes;    // of the archive being created, taken by the host
  std::unique_ptr<qv::storage::BlockOpener> m_pOpener;  // the calling thread's, made on first use
  // The read-ahead: the volume it reads, where the reader is (the offset
  // after the last block handed back) and where the next block to read
  // ahead starts, which is where it leaves the volume's file position.
  std::unique_ptr<qv::storage::ReadAhead> m_pReadAhead;
  bool m_bAheadActive = false;
  bool m_bAheadStopped = false;  // met something it leaves to the reader
  bool m_bAheadKeyed = false;    // holds the block key
  const void* m_pAheadVolume = nullptr;
  DWORD m_dwAheadVolume = 0;
  DWORD m_dwAheadIncrement = 0;
  ULONGLONG m_ullAheadVolumeStart = 0;
  ULONGLONG m_ullAheadServed = 0;
  ULONGLONG m_ullAheadNext = 0;
};

#endif  // QVBACKUP_QVSTORAGE_H_
