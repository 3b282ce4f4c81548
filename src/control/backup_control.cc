// Backing up: each file becomes a record block and data blocks, and an
// entry of the index that says where they are; the index and a closing
// record end the archive.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "control/control_records.h"
#include "control/metadata_state.h"
#include "control/restore_folders.h"
#include "control/restore_target.h"
#include "log/qv_log.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/posix_metadata.h"
#include "platform/text.h"
#include "qvbackup/qvbackupcontrol.h"
#include "storage/archive_layout.h"
#include "storage/volume_names.h"

using namespace qv::control;
using qv::storage::GetDword;
using qv::storage::PutDword;
using qv::storage::PutQword;
using qv::storage::PutWord;

namespace {

// The progress percentage: done x 100 / total, kept within 0..100.
DWORD ProgressOf(ULONGLONG done, ULONGLONG total) {
  if (total == 0) return 0;
  auto percentage = static_cast<std::int32_t>(static_cast<DWORD>((done * 100) / total));
  return percentage > 100 ? 100 : percentage < 0 ? 0 : static_cast<DWORD>(percentage);
}

}  // namespace

CQVBackupControl::CQVBackupControl(CQVEngineCallback* pCallback)
    : m_ullTotalBytes(0),
      m_ullDoneBytes(0),
      m_qvsaUnused(10),
      m_pbCancel(nullptr),
      m_pbCancelFlag(nullptr),
      m_pCallback(pCallback),
      m_dwPhase(0),
      m_dwCurrentEntry(0),
      m_ullFileBytes(0),
      m_abRecordHeader{},
      m_pRestoreBlock(nullptr),
      m_dwRestoreBlockLength(0),
      m_dwRestoreBlockPosition(0),
      m_pRecordBlock(nullptr),
      m_dwRecordBlockLength(0),
      m_ullRecordOffset(0),
      m_dwProgress(0),
      m_dwCallbackError(0),
      m_strRestoreRoot(QVBC_DEFAULT_RESTORE_ROOT) {}

CQVBackupControl::~CQVBackupControl() { ReleaseRestoreBlock(); }

void CQVBackupControl::SetCallback(CQVEngineCallback* pCallback) { m_pCallback = pCallback; }
void CQVBackupControl::SetCancelFlag(const volatile DWORD* pdwCancel) {
  m_pbCancel = pdwCancel;
  m_pbCancelFlag = nullptr;
}

void CQVBackupControl::SetCancelFlag(const volatile BOOL* pbCancel) {
  m_pbCancel = nullptr;
  m_pbCancelFlag = pbCancel;
}

bool CQVBackupControl::IsCancelRequested() const {
  if (m_pbCancel != nullptr) return *m_pbCancel != 0;
  return m_pbCancelFlag != nullptr && *m_pbCancelFlag != 0;
}

void CQVBackupControl::SetTotalBytes(ULONGLONG ullTotal) { m_ullTotalBytes = ullTotal; }

void CQVBackupControl::SetWorkerThreads(DWORD dwThreads) { m_qvStorage.SetWorkerThreads(dwThreads); }

BOOL CQVBackupControl::SetCompressionEffort(DWORD dwEffort) { return m_qvStorage.SetCompressionEffort(dwEffort); }

DWORD CQVBackupControl::GetCompressionEffort() const { return m_qvStorage.GetCompressionEffort(); }

DWORD CQVBackupControl::GetWorkerThreads() const { return m_qvStorage.GetWorkerThreads(); }

void CQVBackupControl::SetArchiveLocation(LPCWSTR pszFolder, LPCWSTR pszName) {
  m_ArchivePath = pszFolder != nullptr ? pszFolder : QVT("");
  m_Archivename = pszName != nullptr ? pszName : QVT("");
}

void CQVBackupControl::SetRestoreRoot(LPCWSTR pszRoot) {
  m_strRestoreRoot = (pszRoot != nullptr && pszRoot[0] != 0) ? pszRoot : QVBC_DEFAULT_RESTORE_ROOT;
  m_pRestoreFolders.reset();
}

CQVString CQVBackupControl::GetRestoreRoot() const { return m_strRestoreRoot; }

void CQVBackupControl::Notify(DWORD dwCode, ULONGLONG ullValue1, ULONGLONG ullValue2) {
  if (m_pCallback != nullptr) m_pCallback->OnEngineMessage(dwCode, ullValue1, ullValue2, 0, 0);
}

