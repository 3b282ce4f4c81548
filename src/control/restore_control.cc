// Restoring: the index comes back through the closing record, then every
// saved file is recreated from its record block and the data blocks after
// it. Each file is read from the record its entry names, so a file whose
// backup stopped half-way, or an index in another order than the stream,
// never hands one file's bytes to another.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "control/control_records.h"
#include "control/metadata_state.h"
#include "control/restore_folders.h"
#include "control/restore_target.h"
#include "log/qv_log.h"
#include "platform/confined_folder.h"
#include "platform/file_system.h"
#include "qvbackup/qvbackupcontrol.h"
#include "services/file_restore.h"
#include "storage/archive_layout.h"

using namespace qv::control;
using qv::storage::GetDword;
using qv::storage::GetQword;
using qv::storage::GetWord;

void CQVBackupControl::ReleaseRestoreBlock() {
  if (m_pRestoreBlock != nullptr) m_qvStorage.DeleteFoundBlockData(m_pRestoreBlock, m_dwRestoreBlockLength);
  if (m_pRecordBlock != nullptr) m_qvStorage.DeleteFoundBlockData(m_pRecordBlock, m_dwRecordBlockLength);
  m_pRestoreBlock = nullptr;
  m_pRecordBlock = nullptr;
  m_dwRestoreBlockLength = 0;
  m_dwRestoreBlockPosition = 0;
  m_dwRecordBlockLength = 0;
}

// Loading stops in a state the index can leave: the partial image is
// refused and the previous one stays.
BOOL CQVBackupControl::FailLoading(const WCHAR* pszDetail) {
  DWORD error = GetLastError();
  theLog.LogDetail(pszDetail);
  m_qvfa.EndSetRawData();
  m_qvfa.RemoveAll();
  theLog.Exit();
  SetLastError(error);
  return FALSE;
}

