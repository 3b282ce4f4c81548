#include "archive_check.h"

#include <algorithm>
#include <utility>

#include "archive_layout.h"
#include "archive_open.h"
#include "report.h"

namespace qvtool {

namespace {

using namespace layout;

struct ReservedRange {
  DWORD at;
  DWORD size;
};
constexpr ReservedRange kReserved[] = {{header::kReserved1, header::kReserved1Size},
                                       {header::kReserved2, header::kReserved2Size},
                                       {header::kReserved3, header::kReserved3Size}};

bool SamePath(const WString& a, const WString& b) {
  auto fold = [](WCHAR c) { return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](WCHAR x, WCHAR y) {
           return fold(x) == fold(y);
         });
}

}  // namespace

bool ReadIdentifier(CQVStorage& storage, Identifier* identifier) {
  BYTE header[header::kSize];
  if (!storage.SetOriginalFilePointer(QVS_INVALID_OFFSET) || !storage.ReadData(header, header::kSize)) return false;
  std::copy_n(header + header::kIdentifier, identifier->size(), identifier->begin());
  return true;
}

MemberCheck::MemberCheck(CQVBackupControl& control, DWORD member, WString label)
    : control_(control), storage_(control.GetStorage()), member_(member), label_(std::move(label)) {}

void MemberCheck::Run(Identifier* baseIdentifier, const std::function<void(double)>& progress,
                      VerifyFindings* findings) {
  findings_ = findings;
  ++findings->members;
  if (!ReadHeader()) {
    Error(Widen("its header cannot be read: ") + ArchiveErrorText(storage_.GetError()));
    return;
  }
  CheckHeader(baseIdentifier);
  LoadIndex();
  Walk(progress);
  CheckStreamLength();
  claimed_.assign(walk_.blocks().size(), false);
  ClaimIndexBlocks();
  ClaimMetadataBlocks();
  if (indexLoaded_) {
    CheckFiles();
  } else {
    CheckRecordsWithoutIndex();
  }
  ReportUnclaimed();
  findings->volumes += storage_.GetVolumeCount();
  findings->blocks += walk_.blocks().size();
}

bool MemberCheck::ReadHeader() {
  if (!ReadMemberHeader(storage_, header_, &start_)) return false;
  endOfData_ = Qword(header_, header::kEndOfData);
  if (endOfData_ < start_) {
    Error(Widen("its header puts the end of its data (") + Where(endOfData_) + Widen(") before its first block"));
    endOfData_ = start_;
  }
  return true;
}