BOOL CQVBackupControl::BeginBackup(QVS_ARCHIVE_INFO* pInfo) {
  if (!m_qvfa.RemoveAll()) SetLastError(ERROR_INVALID_STATE);
  m_ullDoneBytes = 0;
  m_dwProgress = 0;
  // The archive this backup writes, whatever an earlier one was.
  if (pInfo != nullptr && pInfo->dwSize == sizeof(QVS_ARCHIVE_INFO)) {
    SetArchiveLocation(pInfo->pszFolder, pInfo->pszName);
  }
  if (!m_qvStorage.BeginArchive(pInfo)) {
    SetLastError(m_qvStorage.GetError());
    return FALSE;
  }
  m_dqSavedEntries.clear();
  m_pMetadata.reset();
  return TRUE;
}

BOOL CQVBackupControl::AddFileToArchive(LPCWSTR pszPath, ULONGLONG) {
  // What the system keeps of the item decides how it is saved: a link or a
  // folder has no content to read, and a file already saved under another
  // name is not read twice.
  qv::platform::PosixMetadata item;
  const bool described = DescribeItem(pszPath, &item);
  if (described) {
    if (item.type == qv::platform::ItemType::kSymbolicLink || item.type == qv::platform::ItemType::kFolder) {
      return AddItemWithoutContent(pszPath, item, 0);
    }
    if (DWORD first = SavedUnderAnotherName(item); first != 0) return AddItemWithoutContent(pszPath, item, first);
  }
  CQVBackupFile file;
  file.Attach(pszPath);
  m_dwPhase = 0;
  m_ullFileBytes = 0;
  m_dwCallbackError = 0;
  m_dwCurrentEntry = m_qvfa.Add(pszPath, nullptr, SavedItemFlags(), QVBC_FILE_USER_DATA_SIZE, nullptr);
  m_dqSavedEntries.push_back({m_dwCurrentEntry, 0, QVS_INVALID_OFFSET, false, false, false});
  BOOL saved = m_dwCurrentEntry != 0 && file.BackupFile(BackupCallback, reinterpret_cast<std::uintptr_t>(this));
  DWORD error = GetLastError();
  const bool changed = saved && file.ChangedWhileRead();
  file.Detach();
  const bool recordQueued = m_dqSavedEntries.back().bRecordQueued;
  if (saved) {
    m_dqSavedEntries.back().ullFileBytes = m_ullFileBytes;
    m_dqSavedEntries.back().bSaved = true;
    m_dqSavedEntries.back().bChanged = changed;
    ApplyWrittenOffsets(false);
    if (described && item.type == qv::platform::ItemType::kFile) KeepFileMetadata(m_dwCurrentEntry, item);
    if (changed) {
      theLog.LogError(QVT("CQVBackupControl::AddFileToArchive on %s()  changed while it was read"), pszPath);
      if (m_pCallback != nullptr) {
        m_pCallback->OnEngineMessage(ENGINE_MSG_FILE_CHANGED, 0, reinterpret_cast<std::uintptr_t>(pszPath), 0, 0);
      }
    }
    DWORD size = 0;
    SetLastError(m_qvfa.GetUserData(m_dwCurrentEntry, &size) != nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER);
    return TRUE;
  }
  ApplyWrittenOffsets(false);
  SetLastError(error);
  theLog.LogError(QVT("CQVBackupControl::AddFileToArchive on %s()  Echec of BackupFile"), pszPath);
  // What was written for the file stays in the stream; its entry is marked
  // deleted so that a restore never looks for it.
  // Cancelled: the archive is finished, its index emptied and its files gone.
  if (m_dwCallbackError == ERROR_CANCELLED) {
    SetLastError(ERROR_CANCELLED);
    return FALSE;
  }
  if (recordQueued) MarkAbandoned(error);
  // The last error keeps the reason the file failed; when the entry cannot
  // be marked (invalid, chunk loading, a folder with live children) that
  // reason is told instead.
  if (m_dwCurrentEntry == 0 || m_qvfa.GetAttributes(m_dwCurrentEntry) == INVALID_FILE_ATTRIBUTES) {
    SetLastError(ERROR_INVALID_PARAMETER);
  } else if (m_qvfa.DeleteItem(m_dwCurrentEntry, QVFA_DEL_IFEMPTY)) {
    SetLastError(m_dwCallbackError != 0 ? m_dwCallbackError : error);
  }
  return FALSE;
}

