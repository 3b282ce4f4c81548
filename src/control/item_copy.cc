// Copying saved items from one member into the archive being written, as
// they were saved: a chain rewritten into fewer members keeps every item's
// content, index data and metadata without reading the files again. The
// blocks are read back whole (checksummed, decrypted, inflated) and
// written anew, so they take the new archive's keys and places.
#include <cstring>
#include <vector>

#include "control/control_records.h"
#include "control/metadata_state.h"
#include "log/qv_log.h"
#include "qvbackup/qvbackupcontrol.h"
#include "storage/archive_layout.h"

using namespace qv::control;
using qv::storage::GetDword;
using qv::storage::GetQword;
using qv::storage::GetWord;

namespace {

// A record block read from a source member, released at the end.
class SourceBlock {
 public:
  explicit SourceBlock(CQVStorage& storage) : storage_(storage) {}
  ~SourceBlock() { Release(); }
  SourceBlock(const SourceBlock&) = delete;
  SourceBlock& operator=(const SourceBlock&) = delete;
  bool Read(ULONGLONG offset) {
    Release();
    return storage_.GetBlock(offset, &data_, &length_) != FALSE;
  }
  void Release() {
    if (data_ != nullptr) storage_.DeleteFoundBlockData(data_, length_);
    data_ = nullptr;
    length_ = 0;
  }
  const BYTE* data() const { return data_; }
  DWORD length() const { return length_; }

 private:
  CQVStorage& storage_;
  BYTE* data_ = nullptr;
  DWORD length_ = 0;
};

qv::WString NameOf(const qv::WString& path) {
  const std::size_t cut = path.rfind(u'\\');
  return cut == qv::WString::npos ? path : path.substr(cut + 1);
}

}  // namespace

DWORD CQVBackupControl::CopyEntryPath(CQVBackupControl& source, DWORD dwEntry, DWORD dwFlags) {
  // The source's entries from the top down to the item.
  std::vector<DWORD> chain;
  for (DWORD entry = dwEntry; entry != 0;) {
    _tagQVFA_FILEINFO info;
    if (chain.size() > 4096 || !source.m_qvfa.GetFileInfo(entry, &info)) {
      SetLastError(ERROR_INVALID_DATA);
      return 0;
    }
    chain.push_back(entry);
    entry = static_cast<DWORD>(info.ullParentReference);
  }
  DWORD parent = 0;
  for (std::size_t i = chain.size(); i-- > 0;) {
    _tagQVFA_FILEINFO info;
    source.m_qvfa.GetFileInfo(chain[i], &info);
    const CQVString name = source.m_qvfa.GetFileName(chain[i]);
    const bool item = i == 0;
    const DWORD flags = item ? dwFlags : SavedItemFlags() & QVFA_ADD_EXACT_CASE;
    const DWORD created = m_qvfa.AddChild(parent, name, &info, flags, QVBC_FILE_USER_DATA_SIZE, nullptr);
    if (created == 0) return 0;
    // A folder on the way keeps the metadata it was saved with.
    if (!item && source.m_pMetadata) {
      const qv::control::EntryMetadata* saved = source.m_pMetadata->Find(chain[i]);
      if (saved != nullptr && Metadata().table.count(created) == 0) Metadata().table[created] = {saved->item, 0};
    }
    parent = created;
  }
  return parent;
}