void MemberCheck::CheckHeader(Identifier* baseIdentifier) {
  const DWORD version = Dword(header_, header::kVersion);
  if (version != header::kVersionNumber) Error(Widen("its header gives version ") + Number(version) + Widen(", not 1"));
  for (const ReservedRange& range : kReserved) {
    if (!AllZero(header_, range.at, range.size)) {
      Error(Widen("its header has reserved bytes (") + Number(range.at) + Widen(" to ") +
            Number(range.at + range.size - 1) + Widen(") that are not zero"));
    }
  }
  // The archives a base replaced: at most five identifiers, the unused
  // slots zero; an increment replaces nothing.
  const DWORD replaced = header_[header::kReplacedCount];
  const DWORD slots = std::min<DWORD>(replaced, header::kMostReplaced);
  if (replaced > header::kMostReplaced || (member_ != 0 && replaced != 0) ||
      !AllZero(header_, header::kReplacedIdentifiers + slots * header::kIdentifierSize,
               (header::kMostReplaced - slots) * header::kIdentifierSize)) {
    Error(Widen("its header's list of replaced archives (bytes ") + Number(header::kReplacedCount) + Widen(" to ") +
          Number(header::kKeyScheme - 1) + Widen(") is not well formed"));
  }
  const DWORD increment = Dword(header_, header::kIncrement);
  if (increment != member_) Error(Widen("its header gives increment number ") + Number(increment));
  if (member_ != 0 && (Dword(header_, header::kFlags) & QVS_FLAG_INCREMENTAL) == 0) {
    Error(Widen("its header lacks the increment flag"));
  }
  Identifier identifier;
  std::copy_n(header_ + header::kIdentifier, identifier.size(), identifier.begin());
  if (AllZero(header_, header::kIdentifier, header::kIdentifierSize)) Error(Widen("its header holds no identifier"));
  if (member_ == 0) {
    *baseIdentifier = identifier;
  } else if (identifier != *baseIdentifier) {
    Error(Widen("its identifier is not the base archive's: it belongs to another archive"));
  }
  if (header_[header::kEncryptionType] == 0 && !AllZero(header_, header::kCheckValue, header::kCheckValueSize)) {
    Error(Widen("its header holds a password check value but no encryption"));
  }
  // Keys of its own: the identifier is kept twice, as it makes the keys.
  const bool ownKeys = header_[header::kKeyScheme] == header::kKeySchemeOwn;
  if (ownKeys ? !std::equal(header_ + header::kIdentifier, header_ + header::kIdentifier + header::kIdentifierSize,
                            header_ + header::kKeyIdentifierCopy)
              : !AllZero(header_, header::kKeyIdentifierCopy, header::kIdentifierSize)) {
    Error(Widen("its header's copy of the identifier (bytes ") + Number(header::kKeyIdentifierCopy) + Widen(" to ") +
          Number(header::kMemberTime - 1) + Widen(") does not match it"));
  }
  const ULONGLONG closing = Qword(header_, header::kUserData);
  if (closing < start_ || closing >= endOfData_) {
    Error(Widen("its header points at its closing record outside its data (") + Where(closing) + Widen(")"));
  }
}

void MemberCheck::LoadIndex() {
  indexLoaded_ = control_.LoadArchiveIndex() != FALSE;
  if (!indexLoaded_) Error(Widen("its index cannot be read: ") + ArchiveErrorText(GetLastError()));
  BYTE* data = nullptr;
  DWORD length = 0;
  if (storage_.GetBlock(Qword(header_, header::kUserData), &data, &length)) {
    if (length >= closing::kSize && data[0] == 'S' && data[1] == 'Q' && data[2] == 'V' && data[3] == 'O') {
      indexOffset_ = Qword(data, closing::kIndexOffset);
      indexLength_ = Dword(data, closing::kImageLength);
    }
    storage_.DeleteFoundBlockData(data, length);
  }
  if (indexLoaded_) {
    // Only files have blocks to check; the other items live in the index
    // and the metadata table.
    for (SavedFile& file : SavedFilesOf(control_, member_)) {
      if (file.kind == QVBC_ITEM_FILE) files_.push_back(std::move(file));
    }
    if (control_.GetMetadataError() != 0) {
      Error(Widen("its metadata table (modes, owners, links) cannot be read: ") +
            ArchiveErrorText(control_.GetMetadataError()));
    }
    if (control_.GetChainStateError() != 0) {
      Error(Widen("its record of which files existed cannot be read: ") +
            ArchiveErrorText(control_.GetChainStateError()));
    }
  }
}

// The metadata table's blocks and its locator belong to it; blocks of
// theirs that nothing leads to mean the locator was damaged.
void MemberCheck::ClaimMetadataBlocks() {
  if (!indexLoaded_) return;
  const bool located = control_.HasMetadataTable() != FALSE;
  for (std::size_t i = 0; i < walk_.blocks().size(); ++i) {
    const WORD kind = walk_.blocks()[i].kind;
    if (kind == block::kKindChainState || kind == block::kKindChainStateLocator) {
      if (control_.HasChainState()) {
        claimed_[i] = true;
      } else if (control_.GetChainStateError() == 0) {
        Error(Widen("a block of its record of which files existed (") + Where(walk_.blocks()[i].offset) +
              Widen(") is not where its locator says: files deleted before it may come back"));
        return;
      }
      continue;
    }
    if (kind != block::kKindMetadata && kind != block::kKindMetadataLocator) continue;
    if (located) {
      claimed_[i] = true;
    } else if (control_.GetMetadataError() == 0) {
      Error(Widen("a block of its metadata table (") + Where(walk_.blocks()[i].offset) +
            Widen(") is not where its locator says: the modes, owners and links it keeps are lost"));
      return;
    }
  }
}