// The file's record, and maybe some of its data, are in the stream: a
// marker after them tells a reader without the index that they are not a
// whole file. The file's own failure stays the last error.
void CQVBackupControl::MarkAbandoned(DWORD dwError) {
  BYTE marker[qvlayout::block::kAbandonedSize] = {};
  PutDword(marker, 0, m_dwCurrentEntry);
  if (!m_qvStorage.CreateBlock(marker, sizeof(marker), 0, nullptr, kBlockKindAbandoned)) {
    theLog.LogDetail(QVT("The marker of an abandoned file could not be written, error %d"),
                     static_cast<int>(m_qvStorage.GetError()));
  }
  SetLastError(dwError);
}

DWORD CQVBackupControl::BackupCallback(QVBF_INTERNAL_DATA* pData) {
  if (pData == nullptr || pData->ullUserValue == 0) return ERROR_CANCELLED;
  auto* self = reinterpret_cast<CQVBackupControl*>(static_cast<std::uintptr_t>(pData->ullUserValue));
  switch (self->m_dwPhase) {
    case 0:
      return self->OnOpeningRecord(*pData);
    case 1:
      return self->OnNamingRecord(*pData);
    default:
      return self->OnContent(*pData);
  }
}

DWORD CQVBackupControl::OnOpeningRecord(const QVBF_INTERNAL_DATA& data) {
  if (data.pData == nullptr || data.dwLength < sizeof(QVBF_OPENING_RECORD)) return ERROR_CANCELLED;
  std::memset(m_abRecordHeader, 0, sizeof(m_abRecordHeader));
  PutDword(m_abRecordHeader, record::kOpening1, GetDword(data.pData, 0));
  m_abRecordHeader[record::kOpening2] = data.pData[4];
  PutDword(m_abRecordHeader, record::kOpening3, GetDword(data.pData, 8));
  PutDword(m_abRecordHeader, record::kOpening4, GetDword(data.pData, 12));
  m_ullFileBytes = data.dwLength;
  m_dwPhase = 1;
  return 0;
}

// Builds and writes the file record: the inline name first, then the
// referenced path.
DWORD CQVBackupControl::OnNamingRecord(const QVBF_INTERNAL_DATA& data) {
  m_dwPhase = 2;
  m_ullFileBytes += data.dwLength;
  if (data.pData == nullptr || data.dwLength < sizeof(QVBF_NAMING_RECORD) + sizeof(WCHAR)) return ERROR_CANCELLED;
  const WCHAR* path = nullptr;
  std::memcpy(&path, data.pData + offsetof(QVBF_NAMING_RECORD, pszPath), sizeof(path));
  std::vector<WCHAR> name((data.dwLength - sizeof(QVBF_NAMING_RECORD)) / sizeof(WCHAR) + 1, 0);
  std::memcpy(name.data(), data.pData + sizeof(QVBF_NAMING_RECORD), data.dwLength - sizeof(QVBF_NAMING_RECORD));
  const qv::WStringView first(name.data(), qv::TextLength(name.data()));
  const qv::WStringView second = path != nullptr ? qv::WStringView(path, qv::TextLength(path)) : qv::WStringView();
  const std::vector<BYTE> block = MakeRecordBlock(m_abRecordHeader, first, second, m_dwCurrentEntry);
  if (block.empty() || block.size() > m_qvStorage.GetArchiveBlockSize()) return ERROR_CANCELLED;
  SavedEntry& saved = m_dqSavedEntries.back();
  if (!m_qvStorage.CreateBlock(block.data(), static_cast<DWORD>(block.size()), 0, &saved.ullRecordOffset,
                               kBlockKindData)) {
    m_dwCallbackError = m_qvStorage.GetError();
    return ERROR_CANCELLED;
  }
  saved.bRecordQueued = true;
  return 0;
}

// Gives each saved file its user data (its bytes, where its record lies)
// once its record block is written, oldest first. With `bAll` (nothing is
// queued any more) every entry is settled: one whose record never reached
// the archive keeps no user data, so a restore never looks for it.
void CQVBackupControl::ApplyWrittenOffsets(bool bAll) {
  while (!m_dqSavedEntries.empty()) {
    const SavedEntry& oldest = m_dqSavedEntries.front();
    const bool written = oldest.ullRecordOffset != QVS_INVALID_OFFSET;
    if (!written && oldest.bRecordQueued && !bAll) return;
    if (written && oldest.bSaved) {
      BYTE userData[userdata::kSize] = {};
      PutQword(userData, userdata::kFileBytes, oldest.ullFileBytes);
      PutQword(userData, userdata::kRecordOffset, oldest.ullRecordOffset);
      PutWord(userData, userdata::kFlags,
              oldest.bCopied ? oldest.wFlags
                             : userdata::kChangesMarked | (oldest.bChanged ? userdata::kChangedWhileRead : WORD{0}));
      m_qvfa.SetUserData(oldest.dwEntry, userData);
    }
    m_dqSavedEntries.pop_front();
  }
}

