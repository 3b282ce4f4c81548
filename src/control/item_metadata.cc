// The items a POSIX system holds beyond files and their content: the
// backup reads each item's metadata (type, mode, owner, times, link
// target, extended attributes) and keeps it in the member's metadata table;
// links and empty folders are saved as entries without content, and a file
// met again under another name as an entry that names the first. The
// restore gives every item back as it was: links as links, further names
// as hard links, folders with their metadata once what they hold is in
// place.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "control/control_records.h"
#include "control/metadata_state.h"
#include "control/restore_folders.h"
#include "control/restore_target.h"
#include "log/qv_log.h"
#include "platform/confined_folder.h"
#include "platform/file_system.h"
#include "platform/posix_metadata.h"
#include "qvbackup/qvbackupcontrol.h"
#include "services/replacement_file.h"
#include "storage/archive_layout.h"

using namespace qv::control;
using qv::platform::ItemType;
using qv::storage::GetDword;
using qv::storage::GetQword;

namespace {

static_assert(QVBC_METADATA_OWNER_NOT_SET == qv::platform::kMetadataOwnerNotSet);
static_assert(QVBC_METADATA_MODE_NOT_SET == qv::platform::kMetadataModeNotSet);
static_assert(QVBC_METADATA_ATTRIBUTES_NOT_SET == qv::platform::kMetadataAttributesNotSet);
static_assert(QVBC_METADATA_TIMES_NOT_SET == qv::platform::kMetadataTimesNotSet);

DWORD ParentOf(CQVFileArray& index, DWORD entry) {
  _tagQVFA_FILEINFO info;
  if (!index.GetFileInfo(entry, &info)) return 0;
  return static_cast<DWORD>(info.ullParentReference);
}

// What could not be given to an item whose folder could not be reached.
constexpr DWORD kMetadataNotReached = QVBC_METADATA_MODE_NOT_SET | QVBC_METADATA_TIMES_NOT_SET;

// "C:\a\b" -> "C:\a"; a path without a separator gives "".
qv::WString ParentPath(const qv::WString& path) {
  const std::size_t cut = path.rfind(u'\\');
  return cut == qv::WString::npos ? qv::WString() : path.substr(0, cut);
}

}  // namespace

DWORD qv::control::SavedItemFlags() {
  return QVFA_ADD_CLONE | (qv::platform::FileNamesIgnoreCase() ? 0 : QVFA_ADD_EXACT_CASE);
}

qv::control::MetadataState& CQVBackupControl::Metadata() {
  if (!m_pMetadata) m_pMetadata = std::make_unique<qv::control::MetadataState>();
  return *m_pMetadata;
}

// ---- Backup -------------------------------------------------------------------

bool CQVBackupControl::DescribeItem(LPCWSTR pszPath, qv::platform::PosixMetadata* pItem) {
  return pszPath != nullptr && qv::platform::KeepsPosixMetadata() && qv::platform::ReadPosixMetadata(pszPath, pItem);
}