std::vector<ULONGLONG> MemberCheck::Anchors() {
  std::vector<ULONGLONG> anchors;
  const ULONGLONG closing = Qword(header_, header::kUserData);
  if (closing >= start_ && closing < endOfData_) anchors.push_back(closing);
  if (indexLength_ != 0 && indexOffset_ >= start_ && indexOffset_ < endOfData_) anchors.push_back(indexOffset_);
  for (const SavedFile& file : files_) {
    if (file.recordOffset >= start_ && file.recordOffset < endOfData_) anchors.push_back(file.recordOffset);
  }
  return anchors;
}

void MemberCheck::Walk(const std::function<void(double)>& progress) {
  const ULONGLONG span = endOfData_ - start_;
  for (std::size_t i = 0; i < files_.size(); ++i) recordAt_.emplace(files_[i].recordOffset, i);
  walk_.Run(
      storage_, start_, endOfData_, Anchors(),
      [this](std::size_t index, const BYTE* data, DWORD length) {
        if (indexLoaded_) {
          FollowContent(index, data, length);
          return;
        }
        // Without the index, the files are known only from their records.
        FileRecord record;
        if (walk_.blocks()[index].kind == block::kKindData && ParseFileRecord(data, length, &record)) {
          records_.emplace_back(index, std::move(record));
        }
      },
      [&](ULONGLONG offset) { progress(span == 0 ? 1.0 : static_cast<double>(offset - start_) / span); });
}

// A file saved as runs of data holds its size in its runs: they are read
// as the walk goes, so its blocks are read once.
void MemberCheck::FollowContent(std::size_t index, const BYTE* data, DWORD length) {
  const WalkedBlock& block = walk_.blocks()[index];
  const auto saved = recordAt_.find(block.offset);
  if (saved != recordAt_.end()) {
    following_ = nullptr;
    FileRecord record;
    const SavedFile& file = files_[saved->second];
    record.name = static_cast<LPCWSTR>(control_.GetIndex().GetFileName(file.entry));
    const ULONGLONG recordBytes = record.RecordBytes();
    if (block.kind == block::kKindData && file.fileBytes >= recordBytes && ParseFileRecord(data, length, &record) &&
        record.content == record::kContentRuns) {
      following_ = &runs_.insert_or_assign(block.offset, RunLayout(file.fileBytes - recordBytes)).first->second;
      followed_ = index;
    }
    return;
  }
  if (following_ == nullptr) return;
  if (index != followed_ + 1 || !walk_.Follows(followed_) || block.kind != block::kKindData) {
    following_->Break();
    following_ = nullptr;
    return;
  }
  following_->Feed(data, length);
  followed_ = index;
  if (following_->Done()) following_ = nullptr;
}

// The size its entry gives against what its content holds.
WString MemberCheck::SizeProblem(const SavedFile& file, const FileRecord& record, ULONGLONG content) const {
  if (record.content != record::kContentRuns) return PlainContentProblem(file.size, content, file.lengthMayDiffer);
  const auto runs = runs_.find(file.recordOffset);
  if (runs == runs_.end()) return Widen("its runs of data could not be followed");
  return runs->second.Problem(file.size);
}

void MemberCheck::CheckStreamLength() {
  const ULONGLONG length = storage_.Seek(0, 2, FALSE);
  if (length == QVS_INVALID_OFFSET) {
    Error(Widen("its last volume cannot be measured: ") + ArchiveErrorText(storage_.GetError()));
  } else if (length != endOfData_) {
    Error(Widen("its volume files hold ") + Counted(length, "byte") + Widen(" of its stream, its header says ") +
          Number(endOfData_));
  }
}