DWORD CQVBackupControl::OnContent(const QVBF_INTERNAL_DATA& data) {
  m_ullFileBytes += data.dwLength;
  if (IsCancelRequested()) return Cancel();
  DWORD blockSize = m_qvStorage.GetArchiveBlockSize();
  for (DWORD at = 0; at < data.dwLength;) {
    DWORD piece = std::min(blockSize, data.dwLength - at);
    if (!m_qvStorage.CreateBlock(data.pData + at, piece, 0, nullptr, kBlockKindData)) {
      m_dwCallbackError = m_qvStorage.GetError();
      return ERROR_CANCELLED;
    }
    at += piece;
    m_ullDoneBytes += piece;
    m_dwProgress = ProgressOf(m_ullDoneBytes, m_ullTotalBytes);
    Notify(ENGINE_MSG_PROGRESS, 2, reinterpret_cast<std::uintptr_t>(&m_dwProgress));
  }
  return 0;
}

// The host asked to stop: what was written of the new archive goes, and the
// archive it would have replaced (a base and its increments, or the chain
// an increment was to join) stays exactly as it was.
DWORD CQVBackupControl::Cancel() {
  theLog.LogDetail(QVT("bCancel = TRUE Cancelling"));
  m_qvStorage.AbandonArchive();
  ApplyWrittenOffsets(true);
  m_qvfa.RemoveAll();
  Notify(ENGINE_MSG_CANCELLED);
  m_dwCallbackError = ERROR_CANCELLED;
  return ERROR_CANCELLED;
}

