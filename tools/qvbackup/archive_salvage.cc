#include "archive_salvage.h"

#include <algorithm>
#include <numeric>

#include "archive_layout.h"
#include "archive_open.h"
#include "archive_walk.h"
#include "file_record.h"
#include "qvbackup/qvbackupfile.h"
#include "qvbackup/qvfilearray.h"
#include "report.h"

namespace qvtool {

namespace {

using namespace layout;

// The file service reads a file QVBF_CHUNK_SIZE bytes at a time, or its
// size when it was opened but never less than 64 KiB
// (services/backup_file_stream.cc), and only a short read ends it: every
// chunk but the last has one size from 64 KiB to 1 MiB.
constexpr ULONGLONG kSmallestChunk = 64 * 1024;
constexpr ULONGLONG kLargestChunk = QVBF_CHUNK_SIZE;

// The first bytes of an index image: the root entry (an empty name, no
// user data, no sibling, no parent, every field but its size word, tag and
// child links 0), then the first entry's tag when one follows.
constexpr DWORD kRootLinks = 4;      // first and last child
constexpr DWORD kRootZeroFrom = 12;  // next sibling onwards, to the end of its name

bool IsIndexStart(const BYTE* data, DWORD length) {
  if (length < QVFA_ROOTSIZE + 2) return false;
  const WORD size = Word(data, 0);
  const DWORD first = Dword(data, kRootLinks);
  const DWORD last = Dword(data, kRootLinks + 4);
  if ((size != 0 && size != QVFA_ROOTSIZE) || Word(data, 2) != QVFA_ENTRYTAG) return false;
  if ((first == 0) != (last == 0) || (first != 0 && (first < QVFA_ROOTSIZE || last < first))) return false;
  if (!AllZero(data, kRootZeroFrom, QVFA_ROOTSIZE - kRootZeroFrom)) return false;
  return size == 0 || length < QVFA_ROOTSIZE + 4 || Word(data, QVFA_ROOTSIZE + 2) == QVFA_ENTRYTAG;
}

// kAbandoned: the writer's marker after a file whose source failed part-way.
enum class Role { kDamaged, kData, kRecord, kIndexStart, kAbandoned, kOther };

// One member's blocks as the walk found them, each with its role.
class MemberBlocks {
 public:
  explicit MemberBlocks(CQVStorage& storage) : storage_(storage) {}

  bool Scan();
  SalvagedMember Files(DWORD member) const;

 private:
  bool ReadHeader();
  void ReadClosingRecord();
  void Classify(std::size_t index, const BYTE* data, DWORD length);
  void FindIndexStart();
  SavedFile FileAt(std::size_t recordBlock, const FileRecord& record, DWORD member) const;
  WString Unproven(std::size_t last) const;
  bool EndsAtBoundary(std::size_t last) const;
  bool AllRecordsSeen() const;
  ULONGLONG EndOf(std::size_t block) const;