BOOL CQVBackupControl::AddItemWithoutContent(LPCWSTR pszPath, const qv::platform::PosixMetadata& item,
                                             DWORD dwSameFileAs) {
  const DWORD entry = m_qvfa.Add(pszPath, nullptr, SavedItemFlags(), QVBC_FILE_USER_DATA_SIZE, nullptr);
  if (entry == 0) return FALSE;
  Metadata().table[entry] = {item, dwSameFileAs};
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

void CQVBackupControl::KeepFileMetadata(DWORD dwEntry, const qv::platform::PosixMetadata& item) {
  qv::control::MetadataState& state = Metadata();
  state.table[dwEntry] = {item, 0};
  if (item.links > 1) state.filesWithNames.emplace(std::make_pair(item.device, item.inode), dwEntry);
}

DWORD CQVBackupControl::SavedUnderAnotherName(const qv::platform::PosixMetadata& item) {
  if (item.type != ItemType::kFile || item.links < 2 || !m_pMetadata) return 0;
  auto known = m_pMetadata->filesWithNames.find({item.device, item.inode});
  return known == m_pMetadata->filesWithNames.end() ? 0 : known->second;
}

// The folders the index holds because files below them were saved get
// their metadata too (the drive entries at the top stand for the restore's
// own folders, and get none).
void CQVBackupControl::GatherFolderMetadata() {
  if (!m_pMetadata || m_pMetadata->copying) return;
  DWORD entry = 0;
  HANDLE search = m_qvfa.FindFirstFileW(entry, nullptr);
  if (search == nullptr) return;
  std::vector<DWORD> folders;
  do {
    if (m_qvfa.IsDirectory(entry) && !m_qvfa.IsDeleted(entry) && ParentOf(m_qvfa, entry) != 0 &&
        m_pMetadata->table.count(entry) == 0) {
      folders.push_back(entry);
    }
  } while (m_qvfa.FindNextFileW(search, entry));
  m_qvfa.FindClose(search);
  for (DWORD folder : folders) {
    qv::platform::PosixMetadata item;
    CQVString path = m_qvfa.GetPathName(folder);
    if (qv::platform::ReadPosixMetadata(path, &item) && item.type == ItemType::kFolder) {
      m_pMetadata->table[folder] = {item, 0};
    }
  }
}

// Written before the index, in blocks of their own kind, then the locator
// (plain, right before the index). A member without any metadata (made
// where none is kept) has neither.
BOOL CQVBackupControl::WriteMetadataTable() {
  if (!m_pMetadata || m_pMetadata->table.empty()) return TRUE;
  return WriteLocatedTable(EncodeMetadataTable(m_pMetadata->table), kBlockKindMetadata, kBlockKindMetadataLocator,
                           "QVMT");
}

// ---- Restore ------------------------------------------------------------------

// After the index: the table the locator right before the index names,
// read whole; then the record of the selection's state before it. A member
// without a locator has no table; a table that cannot be read leaves the
// files to restore without it, the reason kept for GetMetadataError.
void CQVBackupControl::LoadMetadataTable(ULONGLONG ullIndexOffset) {
  qv::control::MetadataState& state = Metadata();
  std::vector<BYTE> bytes;
  ULONGLONG tableOffset = 0;
  DWORD error = 0;
  switch (ReadLocatedTable(ullIndexOffset, kBlockKindMetadataLocator, "QVMT", &bytes, &tableOffset, &error)) {
    case 0:
      LoadChainState(ullIndexOffset);
      return;
    case 2:
      state.loadError = error;
      theLog.LogDetail(QVT("Metadata table failed to load (%d)"), static_cast<int>(error));
      return;
  }
  state.located = true;
  LoadChainState(tableOffset);
  if (!DecodeMetadataTable(bytes.data(), bytes.size(), &state.table)) {
    state.loadError = ERROR_INVALID_DATA;
    theLog.LogDetail(QVT("Metadata table failed to load, it is damaged"));
    return;
  }
  // A folder that holds live entries is restored through them.
  DWORD entry = 0;
  HANDLE search = m_qvfa.FindFirstFileW(entry, nullptr);
  if (search == nullptr) return;
  do {
    if (!m_qvfa.IsDeleted(entry)) state.parents.insert(ParentOf(m_qvfa, entry));
  } while (m_qvfa.FindNextFileW(search, entry));
  m_qvfa.FindClose(search);
}

DWORD CQVBackupControl::GetItemKind(DWORD dwEntry) const {
  auto& index = const_cast<CQVFileArray&>(m_qvfa);
  if (dwEntry == 0 || index.GetAttributes(dwEntry) == INVALID_FILE_ATTRIBUTES || index.IsDeleted(dwEntry)) {
    return QVBC_ITEM_NONE;
  }
  const EntryMetadata* metadata = m_pMetadata ? m_pMetadata->Find(dwEntry) : nullptr;
  if (metadata != nullptr) {
    if (metadata->item.type == ItemType::kSymbolicLink) return QVBC_ITEM_LINK;
    if (metadata->sameFileAs != 0) return QVBC_ITEM_OTHER_NAME;
    if (metadata->item.type == ItemType::kFolder) {
      return m_pMetadata->parents.count(dwEntry) != 0 ? QVBC_ITEM_NONE : QVBC_ITEM_FOLDER;
    }
  }
  DWORD size = 0;
  const BYTE* userData = index.GetUserData(dwEntry, &size);
  if (userData == nullptr || size < userdata::kSize || index.IsDirectory(dwEntry)) return QVBC_ITEM_NONE;
  return GetQword(userData, userdata::kFileBytes) != 0 ? QVBC_ITEM_FILE : QVBC_ITEM_NONE;
}

DWORD CQVBackupControl::GetMetadataError() const { return m_pMetadata ? m_pMetadata->loadError : 0; }

BOOL CQVBackupControl::HasMetadataTable() const { return m_pMetadata && m_pMetadata->located; }

DWORD CQVBackupControl::GetMetadataNotRestored() const { return m_pMetadata ? m_pMetadata->notRestored : 0; }

// Made under a name of its own beside the target, then renamed over it, as
// a file's content is: an existing target is replaced whole or not at all.
// Once made, the link is a leaf: a later item whose path leads through it
// is refused as any link on the way is.
BOOL CQVBackupControl::RestoreLink(const qv::WString& target, const std::string& linkTarget) {
  qv::WString name;
  const qv::platform::ConfinedFolder* folder = HeldFolderOf(target, &name, true);
  if (folder == nullptr) return FALSE;
  const qv::WString temporary = qv::services::TemporaryName();
  if (!folder->CreateSymbolicLink(temporary, linkTarget)) return FALSE;
  return RenameOverTarget(*folder, temporary, name);
}

// `temporary` of `folder` takes the name `name`; when it cannot, it goes.
// Left alone, never replaced, where nothing may be: whatever took the name
// meanwhile stays.
BOOL CQVBackupControl::RenameOverTarget(const qv::platform::ConfinedFolder& folder, const qv::WString& temporary,
                                        const qv::WString& name) {
  const bool keep = m_dwOverwriteMode == QVBC_OVERWRITE_NEVER;
  if (keep ? folder.RenameNoReplace(temporary, name) : folder.Rename(temporary, name)) return TRUE;
  const DWORD error = GetLastError();
  m_bLeftAlone = keep && error == ERROR_FILE_EXISTS;
  folder.Remove(temporary);
  SetLastError(error);
  return FALSE;
}

// A further name of a file: a hard link of the name restored before it;
// when that one was not restored (or cannot be linked to), the content
// from its record.
BOOL CQVBackupControl::RestoreOtherName(DWORD dwFirst, const qv::WString& target,
                                        const qv::platform::PosixMetadata& metadata) {
  qv::control::MetadataState& state = Metadata();
  auto restored = state.restored.find(dwFirst);
  if (restored != state.restored.end()) {
    qv::WString firstName;
    std::vector<qv::WString> firstFolder;
    std::unique_ptr<qv::platform::ConfinedFolder> existing;
    if (NamesBelowRoot(qv::WStringView(m_strRestoreRoot, m_strRestoreRoot.GetLength()), restored->second,
                       &firstFolder) && !firstFolder.empty()) {
      firstName = firstFolder.back();
      firstFolder.pop_back();
      existing = Folders().OpenApart(firstFolder);
    }
    qv::WString name;
    const qv::platform::ConfinedFolder* folder = HeldFolderOf(target, &name, true);
    if (folder == nullptr) return FALSE;
    const qv::WString temporary = qv::services::TemporaryName();
    if (existing && folder->CreateHardLink(*existing, firstName, temporary)) {
      return RenameOverTarget(*folder, temporary, name);
    }
    theLog.LogDetail(QVT("No hard link for %s (%d): its content is restored again"), target.c_str(),
                     static_cast<int>(GetLastError()));
  }
  DWORD size = 0;
  const BYTE* userData = m_qvfa.GetUserData(dwFirst, &size);
  if (userData == nullptr || size < userdata::kSize || m_qvfa.IsDeleted(dwFirst) ||
      GetQword(userData, userdata::kFileBytes) == 0) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  m_ullRecordOffset = GetQword(userData, userdata::kRecordOffset);
  m_dwCurrentEntry = dwFirst;
  if (!RestoreFileAs(target.c_str(), GetQword(userData, userdata::kFileBytes), &metadata)) return FALSE;
  state.restored.emplace(dwFirst, target);
  return TRUE;
}

BOOL CQVBackupControl::RestoreItem(DWORD dwEntry, DWORD dwKind, const qv::WString& target) {
  const EntryMetadata* metadata = m_pMetadata ? m_pMetadata->Find(dwEntry) : nullptr;
  switch (dwKind) {
    case QVBC_ITEM_FOLDER:
      return HeldFolder(target, true) != nullptr;
    case QVBC_ITEM_LINK:
      if (!qv::platform::KeepsPosixMetadata()) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
      }
      return RestoreLink(target, metadata->item.linkTarget);
    case QVBC_ITEM_OTHER_NAME:
      return RestoreOtherName(metadata->sameFileAs, target, metadata->item);
    default: {
      DWORD size = 0;
      const BYTE* userData = m_qvfa.GetUserData(dwEntry, &size);
      m_ullRecordOffset = GetQword(userData, userdata::kRecordOffset);
      m_dwCurrentEntry = dwEntry;
      // A file with saved metadata gets it before it takes its name.
      if (!RestoreFileAs(target.c_str(), GetQword(userData, userdata::kFileBytes),
                         metadata != nullptr ? &metadata->item : nullptr)) {
        return FALSE;
      }
      if (m_pMetadata) m_pMetadata->restored.emplace(dwEntry, target);
      return TRUE;
    }
  }
}