// Logs why the archive could not be ended and gives it up: nothing
// half-made is left to pass for an archive. The last error says why.
BOOL CQVBackupControl::FailEnding(const WCHAR* pszError) {
  const DWORD error = m_qvStorage.GetError();
  theLog.LogError(pszError);
  m_qvStorage.AbandonArchive();
  m_qvfa.RemoveAll();
  theLog.Exit();
  SetLastError(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
  return FALSE;
}

void CQVBackupControl::ReportRemovedFiles() {
  for (DWORD i = 0, count = m_qvStorage.GetRemovedFileCount(); i < count; ++i) {
    DWORD reason = 0;
    LPCWSTR path = m_qvStorage.GetRemovedFile(i, &reason);
    if (m_pCallback != nullptr && path != nullptr) {
      m_pCallback->OnEngineMessage(ENGINE_MSG_FILE_REMOVED, reason, reinterpret_cast<std::uintptr_t>(path), 0, 0);
    }
  }
}

// Blocks still with the worker threads are written before the index is
// taken, so that it says where every file's record landed; the index's
// first block, then the closing record, are written before their offsets
// are used.
BOOL CQVBackupControl::EndBackup() {
  theLog.Enter(QVT("CQVBackupControl::EndBackup()"));
  const BOOL flushed = m_qvStorage.FlushBlocks();
  ApplyWrittenOffsets(true);
  if (!flushed) return FailEnding(QVT("CreateBlock for archive index failed"));
  // The record of the selection's state and the metadata table, each with
  // the block saying where it is, right before the index: readers that go
  // by the closing record never meet them.
  GatherFolderMetadata();
  if (!WriteChainState()) return FailEnding(QVT("CreateBlock for the record of the selection's state failed"));
  if (!WriteMetadataTable()) return FailEnding(QVT("CreateBlock for the metadata table failed"));
  BYTE closingRecord[closing::kSize] = {'S', 'Q', 'V', 'O'};
  DWORD length = 0;
  const BYTE* image = m_qvfa.GetRawData(&length);
  if (image == nullptr || length == 0) return FailEnding(QVT("GetRawData failed"));
  PutDword(closingRecord, closing::kImageLength, length);
  DWORD blockSize = m_qvStorage.GetArchiveBlockSize();
  ULONGLONG indexOffset = 0;
  for (DWORD at = 0; at < length;) {
    DWORD piece = std::min(blockSize, length - at);
    if (!m_qvStorage.CreateBlock(image + at, piece, 0, at == 0 ? &indexOffset : nullptr, kBlockKindData)) {
      return FailEnding(QVT("CreateBlock for archive index failed"));
    }
    at += piece;
  }
  if (!m_qvStorage.FlushBlocks()) return FailEnding(QVT("CreateBlock for archive index failed"));
  PutQword(closingRecord, closing::kIndexOffset, indexOffset);
  ULONGLONG closingOffset = 0;
  if (!m_qvStorage.CreateBlock(closingRecord, closing::kSize, QVS_BLOCK_STORE_PLAIN, &closingOffset,
                               kBlockKindClosing) ||
      !m_qvStorage.FlushBlocks()) {
    return FailEnding(QVT("CreateBlock failed"));
  }
  m_qvfa.RemoveAll();
  m_pMetadata.reset();
  m_qvStorage.SetEndOfArchive();
  m_qvStorage.SetUserData(closingOffset);
  theLog.Exit();
  // The archive takes its place here: synced, moved over the one it
  // replaces, which is removed with what it held.
  const BOOL closed = m_qvStorage.CloseArchive();
  const DWORD error = m_qvStorage.GetError();
  ReportRemovedFiles();
  if (!closed) {
    theLog.LogError(QVT("The archive could not be put in place"));
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

// Removes the archive's own files, found by their names: a file that
// merely starts with the archive's name is someone else's. Under the
// archive's lock, so that it never pulls files from under a run writing it.
void CQVBackupControl::CleanArchive(LPCWSTR pszFolder, LPCWSTR pszName) {
  theLog.Enter(QVT("CQVBackupControl::CleanArchive"));
  theLog.LogDetail(QVT("folderPath %s"), pszFolder);
  theLog.LogDetail(QVT("ArchiveName %s"), pszName);
  if (pszFolder == nullptr || pszName == nullptr || pszName[0] == 0) {
    theLog.Exit();
    return;
  }
  qv::WString folder(pszFolder);
  while (!folder.empty() && folder.back() == u'\\') folder.pop_back();
  QVS_ARCHIVE_INFO lockInfo = {};
  lockInfo.dwSize = sizeof(lockInfo);
  lockInfo.pszFolder = folder.c_str();
  lockInfo.pszName = pszName;
  CQVStorage locker;
  const bool ownLock = m_qvStorage.LockArchive(&lockInfo) != FALSE;
  if (!ownLock && !locker.LockArchive(&lockInfo)) {
    theLog.LogError(QVT("%s is in use by another run (%s): nothing is deleted"), pszName,
                    locker.GetLockHolder().GetString());
    theLog.Exit();
    return;
  }
  CQVPathString volumePath = m_qvStorage.GetArchiveVolumePath(0xFFFFFFFFu, 0);
  DWORD dot = 0;
  CQVString extension = volumePath.ReverseFind(u'.', &dot) ? volumePath.Right(volumePath.GetLength() - dot - 1)
                                                             : CQVString(QVT("QVA"));
  if (extension.IsEmpty()) extension = QVT("QVA");
  qv::platform::DirectoryEnumerator listing;
  WIN32_FIND_DATAW item;
  qv::WString pattern = folder + QVT("\\*.*");
  std::vector<qv::WString> doomed;
  if (listing.First(pattern.c_str(), &item)) {
    do {
      qv::WStringView name(item.cFileName);
      if (name == QVT(".") || name == QVT("..") || (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
      qv::WString fullPath = folder + QVT("\\") + qv::WString(name);
      theLog.LogDetail(QVT("strFullPath %s"), fullPath.c_str());
      theLog.LogDetail(QVT("strFileName %s"), item.cFileName);
      theLog.LogDetail(QVT("ArchiveName %s"), pszName);
      qv::storage::VolumeName parsed;
      if (qv::storage::ParseVolumeName(name, pszName, qv::WStringView(),
                                       qv::WStringView(extension, extension.GetLength()), &parsed)) {
        doomed.push_back(fullPath);
      }
    } while (listing.Next(&item));
  }
  listing.Close();
  for (const qv::WString& path : doomed) {
    theLog.LogDetail(QVT("File to delete %s"), path.c_str());
    qv::platform::MakeWritable(path.c_str());
    if (!qv::platform::RemoveFile(path.c_str())) theLog.LogError(QVT("delete Failed"));
  }
  if (!doomed.empty()) qv::platform::SyncFolder(folder.c_str());
  if (ownLock) m_qvStorage.UnlockArchive();
  theLog.Exit();
}