  CQVStorage& storage_;
  BlockWalk walk_;
  std::vector<Role> roles_;
  std::vector<std::pair<std::size_t, FileRecord>> records_;
  ULONGLONG start_ = 0;
  ULONGLONG endOfData_ = 0;
  ULONGLONG closing_ = QVS_INVALID_OFFSET;
  DWORD blockSize_ = 0;
  bool fullBlockSeen_ = false;      // the header's block size is borne out by a block
  ULONGLONG indexStart_ = QVS_INVALID_OFFSET;
  bool indexStartKnown_ = false;    // from an intact closing record
};

bool MemberBlocks::ReadHeader() {
  BYTE bytes[header::kSize];
  if (!ReadMemberHeader(storage_, bytes, &start_)) return false;
  endOfData_ = Qword(bytes, header::kEndOfData);
  // An archive never closed records no end: its volumes tell it.
  if (endOfData_ < start_) {
    const ULONGLONG measured = storage_.Seek(0, 2, FALSE);
    endOfData_ = measured == QVS_INVALID_OFFSET ? start_ : std::max(measured, start_);
  }
  const ULONGLONG closing = Qword(bytes, header::kUserData);
  if (closing >= start_ && closing < endOfData_) closing_ = closing;
  blockSize_ = storage_.GetArchiveBlockSize();
  return blockSize_ != 0;
}

// An intact closing record says exactly where the index image starts, so
// the file saved last ends there even when the image itself is damaged.
void MemberBlocks::ReadClosingRecord() {
  BYTE* data = nullptr;
  DWORD length = 0;
  if (closing_ == QVS_INVALID_OFFSET || !storage_.GetBlock(closing_, &data, &length)) return;
  if (length == closing::kSize && std::equal(data, data + 4, header::kMagicBytes)) {
    const ULONGLONG index = Qword(data, closing::kIndexOffset);
    if (index >= start_ && index < closing_) {
      indexStart_ = index;
      indexStartKnown_ = true;
    }
  }
  storage_.DeleteFoundBlockData(data, length);
}

void MemberBlocks::Classify(std::size_t index, const BYTE* data, DWORD length) {
  roles_.resize(index + 1, Role::kDamaged);
  const WORD kind = walk_.blocks()[index].kind;
  FileRecord record;
  if (kind == block::kKindAbandoned) {
    roles_[index] = Role::kAbandoned;
  } else if (kind != block::kKindData) {
    roles_[index] = Role::kOther;
  } else if (ParseExactFileRecord(data, length, &record)) {
    roles_[index] = Role::kRecord;
    records_.emplace_back(index, std::move(record));
  } else {
    roles_[index] = IsIndexStart(data, length) ? Role::kIndexStart : Role::kData;
  }
  if (kind == block::kKindData && length == blockSize_) fullBlockSeen_ = true;
}

// Without a closing record the image is known by its root entry; file
// content that starts like one could come before it, never after, so the
// last such block is taken.
void MemberBlocks::FindIndexStart() {
  if (!indexStartKnown_) {
    for (std::size_t i = roles_.size(); i-- > 0;) {
      if (roles_[i] == Role::kIndexStart) {
        indexStart_ = walk_.blocks()[i].offset;
        break;
      }
    }
  }
  // Blocks from the image on are no file's, and look-alikes before it are
  // file content.
  for (std::size_t i = 0; i < roles_.size(); ++i) {
    const ULONGLONG offset = walk_.blocks()[i].offset;
    if (roles_[i] == Role::kIndexStart && offset != indexStart_) roles_[i] = Role::kData;
    if (offset >= indexStart_ && roles_[i] == Role::kRecord) roles_[i] = Role::kData;
  }
  std::erase_if(records_, [&](const auto& found) { return walk_.blocks()[found.first].offset >= indexStart_; });
}

bool MemberBlocks::Scan() {
  if (!ReadHeader()) return false;
  ReadClosingRecord();
  std::vector<ULONGLONG> anchors;
  if (closing_ != QVS_INVALID_OFFSET) anchors.push_back(closing_);
  if (indexStartKnown_) anchors.push_back(indexStart_);
  walk_.Run(
      storage_, start_, endOfData_, anchors,
      [this](std::size_t index, const BYTE* data, DWORD length) { Classify(index, data, length); },
      [](ULONGLONG) {});
  roles_.resize(walk_.blocks().size(), Role::kDamaged);
  FindIndexStart();
  return true;
}

ULONGLONG MemberBlocks::EndOf(std::size_t block) const {
  return walk_.blocks()[block].offset + block::kSize + walk_.blocks()[block].stored;
}

// Whether what follows block `last` is certainly not the same file's:
// the index image where the closing record puts it, or a block read back
// whole that is a record, the metadata table, the image's start or the
// closing record.
bool MemberBlocks::EndsAtBoundary(std::size_t last) const {
  if (indexStartKnown_ && EndOf(last) == indexStart_) return true;
  if (!walk_.Follows(last)) return false;
  const std::size_t next = last + 1;
  if (roles_[next] == Role::kRecord || roles_[next] == Role::kIndexStart) return true;
  // The record of the selection's state and the metadata table are
  // written once every file is.
  const WORD kind = walk_.blocks()[next].kind;
  if (roles_[next] == Role::kOther && (kind == block::kKindMetadata || kind == block::kKindChainState)) return true;
  return walk_.blocks()[next].offset == closing_ && roles_[next] == Role::kOther &&
         walk_.blocks()[next].kind == block::kKindClosing;
}

WString MemberBlocks::Unproven(std::size_t last) const {
  const ULONGLONG end = EndOf(last);
  if (!walk_.Follows(last)) {
    const LostStretch* lost = walk_.LostAt(end);
    return Widen("its data is cut short at offset ") + Number(end) +
           (lost != nullptr ? Widen(": ") + ArchiveErrorText(lost->error) : WString());
  }
  const WalkedBlock& next = walk_.blocks()[last + 1];
  const WString what = next.error != 0 ? Widen("a damaged block (") + ArchiveErrorText(next.error) + Widen(")")
                                       : Widen("a block of kind ") + Number(next.kind);
  return Widen("its data runs into ") + what + Widen(" at offset ") + Number(next.offset) +
         Widen(", so its end cannot be proven");
}

SavedFile MemberBlocks::FileAt(std::size_t recordBlock, const FileRecord& record, DWORD member) const {
  SavedFile file;
  file.member = member;
  file.entry = record.entry;
  file.path = record.path;
  file.recordOffset = walk_.blocks()[recordBlock].offset;
  file.fromRecord = true;
  std::vector<DWORD> lengths;
  std::size_t last = recordBlock;
  while (walk_.Follows(last) && roles_[last + 1] == Role::kData && walk_.blocks()[last + 1].offset != indexStart_) {
    lengths.push_back(walk_.blocks()[++last].dataLength);
  }
  file.contentBytes = std::accumulate(lengths.begin(), lengths.end(), ULONGLONG{0});
  file.size = file.contentBytes;
  file.fileBytes = record.RecordBytes() + file.contentBytes;
  if (walk_.Follows(last) && roles_[last + 1] == Role::kAbandoned) {
    file.lost = NotSavedWholeReason();
  } else if (record.content == layout::record::kContentRuns) {
    file.lost = Widen("it was saved as runs of data around its holes, and only the lost index gives its size");
  } else if (!FitsChunking(lengths, blockSize_)) {
    file.lost = Widen("its data blocks are not cut as a file's content is, so its end cannot be proven");
  } else if (!EndsAtBoundary(last) && !(fullBlockSeen_ && EndsItsContent(lengths, blockSize_))) {
    file.lost = Unproven(last);
  }
  return file;
}

bool MemberBlocks::AllRecordsSeen() const {
  if (indexStart_ == QVS_INVALID_OFFSET) return false;
  ULONGLONG expected = start_;
  for (std::size_t i = 0; i < roles_.size() && walk_.blocks()[i].offset < indexStart_; ++i) {
    // The record of the selection's state, the metadata table and their
    // locators lie between the files and the index; any other kind there
    // is not the writer's.
    const WORD kind = walk_.blocks()[i].kind;
    const bool metadata = kind == block::kKindMetadata || kind == block::kKindMetadataLocator ||
                          kind == block::kKindChainState || kind == block::kKindChainStateLocator;
    if (walk_.blocks()[i].offset != expected || roles_[i] == Role::kDamaged ||
        (roles_[i] == Role::kOther && !metadata)) {
      return false;
    }
    expected = EndOf(i);
  }
  return expected == indexStart_;
}

SalvagedMember MemberBlocks::Files(DWORD member) const {
  SalvagedMember salvaged;
  for (const auto& found : records_) salvaged.files.push_back(FileAt(found.first, found.second, member));
  salvaged.allRecordsSeen = AllRecordsSeen();
  return salvaged;
}

ULONGLONG Sum(const std::vector<DWORD>& lengths, std::size_t count) {
  return std::accumulate(lengths.begin(), lengths.begin() + static_cast<std::ptrdiff_t>(count), ULONGLONG{0});
}

// The number of blocks up to and including the first one shorter than the
// block size; 0 when there is none.
std::size_t FirstChunkBlocks(const std::vector<DWORD>& lengths, DWORD blockSize) {
  const auto shortBlock = std::find_if(lengths.begin(), lengths.end(), [&](DWORD n) { return n < blockSize; });
  return shortBlock == lengths.end() ? 0 : static_cast<std::size_t>(shortBlock - lengths.begin()) + 1;
}

}  // namespace

bool FitsChunking(const std::vector<DWORD>& lengths, DWORD blockSize) {
  if (blockSize == 0) return false;
  const std::size_t firstChunk = FirstChunkBlocks(lengths, blockSize);
  // No short block, or only the last: one chunk, or chunks of a multiple
  // of the block size.
  if (firstChunk == 0 || firstChunk == lengths.size()) return true;
  const ULONGLONG chunk = Sum(lengths, firstChunk);
  if (chunk < kSmallestChunk || chunk > kLargestChunk) return false;
  std::size_t at = 0;
  for (ULONGLONG left = Sum(lengths, lengths.size()); left > 0;) {
    const ULONGLONG piece = std::min(chunk, left);
    for (ULONGLONG in = piece; in > 0; ++at) {
      const ULONGLONG expected = std::min<ULONGLONG>(blockSize, in);
      if (at >= lengths.size() || lengths[at] != expected) return false;
      in -= expected;
    }
    left -= piece;
  }
  return at == lengths.size();
}

bool EndsItsContent(const std::vector<DWORD>& lengths, DWORD blockSize) {
  if (lengths.empty() || lengths.back() >= blockSize) return false;
  const std::size_t firstChunk = FirstChunkBlocks(lengths, blockSize);
  if (firstChunk == lengths.size()) return Sum(lengths, lengths.size()) < kSmallestChunk;
  // Earlier chunks show their size; the one this block ends is the last
  // when it is shorter.
  const ULONGLONG chunk = Sum(lengths, firstChunk);
  return Sum(lengths, lengths.size()) % chunk != 0;
}

SalvagedMember SalvageMember(CQVStorage& storage, DWORD member) {
  MemberBlocks blocks(storage);
  if (!blocks.Scan()) return SalvagedMember();
  return blocks.Files(member);
}

}  // namespace qvtool
