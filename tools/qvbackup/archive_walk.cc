#include "archive_walk.h"

#include <algorithm>

#include "archive_layout.h"

namespace qvtool {

namespace {

using namespace layout;

// The most the walk lets pass between two progress reports.
constexpr ULONGLONG kProgressStep = 1 << 20;

}  // namespace

bool ReadMemberHeader(CQVStorage& storage, BYTE* header, ULONGLONG* start) {
  const ULONGLONG offset = storage.GetHeaderOffset();
  if (offset == QVS_INVALID_OFFSET || !storage.SetOriginalFilePointer(QVS_INVALID_OFFSET) ||
      !storage.ReadData(header, header::kSize)) {
    return false;
  }
  *start = offset + header::kSize;
  return true;
}

bool BlockWalk::Step(CQVStorage& storage, ULONGLONG at, ULONGLONG limit, DWORD blockSize, const Visitor& visit,
                     DWORD* error) {
  BYTE header[block::kSize];
  if (storage.Seek(at, 0, TRUE) == QVS_INVALID_OFFSET || !storage.ReadData(header, block::kSize)) {
    *error = storage.GetError() != 0 ? storage.GetError() : ERROR_HANDLE_EOF;
    return false;
  }
  WalkedBlock found;
  found.offset = at;
  found.stored = Dword(header, block::kStoredLength);
  const WORD kindWord = Word(header, block::kKind);
  found.kind = static_cast<WORD>(kindWord & block::kKindMask);
  found.dataLength = Dword(header, block::kDataLength);
  // A header that cannot be a block's: the stream cannot be followed past it.
  const bool sane = found.stored != 0 && found.stored <= blockSize + block::kEncryptionOverhead &&
                    found.dataLength != 0 && found.dataLength <= blockSize && (kindWord & block::kUnknownMarks) == 0 &&
                    limit - at >= block::kSize && found.stored <= limit - at - block::kSize;
  if (!sane) {
    *error = ERROR_INVALID_DATA;
    return false;
  }
  blocks_.push_back(found);
  BYTE* data = nullptr;
  DWORD length = 0;
  if (!storage.GetBlock(at, &data, &length)) {
    blocks_.back().error = storage.GetError() != 0 ? storage.GetError() : ERROR_INVALID_DATA;
    return true;
  }
  visit(blocks_.size() - 1, data, length);
  storage.DeleteFoundBlockData(data, length);
  return true;
}

void BlockWalk::Run(CQVStorage& storage, ULONGLONG start, ULONGLONG endOfData, std::vector<ULONGLONG> anchors,
                    const Visitor& visit, const Progress& progress) {
  std::sort(anchors.begin(), anchors.end());
  const DWORD blockSize = storage.GetArchiveBlockSize();
  ULONGLONG reported = 0;
  for (ULONGLONG at = start; at < endOfData;) {
    // No block spans a known block start: one that would has a damaged
    // header, and the walk goes on from that start.
    const auto next = std::upper_bound(anchors.begin(), anchors.end(), at);
    const ULONGLONG limit = next == anchors.end() ? endOfData : std::min(*next, endOfData);
    DWORD error = 0;
    if (Step(storage, at, limit, blockSize, visit, &error)) {
      at += block::kSize + blocks_.back().stored;
    } else {
      lost_.push_back({at, limit, error});
      at = limit;
    }
    if (at - reported >= kProgressStep || at >= endOfData) {
      progress(at);
      reported = at;
    }
  }
}

std::size_t BlockWalk::Find(ULONGLONG offset) const {
  auto found = std::lower_bound(blocks_.begin(), blocks_.end(), offset,
                                [](const WalkedBlock& block, ULONGLONG value) { return block.offset < value; });
  return found != blocks_.end() && found->offset == offset ? static_cast<std::size_t>(found - blocks_.begin()) : kNone;
}

bool BlockWalk::Follows(std::size_t i) const {
  return i + 1 < blocks_.size() &&
         blocks_[i + 1].offset == blocks_[i].offset + block::kSize + blocks_[i].stored;
}

const LostStretch* BlockWalk::LostAt(ULONGLONG offset) const {
  for (const LostStretch& stretch : lost_) {
    if (offset >= stretch.start && offset < stretch.end) return &stretch;
  }
  return nullptr;
}

}  // namespace qvtool