void MemberCheck::ClaimIndexBlocks() {
  const ULONGLONG closing = Qword(header_, header::kUserData);
  const std::size_t closingBlock = walk_.Find(closing);
  if (closingBlock != BlockWalk::kNone) {
    claimed_[closingBlock] = true;
    const WalkedBlock& block = walk_.blocks()[closingBlock];
    if (block.error != 0) {
      Error(Widen("its closing record (block at ") + Where(closing) + Widen("): ") + ArchiveErrorText(block.error));
    } else if (block.kind != block::kKindClosing) {
      Error(Widen("the block its header points at (") + Where(closing) + Widen(") is no closing record"));
    }
  }
  std::size_t at = indexLength_ == 0 ? BlockWalk::kNone : walk_.Find(indexOffset_);
  for (ULONGLONG loaded = 0; at != BlockWalk::kNone && loaded < indexLength_;) {
    claimed_[at] = true;
    const WalkedBlock& block = walk_.blocks()[at];
    if (block.error != 0) {
      Error(Widen("its index (block at ") + Where(block.offset) + Widen("): ") + ArchiveErrorText(block.error));
    } else if (block.kind != block::kKindData) {
      Error(Widen("its index (block at ") + Where(block.offset) + Widen(") is of kind ") + Number(block.kind) +
            Widen(", not 1"));
    }
    loaded += block.dataLength;
    at = walk_.Follows(at) ? at + 1 : BlockWalk::kNone;
  }
}

void MemberCheck::CheckFiles() {
  for (const SavedFile& file : files_) {
    const WString reason = CheckFile(file);
    if (!reason.empty()) Damaged(file.path, reason);
  }
  findings_->files += files_.size();
}

WString MemberCheck::CheckFile(const SavedFile& file) {
  const std::size_t recordBlock = walk_.Find(file.recordOffset);
  if (recordBlock == BlockWalk::kNone) {
    if (walk_.LostAt(file.recordOffset) != nullptr) {
      return Widen("its record (") + Where(file.recordOffset) + Widen(") lies where the archive cannot be read") +
             LostReason(file.recordOffset);
    }
    return Widen("no block starts where its record should be (") + Where(file.recordOffset) + Widen(")");
  }
  claimed_[recordBlock] = true;
  // The content's length follows from the index alone, so the blocks after
  // a damaged record are still accounted for.
  FileRecord expected;
  expected.name = static_cast<LPCWSTR>(control_.GetIndex().GetFileName(file.entry));
  if (file.fileBytes < expected.RecordBytes()) {
    return Widen("its saved length (") + Counted(file.fileBytes, "byte") + Widen(") cannot hold its records");
  }
  const WString chain = CheckChain(recordBlock, file.fileBytes - expected.RecordBytes());
  const WalkedBlock& block = walk_.blocks()[recordBlock];
  const WString where = Widen("its record (block at ") + Where(block.offset) + Widen(")");
  if (block.error != 0) return where + Widen(": ") + ArchiveErrorText(block.error);
  if (block.kind != block::kKindData) return where + Widen(" is of kind ") + Number(block.kind) + Widen(", not 1");
  BYTE* data = nullptr;
  DWORD length = 0;
  if (!storage_.GetBlock(block.offset, &data, &length)) return where + Widen(": ") + ArchiveErrorText(storage_.GetError());
  FileRecord record;
  const bool parsed = ParseFileRecord(data, length, &record);
  storage_.DeleteFoundBlockData(data, length);
  if (!parsed) return where + Widen(" is not a file record");
  if (record.entry != file.entry) return where + Widen(" belongs to another file");
  if (record.name != expected.name || !SamePath(record.path, file.path)) {
    return where + Widen(" names another file: ") + record.path;
  }
  if (!chain.empty()) return chain;
  return SizeProblem(file, record, file.fileBytes - expected.RecordBytes());
}