BOOL CQVBackupControl::LoadArchiveIndex() {
  theLog.Enter(QVT("CQVBackupControl::LoadArchiveIndex()"));
  BYTE* block = nullptr;
  DWORD length = 0;
  ULONGLONG closingOffset = m_qvStorage.GetUserData();
  if (!m_qvStorage.GetBlock(closingOffset, &block, &length)) {
    SetLastError(m_qvStorage.GetError());
    theLog.LogDetail(QVT("GetBlock failed"));
    theLog.Exit();
    return FALSE;
  }
  bool magic = length >= closing::kSize && std::memcmp(block + closing::kMagic, "SQVO", 4) == 0;
  ULONGLONG indexOffset = magic ? GetQword(block, closing::kIndexOffset) : 0;
  DWORD imageLength = magic ? GetDword(block, closing::kImageLength) : 0;
  m_qvStorage.DeleteFoundBlockData(block, length);
  m_pMetadata.reset();
  if (!magic) {
    SetLastError(ERROR_INVALID_DATA);
    theLog.LogDetail(QVT("Index failed to load, wrong magic number. Archive is probably corrupted"));
    theLog.Exit();
    return FALSE;
  }
  // The image lies in blocks between its first offset and the closing
  // record, and deflate never expands data more than 1032 times: a longer
  // length is damage, refused before anything is reserved for it.
  if (magic && imageLength != 0 &&
      (indexOffset >= closingOffset || imageLength / kMostInflation > closingOffset - indexOffset)) {
    SetLastError(ERROR_INVALID_DATA);
    theLog.LogDetail(QVT("Index failed to load, its length does not fit the archive. Archive is probably corrupted"));
    theLog.Exit();
    return FALSE;
  }
  // An archive written with an empty image holds no files.
  if (imageLength == 0) {
    m_qvfa.RemoveAll();
    theLog.Exit();
    return TRUE;
  }
  if (!m_qvfa.StartSetRawData(imageLength)) {
    theLog.LogDetail(QVT("StartSetRawData failed"));
    theLog.Exit();
    return FALSE;
  }
  ULONGLONG at = indexOffset;
  for (DWORD loaded = 0; loaded < imageLength; at = QVS_INVALID_OFFSET) {
    if (!m_qvStorage.GetBlock(at, &block, &length)) {
      SetLastError(m_qvStorage.GetError());
      return FailLoading(QVT("GetBlock failed"));
    }
    BOOL added = m_qvfa.AddRawDataChunk(block, length);
    m_qvStorage.DeleteFoundBlockData(block, length);
    if (!added) return FailLoading(QVT("AddRawDataChunk failed"));
    loaded += length;
  }
  // The image is verified as it comes in: a damaged one is refused.
  if (!m_qvfa.EndSetRawData()) return FailLoading(QVT("EndSetRawData failed"));
  LoadMetadataTable(indexOffset);
  theLog.Exit();
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CQVBackupControl::RestoreFile(LPCWSTR pszTarget, ULONGLONG ullFileBytes) {
  return RestoreFileAs(pszTarget, ullFileBytes, nullptr);
}

// A target below the root is reached through the folders held from it,
// never through a link, and gets `pMetadata` (may be null) as it takes its
// name; any other is the host's choice, made in its own folder as
// CQVBackupFile makes it (its metadata is left to the caller).
BOOL CQVBackupControl::RestoreFileAs(LPCWSTR pszTarget, ULONGLONG ullFileBytes,
                                     const qv::platform::PosixMetadata* pMetadata) {
  theLog.Enter(QVT("CQVBackupControl::RestoreFile()"));
  m_dwPhase = 0;
  m_dwCallbackError = 0;
  m_ullFileBytes = ullFileBytes;
  m_ullContentHanded = 0;
  m_bLeftAlone = false;
  m_bMetadataGiven = false;
  ReleaseRestoreBlock();
  const qv::WString target = pszTarget != nullptr ? qv::WString(pszTarget) : qv::WString();
  std::vector<qv::WString> names;
  qv::WStringView root(m_strRestoreRoot, m_strRestoreRoot.GetLength());
  BOOL restored = FALSE;
  DWORD error = ERROR_SUCCESS;
  const std::size_t cut = target.rfind(u'\\');
  if (cut != qv::WString::npos && NamesBelowRoot(root, target, &names) && !names.empty()) {
    const qv::WString folderPath = target.substr(0, cut);
    const auto folder = [this, &folderPath]() { return HeldFolder(folderPath, true); };
    qv::services::RestoreOutcome outcome;
    restored = qv::services::RestoreFileInto(folder, names.back(), pMetadata, RestoreCallback, ullFileBytes,
                                             reinterpret_cast<std::uintptr_t>(this), ExistingRule(), &outcome);
    error = GetLastError();
    m_bLeftAlone = outcome.leftAlone;
    m_bMetadataGiven = restored && outcome.metadataGiven;
    if (m_bMetadataGiven && m_pMetadata) m_pMetadata->notRestored |= outcome.metadataNotSet;
  } else {
    CQVBackupFile file;
    file.Attach(pszTarget);
    restored = file.RestoreFile(RestoreCallback, ullFileBytes, reinterpret_cast<std::uintptr_t>(this));
    error = GetLastError();
    file.Detach();
  }
  if (m_dwCallbackError != 0 && !m_bLeftAlone) error = m_dwCallbackError;
  ReleaseRestoreBlock();
  theLog.Exit();
  SetLastError(restored ? ERROR_SUCCESS : error);
  return restored;
}

qv::control::RestoreFolders& CQVBackupControl::Folders() {
  if (!m_pRestoreFolders) {
    m_pRestoreFolders =
        std::make_unique<qv::control::RestoreFolders>(qv::WString(m_strRestoreRoot.GetString()), &m_setMadeFolders);
  }
  return *m_pRestoreFolders;
}

// The folder `path` below the root, or the root itself.
const qv::platform::ConfinedFolder* CQVBackupControl::HeldFolder(const qv::WString& path, bool bCreate) {
  std::vector<qv::WString> names;
  if (!NamesBelowRoot(qv::WStringView(m_strRestoreRoot, m_strRestoreRoot.GetLength()), path, &names)) {
    SetLastError(ERROR_BAD_PATHNAME);
    return nullptr;
  }
  const qv::platform::ConfinedFolder* folder = Folders().Open(names, bCreate);
  if (folder == nullptr && GetLastError() == ERROR_STOPPED_ON_SYMLINK) {
    theLog.LogDetail(QVT("Refused to restore into %s: a folder on its way is a symbolic link"), path.c_str());
    SetLastError(ERROR_STOPPED_ON_SYMLINK);
  }
  return folder;
}

// The folder the item `path` lies in, below the root; *pName gets its name there.
const qv::platform::ConfinedFolder* CQVBackupControl::HeldFolderOf(const qv::WString& path, qv::WString* pName,
                                                                  bool bCreate) {
  const std::size_t cut = path.rfind(u'\\');
  if (cut == qv::WString::npos) {
    SetLastError(ERROR_BAD_PATHNAME);
    return nullptr;
  }
  *pName = path.substr(cut + 1);
  return HeldFolder(path.substr(0, cut), bCreate);
}

DWORD CQVBackupControl::RestoreCallback(QVBF_INTERNAL_DATA* pData) {
  if (pData == nullptr || pData->ullUserValue == 0) return ERROR_CANCELLED;
  auto* self = reinterpret_cast<CQVBackupControl*>(static_cast<std::uintptr_t>(pData->ullUserValue));
  switch (self->m_dwPhase) {
    case 0:
      return self->ReadRecord(*pData);
    case 1:
      return self->FillNamingRecord(*pData);
    default:
      return self->FillContent(*pData);
  }
}

// Reads the current file's record at the offset its entry keeps, checks it
// belongs to that entry, and hands back the opening record.
DWORD CQVBackupControl::ReadRecord(QVBF_INTERNAL_DATA& data) {
  m_dwPhase = 1;
  if (!m_qvStorage.GetBlock(m_ullRecordOffset, &m_pRecordBlock, &m_dwRecordBlockLength)) {
    m_dwCallbackError = m_qvStorage.GetError();
    return ERROR_CANCELLED;
  }
  const BYTE* block = m_pRecordBlock;
  const bool wellFormed = IsWellFormedRecord(block, m_dwRecordBlockLength) &&
                          GetDword(block, record::kEntry) == m_dwCurrentEntry;
  if (!wellFormed || data.pData == nullptr || data.dwLength < sizeof(QVBF_OPENING_RECORD)) {
    m_dwCallbackError = ERROR_INVALID_DATA;
    return ERROR_CANCELLED;
  }
  qv::storage::PutDword(data.pData, 0, GetDword(block, record::kOpening1));
  qv::storage::PutDword(data.pData, 4, block[record::kOpening2]);
  qv::storage::PutDword(data.pData, 8, GetDword(block, record::kOpening3));
  qv::storage::PutDword(data.pData, 12, GetDword(block, record::kOpening4));
  return 0;
}

// Without an index entry (RestoreRecord) nothing says what the file's
// times and attributes were: times 0 leave those of the writing, and the
// size is the content handed back.
DWORD CQVBackupControl::FillNamingRecord(QVBF_INTERNAL_DATA& data) {
  m_dwPhase = 2;
  _tagQVFA_FILEINFO info;
  std::memset(&info, 0, sizeof(info));
  if (m_bFromRecordOnly) {
    info.dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    info.ullSize = m_ullContentLeft;
  } else if (!m_qvfa.GetFileInfo(m_dwCurrentEntry, &info)) {
    m_dwCallbackError = ERROR_INVALID_PARAMETER;
    return ERROR_CANCELLED;
  }
  DWORD firstLength = GetWord(m_pRecordBlock, record::kFirstNameLength);
  // Plain content is exactly as long as the entry says, unless the file
  // changed while it was read: another length means the entry or the
  // bytes saved for it are damaged, and no file is made that would pass
  // for the one saved. (Runs are held to the size as they come.)
  const ULONGLONG recordBytes = record::RecordBytes(firstLength);
  if (!m_bFromRecordOnly && GetDword(m_pRecordBlock, record::kOpening4) == record::kContentPlain &&
      m_ullFileBytes >= recordBytes && m_ullFileBytes - recordBytes != info.ullSize &&
      !SavedWhileChanging(m_dwCurrentEntry)) {
    theLog.LogDetail(QVT("The content saved is not the size the index gives"));
    m_dwCallbackError = ERROR_INVALID_DATA;
    return ERROR_CANCELLED;
  }
  DWORD needed = sizeof(QVBF_NAMING_RECORD) + (firstLength + 1) * 2;
  if (data.pData == nullptr || data.dwLength < needed) {
    m_dwCallbackError = ERROR_INSUFFICIENT_BUFFER;
    return ERROR_CANCELLED;
  }
  BYTE* out = data.pData;
  std::memset(out, 0, needed);
  qv::storage::PutDword(out, offsetof(QVBF_NAMING_RECORD, dwTag), QVBF_NAMING_RECORD_TAG);
  const WCHAR* path = reinterpret_cast<const WCHAR*>(m_pRecordBlock + GetWord(m_pRecordBlock, record::kSecondNameOffset));
  std::memcpy(out + offsetof(QVBF_NAMING_RECORD, pszPath), &path, sizeof(path));
  qv::storage::PutDword(out, offsetof(QVBF_NAMING_RECORD, dwAttributes), info.dwFileAttributes);
  qv::storage::PutQword(out, offsetof(QVBF_NAMING_RECORD, ullSize), info.ullSize);
  std::memcpy(out + offsetof(QVBF_NAMING_RECORD, ftCreationTime), reinterpret_cast<const BYTE*>(&info) + 4, 8);
  std::memcpy(out + offsetof(QVBF_NAMING_RECORD, ftLastAccessTime), reinterpret_cast<const BYTE*>(&info) + 12, 8);
  std::memcpy(out + offsetof(QVBF_NAMING_RECORD, ftLastWriteTime), reinterpret_cast<const BYTE*>(&info) + 596, 8);
  std::memcpy(out + sizeof(QVBF_NAMING_RECORD), m_pRecordBlock + record::kSize, (firstLength + 1) * 2);
  return 0;
}

bool CQVBackupControl::SavedWhileChanging(DWORD dwEntry) const {
  DWORD size = 0;
  const BYTE* userData = const_cast<CQVFileArray&>(m_qvfa).GetUserData(dwEntry, &size);
  return userData == nullptr || size < userdata::kSize || userdata::LengthMayDiffer(GetWord(userData, userdata::kFlags));
}

// Hands back the file's content from the data blocks that follow its record.
// A cancel request stops the file: the service then removes what it wrote.
DWORD CQVBackupControl::FillContent(QVBF_INTERNAL_DATA& data) {
  if (IsCancelRequested()) {
    m_dwCallbackError = ERROR_CANCELLED;
    return ERROR_CANCELLED;
  }
  for (DWORD filled = 0; filled < data.dwLength;) {
    if (m_pRestoreBlock == nullptr || m_dwRestoreBlockPosition == m_dwRestoreBlockLength) {
      if (m_pRestoreBlock != nullptr) m_qvStorage.DeleteFoundBlockData(m_pRestoreBlock, m_dwRestoreBlockLength);
      m_pRestoreBlock = nullptr;
      if (!m_qvStorage.GetBlock(QVS_INVALID_OFFSET, &m_pRestoreBlock, &m_dwRestoreBlockLength)) {
        DWORD error = m_qvStorage.GetError();
        m_dwCallbackError = error == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : error;
        return ERROR_CANCELLED;
      }
      m_dwRestoreBlockPosition = 0;
    }
    DWORD count = std::min(data.dwLength - filled, m_dwRestoreBlockLength - m_dwRestoreBlockPosition);
    std::memcpy(data.pData + filled, m_pRestoreBlock + m_dwRestoreBlockPosition, count);
    m_dwRestoreBlockPosition += count;
    filled += count;
  }
  NoteContentProgress(data.dwLength);
  return m_bFromRecordOnly ? CheckRecordContentEnd(data.dwLength) : 0;
}

// The writer cuts a file's content into whole blocks: content from a record
// alone that ends inside a block was measured wrong, and is refused before
// the file is committed.
DWORD CQVBackupControl::CheckRecordContentEnd(DWORD dwHandedBack) {
  m_ullContentLeft -= std::min<ULONGLONG>(m_ullContentLeft, dwHandedBack);
  if (m_ullContentLeft == 0 && m_dwRestoreBlockPosition != m_dwRestoreBlockLength) {
    m_dwCallbackError = ERROR_INVALID_DATA;
    return ERROR_CANCELLED;
  }
  return 0;
}


BOOL CQVBackupControl::RestoreEntry(DWORD dwEntry) {
  const DWORD kind = GetItemKind(dwEntry);
  if (kind == QVBC_ITEM_NONE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  CQVString path = m_qvfa.GetPathName(dwEntry);
  qv::WString target;
  if (!TargetBelowRoot(path, path.GetLength(), &target)) return FALSE;
  theLog.LogDetail(QVT("Restoring file %s"), target.c_str());
  m_bLeftAlone = false;
  m_bMetadataGiven = false;
  const bool kept = KeepsItemThere(dwEntry, kind, target);
  if (!kept && !RestoreItem(dwEntry, kind, target) && !m_bLeftAlone) {
    DWORD error = GetLastError();
    theLog.LogDetail(QVT("File failed to restore, with error %d"), static_cast<int>(error));
    SetLastError(error);
    return FALSE;
  }
  if (kept || m_bLeftAlone) {
    theLog.LogDetail(QVT("Left alone %s: an item is there that the overwrite mode keeps"), target.c_str());
    SetLastError(ERROR_SUCCESS);
    return QVBC_RESTORE_LEFT_ALONE;
  }
  FinishItem(dwEntry, kind, target);
  NoteRestored(target);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// Where the stored path `pszPath` leads below the root; a path that would
// lead elsewhere is refused (ERROR_BAD_PATHNAME).
bool CQVBackupControl::TargetBelowRoot(LPCWSTR pszPath, DWORD dwPathLength, qv::WString* pTarget) {
  const qv::WStringView path(pszPath, dwPathLength);
  if (m_bOriginalPaths) {
    if (BuildOriginalTarget(path, pTarget)) {
      UseRootOfDrive(path[0]);
      return true;
    }
  } else if (BuildRestoreTarget(qv::WStringView(m_strRestoreRoot, m_strRestoreRoot.GetLength()), path, pTarget)) {
    return true;
  }
  const qv::WString refused(path);
  theLog.LogDetail(QVT("Refused to restore %s: its path leaves the restore folder"), refused.c_str());
  SetLastError(ERROR_BAD_PATHNAME);
  return false;
}

// The folder of `target`, and the folders made on the way to it, are
// synced by FlushRestoredFiles: once for all the items restored into each.
void CQVBackupControl::NoteRestored(const qv::WString& target) {
  qv::WStringView root(m_strRestoreRoot, m_strRestoreRoot.GetLength());
  std::size_t rootLength = root.size();
  while (rootLength > 3 && (root[rootLength - 1] == u'\\' || root[rootLength - 1] == u'/')) --rootLength;
  for (std::size_t cut = target.rfind(u'\\'); cut != qv::WString::npos && cut >= rootLength;
       cut = cut == 0 ? qv::WString::npos : target.rfind(u'\\', cut - 1)) {
    if (!m_setRestoredFolders.insert(target.substr(0, cut)).second) break;
  }
}

// The file of the current record, restored where its stored path
// `pszPath` leads below the root.
BOOL CQVBackupControl::RestoreBelowRoot(LPCWSTR pszPath, DWORD dwPathLength, ULONGLONG ullFileBytes) {
  qv::WString target;
  if (!TargetBelowRoot(pszPath, dwPathLength, &target)) return FALSE;
  theLog.LogDetail(QVT("Restoring file %s"), target.c_str());
  if (!RestoreFile(target.c_str(), ullFileBytes)) {
    DWORD error = GetLastError();
    theLog.LogDetail(QVT("File failed to restore, with error %d"), static_cast<int>(error));
    SetLastError(error);
    return FALSE;
  }
  NoteRestored(target);
  return TRUE;
}

BOOL CQVBackupControl::FlushRestoredFiles() {
  FinishFolders();
  // A flush when the root moved to another drive may have failed already.
  DWORD error = std::exchange(m_dwPendingFlushError, ERROR_SUCCESS);
  BOOL flushed = error == ERROR_SUCCESS ? TRUE : FALSE;
  // Deepest first: a folder's own entry lives in its parent.
  for (auto folder = m_setRestoredFolders.rbegin(); folder != m_setRestoredFolders.rend(); ++folder) {
    const qv::platform::ConfinedFolder* held = HeldFolder(*folder, false);
    if ((held == nullptr || !held->Sync()) && flushed) {
      flushed = FALSE;
      error = GetLastError();
    }
  }
  m_setRestoredFolders.clear();
  if (!flushed) SetLastError(error);
  return flushed;
}

BOOL CQVBackupControl::RestoreAllFiles(LPCWSTR) {
  theLog.Enter(QVT("CQVBackupControl::RestoreAllFiles()"));
  // The root may be a link to a folder: what counts is that it leads to one.
  if (qv::platform::FileExists(m_strRestoreRoot) &&
      HeldFolder(qv::WString(m_strRestoreRoot.GetString()), false) == nullptr) {
    SetLastError(ERROR_BAD_PATHNAME);
    theLog.Exit();
    return FALSE;
  }
  DWORD entry = 0;
  HANDLE search = m_qvfa.FindFirstFileW(entry, nullptr);
  if (search == nullptr) {
    theLog.Exit();
    return FALSE;
  }
  bool cancelled = false;
  do {
    if (IsCancelRequested()) {
      cancelled = true;
      break;
    }
    if (GetItemKind(entry) != QVBC_ITEM_NONE && !RestoreEntry(entry) &&
        GetLastError() == ERROR_CANCELLED && IsCancelRequested()) {
      cancelled = true;
      break;
    }
  } while (m_qvfa.FindNextFileW(search, entry));
  m_qvfa.FindClose(search);
  if (cancelled) {
    // What was restored stays, synced; the file being written is gone.
    theLog.LogDetail(QVT("bCancel = TRUE Cancelling"));
    FlushRestoredFiles();
    Notify(ENGINE_MSG_CANCELLED);
    SetLastError(ERROR_CANCELLED);
    theLog.Exit();
    return FALSE;
  }
  theLog.Exit();
  return TRUE;
}

BOOL CQVBackupControl::EndRestore() {
  theLog.Enter(QVT("CQVBackupControl::EndRestore()"));
  ReleaseRestoreBlock();
  const BOOL flushed = FlushRestoredFiles();
  const DWORD flushError = GetLastError();
  m_pRestoreFolders.reset();
  BOOL closed = m_qvStorage.CloseArchive();
  if (!closed) SetLastError(m_qvStorage.GetError());
  theLog.Exit();
  if (closed && !flushed) SetLastError(flushError);
  return closed && flushed;
}