DWORD CQVBackupControl::CopySavedItem(CQVBackupControl& source, DWORD dwEntry) {
  qv::control::MetadataState& state = Metadata();
  state.copying = true;
  const DWORD kind = source.GetItemKind(dwEntry);
  const qv::control::EntryMetadata* saved = source.m_pMetadata ? source.m_pMetadata->Find(dwEntry) : nullptr;
  if (kind == QVBC_ITEM_NONE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD contentEntry = dwEntry;  // whose blocks hold the item's content
  if (kind == QVBC_ITEM_FOLDER || kind == QVBC_ITEM_LINK ||
      (kind == QVBC_ITEM_OTHER_NAME && saved != nullptr &&
       state.copied.count({&source, saved->sameFileAs}) != 0)) {
    const DWORD entry = CopyEntryPath(source, dwEntry, SavedItemFlags() & QVFA_ADD_EXACT_CASE);
    if (entry == 0) return 0;
    DWORD sameFileAs = 0;
    if (kind == QVBC_ITEM_OTHER_NAME) sameFileAs = state.copied[{&source, saved->sameFileAs}];
    if (saved != nullptr) state.table[entry] = {saved->item, sameFileAs};
    state.copied[{&source, dwEntry}] = entry;
    SetLastError(ERROR_SUCCESS);
    return entry;
  }
  // A further name whose first name is not copied here takes the content
  // of that one under its own name.
  if (kind == QVBC_ITEM_OTHER_NAME) {
    if (saved == nullptr || source.GetItemKind(saved->sameFileAs) != QVBC_ITEM_FILE) {
      SetLastError(ERROR_INVALID_DATA);
      return 0;
    }
    contentEntry = saved->sameFileAs;
  }
  DWORD size = 0;
  const BYTE* userData = static_cast<const BYTE*>(source.m_qvfa.GetUserData(contentEntry, &size));
  if (userData == nullptr || size < userdata::kSize) {
    SetLastError(ERROR_INVALID_DATA);
    return 0;
  }
  const ULONGLONG fileBytes = GetQword(userData, userdata::kFileBytes);
  const ULONGLONG recordOffset = GetQword(userData, userdata::kRecordOffset);
  const WORD flags = GetWord(userData, userdata::kFlags);
  CQVStorage& from = source.m_qvStorage;
  SourceBlock block(from);
  if (!block.Read(recordOffset)) {
    SetLastError(from.GetError() != ERROR_SUCCESS ? from.GetError() : ERROR_INVALID_DATA);
    return 0;
  }
  if (!IsWellFormedRecord(block.data(), block.length()) || GetDword(block.data(), record::kEntry) != contentEntry) {
    theLog.LogDetail(QVT("The record of entry %d does not name it back"), static_cast<int>(contentEntry));
    SetLastError(ERROR_INVALID_DATA);
    return 0;
  }
  const ULONGLONG recordBytes = record::RecordBytes(GetWord(block.data(), record::kFirstNameLength));
  if (fileBytes < recordBytes) {
    SetLastError(ERROR_INVALID_DATA);
    return 0;
  }
  const ULONGLONG contentBytes = fileBytes - recordBytes;
  const DWORD entry = CopyEntryPath(source, dwEntry, SavedItemFlags() & QVFA_ADD_EXACT_CASE);
  if (entry == 0) return 0;
  const qv::WString path(static_cast<const WCHAR*>(m_qvfa.GetPathName(entry)));
  const std::vector<BYTE> ownRecord = MakeRecordBlock(block.data(), NameOf(path), path, entry);
  const ULONGLONG ownFileBytes = contentBytes + record::RecordBytes(static_cast<DWORD>(NameOf(path).size()));
  const auto fail = [this, entry](DWORD error) {
    // What was written for it stays in the stream, its entry deleted.
    m_dwCurrentEntry = entry;
    MarkAbandoned(error);
    ApplyWrittenOffsets(false);
    m_qvfa.DeleteItem(entry, QVFA_DEL_IFEMPTY);
    SetLastError(error);
    return DWORD{0};
  };
  if (ownRecord.empty() || ownRecord.size() > m_qvStorage.GetArchiveBlockSize()) {
    m_qvfa.DeleteItem(entry, QVFA_DEL_IFEMPTY);
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  // With worker threads the record's offset is known once it is written:
  // the entry gets its user data then, as a file backed up does.
  m_dqSavedEntries.push_back({entry, ownFileBytes, QVS_INVALID_OFFSET, false, false, false, true, flags});
  SavedEntry& queued = m_dqSavedEntries.back();
  if (!m_qvStorage.CreateBlock(ownRecord.data(), static_cast<DWORD>(ownRecord.size()), 0, &queued.ullRecordOffset,
                               kBlockKindData)) {
    ApplyWrittenOffsets(false);
    m_qvfa.DeleteItem(entry, QVFA_DEL_IFEMPTY);
    SetLastError(m_qvStorage.GetError());
    return 0;
  }
  queued.bRecordQueued = true;
  // The content: the data blocks after the record, whole, as they were.
  ULONGLONG copied = 0;
  while (copied < contentBytes) {
    if (!block.Read(QVS_INVALID_OFFSET)) {
      return fail(from.GetError() != ERROR_SUCCESS && from.GetError() != ERROR_NO_MORE_ITEMS ? from.GetError()
                                                                                                : ERROR_INVALID_DATA);
    }
    if (block.length() == 0 || block.length() > contentBytes - copied) return fail(ERROR_INVALID_DATA);
    if (!m_qvStorage.CreateBlock(block.data(), block.length(), 0, nullptr, kBlockKindData)) {
      return fail(m_qvStorage.GetError());
    }
    copied += block.length();
    m_ullDoneBytes += block.length();
  }
  m_dqSavedEntries.back().bSaved = true;
  ApplyWrittenOffsets(false);
  if (saved != nullptr) state.table[entry] = {saved->item, 0};
  state.copied[{&source, dwEntry}] = entry;
  if (contentEntry != dwEntry) state.copied.emplace(std::make_pair(&source, contentEntry), entry);
  SetLastError(ERROR_SUCCESS);
  return entry;
}