WString MemberCheck::CheckChain(std::size_t recordBlock, ULONGLONG content) {
  const std::vector<WalkedBlock>& blocks = walk_.blocks();
  ULONGLONG found = 0;
  std::size_t at = recordBlock;
  while (found < content) {
    if (!walk_.Follows(at)) {
      const ULONGLONG end = blocks[at].offset + block::kSize + blocks[at].stored;
      return Widen("its data is cut short at ") + Where(end) + LostReason(end);
    }
    const WalkedBlock& next = blocks[++at];
    if (next.kind != block::kKindData) {
      return Widen("its data runs into a block of another kind (") + Where(next.offset) + Widen(")");
    }
    claimed_[at] = true;
    if (next.error != 0) {
      // The rest of its blocks are still claimed: they are this file's.
      for (ULONGLONG rest = found + next.dataLength; rest < content && walk_.Follows(at); rest += blocks[at].dataLength) {
        claimed_[++at] = true;
      }
      return Widen("its data (block at ") + Where(next.offset) + Widen("): ") + ArchiveErrorText(next.error);
    }
    found += next.dataLength;
  }
  if (found != content) {
    return Widen("its data blocks hold ") + Counted(found, "byte") + Widen(" where ") + Number(content) +
           Widen(" are expected");
  }
  return WString();
}

void MemberCheck::CheckRecordsWithoutIndex() {
  for (std::size_t r = 0; r < records_.size(); ++r) {
    std::size_t at = records_[r].first;
    const std::size_t nextRecord = r + 1 < records_.size() ? records_[r + 1].first : walk_.blocks().size();
    claimed_[at] = true;
    WString reason;
    while (walk_.Follows(at) && at + 1 < nextRecord && !claimed_[at + 1] &&
           walk_.blocks()[at + 1].kind == block::kKindData) {
      const WalkedBlock& next = walk_.blocks()[++at];
      claimed_[at] = true;
      if (reason.empty() && next.error != 0) {
        reason = Widen("its data (block at ") + Where(next.offset) + Widen("): ") + ArchiveErrorText(next.error);
      }
    }
    const ULONGLONG end = walk_.blocks()[at].offset + block::kSize + walk_.blocks()[at].stored;
    if (reason.empty() && walk_.Follows(at) && walk_.blocks()[at + 1].kind == block::kKindAbandoned) {
      reason = NotSavedWholeReason();
    }
    if (reason.empty() && walk_.LostAt(end) != nullptr) {
      reason = Widen("its data is cut short at ") + Where(end) + LostReason(end);
    }
    if (reason.empty()) {
      reason = Widen("the index cannot be read: restore can bring it back from its blocks, without its saved times");
    }
    Damaged(records_[r].second.path, reason);
  }
  findings_->files += records_.size();
}

void MemberCheck::ReportUnclaimed() {
  const std::vector<WalkedBlock>& blocks = walk_.blocks();
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    if (blocks[i].error != 0 && !claimed_[i]) {
      Error(Widen("block at ") + Where(blocks[i].offset) + Widen(": ") + ArchiveErrorText(blocks[i].error));
    }
  }
  for (const LostStretch& lost : walk_.lost()) {
    Error(Widen("no block can be read from ") + Where(lost.start) + Widen(" to ") + Where(lost.end) +
          Widen(": ") + ArchiveErrorText(lost.error));
  }
}

void MemberCheck::Error(const WString& text) {
  findings_->errors.push_back(label_.empty() ? text : label_ + Widen(": ") + text);
}

void MemberCheck::Damaged(const WString& path, const WString& reason) {
  findings_->damaged.push_back({path, label_.empty() ? reason : reason + Widen(" (") + label_ + Widen(")")});
}

WString MemberCheck::Where(ULONGLONG offset) const {
  WString text = Widen("offset ") + Number(offset);
  const ULONGLONG volumeSize = Qword(header_, header::kVolumeSize);
  if (volumeSize != QVS_NO_VOLUME_LIMIT && volumeSize != 0) {
    text += Widen(", volume ") + Number(offset / volumeSize + 1);
  }
  return text;
}

WString MemberCheck::LostReason(ULONGLONG offset) const {
  const LostStretch* lost = walk_.LostAt(offset);
  return lost == nullptr ? WString() : Widen(": ") + ArchiveErrorText(lost->error);
}

}  // namespace qvtool