// An item in place gets its metadata (a folder's waits for what it holds;
// a file that got it as it took its name is done), and the folders above
// it, up to the drive's, are noted to get theirs.
void CQVBackupControl::FinishItem(DWORD dwEntry, DWORD dwKind, const qv::WString& target) {
  qv::control::MetadataState& state = Metadata();
  const EntryMetadata* metadata = state.Find(dwEntry);
  if (metadata != nullptr && dwKind != QVBC_ITEM_FOLDER && !m_bMetadataGiven) {
    qv::WString name;
    const qv::platform::ConfinedFolder* folder = HeldFolderOf(target, &name, false);
    state.notRestored |=
        folder != nullptr ? folder->ApplyPosixMetadata(name, metadata->item, true) : kMetadataNotReached;
  }
  DWORD folder = dwKind == QVBC_ITEM_FOLDER ? dwEntry : ParentOf(m_qvfa, dwEntry);
  qv::WString path = dwKind == QVBC_ITEM_FOLDER ? target : ParentPath(target);
  // A folder that was there before is the user's: it gets the saved
  // metadata only when items are replaced whatever is there.
  const bool allFolders = m_dwOverwriteMode == QVBC_OVERWRITE_ALWAYS;
  while (folder != 0 && ParentOf(m_qvfa, folder) != 0 && !path.empty()) {
    if (!allFolders && !Folders().Made(path)) break;
    if (!state.folders.emplace(path, folder).second) break;
    folder = ParentOf(m_qvfa, folder);
    const std::size_t cut = path.rfind(u'\\');
    path.resize(cut == qv::WString::npos ? 0 : cut);
  }
}

// Deepest first, so that a folder that may not be written any more is so
// only once everything below it is done, and its times last. Each is
// reached as its items were, and given its metadata through itself.
void CQVBackupControl::FinishFolders() {
  if (!m_pMetadata) return;
  for (auto folder = m_pMetadata->folders.rbegin(); folder != m_pMetadata->folders.rend(); ++folder) {
    const EntryMetadata* metadata = m_pMetadata->Find(folder->second);
    if (metadata != nullptr && metadata->item.type == ItemType::kFolder) {
      const qv::platform::ConfinedFolder* held = HeldFolder(folder->first, false);
      m_pMetadata->notRestored |= held != nullptr ? held->ApplyPosixMetadata(qv::WString(), metadata->item, true)
                                                  : kMetadataNotReached;
    }
  }
  m_pMetadata->folders.clear();
}
