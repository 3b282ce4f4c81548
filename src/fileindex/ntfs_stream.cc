#include "fileindex/ntfs_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>
#include <utility>

namespace qv::ntfs {

bool ReadRuns(const std::vector<Run>& runs, std::uint32_t clusterSize, std::uint64_t offset,
              std::uint8_t* out, std::size_t size, const ReadAt& read) {
  const std::uint64_t cluster = clusterSize;
  if (cluster == 0) return false;
  while (size > 0) {
    std::uint64_t contiguous = 0;
    bool sparse = false;
    auto lcn = MapVcn(runs, offset / cluster, &contiguous, &sparse);
    if (!lcn) return false;
    std::uint64_t into = offset % cluster;
    std::uint64_t available = contiguous > std::numeric_limits<std::uint64_t>::max() / cluster
                                  ? std::numeric_limits<std::uint64_t>::max()
                                  : contiguous * cluster - into;
    auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(available, size));
    if (sparse) {
      std::memset(out, 0, chunk);
    } else {
      if (*lcn > (std::numeric_limits<std::uint64_t>::max() - into) / cluster) return false;
      if (!read(*lcn * cluster + into, out, chunk)) return false;
    }
    out += chunk;
    offset += chunk;
    size -= chunk;
  }
  return true;
}

StreamWindow::StreamWindow(const std::vector<Run>& runs, std::uint32_t clusterSize,
                           std::uint64_t validLength, ReadAt read)
    : runs_(runs), clusterSize_(clusterSize), validLength_(validLength), read_(std::move(read)) {}

bool StreamWindow::Fill(std::uint64_t start) {
  filled_ = false;
  if (start >= validLength_) return false;
  window_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kWindowBytes, validLength_ - start)));
  if (!ReadRuns(runs_, clusterSize_, start, window_.data(), window_.size(), read_)) return false;
  start_ = start;
  filled_ = true;
  return true;
}

bool StreamWindow::Read(std::uint64_t offset, std::uint8_t* out, std::size_t size) {
  if (offset > validLength_ || size > validLength_ - offset) return false;
  bool inside = filled_ && offset >= start_ && offset - start_ + size <= window_.size();
  if (!inside) {
    std::uint64_t start = offset / kWindowBytes * kWindowBytes;
    // A window holding a hole or a damaged run is not kept; the request
    // alone may still be readable.
    inside = offset + size <= start + kWindowBytes && Fill(start);
  }
  if (!inside) return ReadRuns(runs_, clusterSize_, offset, out, size, read_);
  std::memcpy(out, window_.data() + (offset - start_), size);
  return true;
}

namespace {

constexpr std::uint32_t kAttrAttributeList = 0x20;
constexpr std::size_t kRecordBaseReference = 0x20;  // u64; ApplyFixup ensures 48 bytes
constexpr std::uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;

// Attribute list entry fields.
constexpr std::size_t kEntryType = 0;        // u32
constexpr std::size_t kEntryLength = 4;      // u16
constexpr std::size_t kEntryNameLength = 6;  // u8, in UTF-16 units
constexpr std::size_t kEntryReference = 16;  // u64: record number (48 bits), sequence (16)
constexpr std::size_t kEntryHeader = 26;

constexpr std::uint64_t kMaxAttributeListBytes = 256 * 1024;

// The share of the $MFT's data one non-resident attribute header maps.
struct Piece {
  std::uint64_t firstVcn = 0;
  std::uint64_t lastVcn = 0;
  std::vector<Run> runs;
};

// False when the runs do not span exactly the header's VCN range: the
// pieces are joined by those ranges.
bool DecodePiece(const AttributeView& attribute, Piece* piece) {
  if (!attribute.nonResident || attribute.lastVcn < attribute.firstVcn) return false;
  piece->firstVcn = attribute.firstVcn;
  piece->lastVcn = attribute.lastVcn;
  if (!DecodeRuns(attribute.value, attribute.firstVcn, &piece->runs) || piece->runs.empty()) return false;
  const Run& last = piece->runs.back();
  return last.vcn + (last.length - 1) == attribute.lastVcn;
}

// Adds the unnamed $DATA pieces of a fixed-up record; `sizes`, when given,
// gets the sizes the piece at VCN 0 states.
bool AddPieces(std::span<const std::uint8_t> record, std::vector<Piece>* pieces, MftLayout* sizes) {
  bool good = true;
  bool intact = ForEachAttribute(record, [&](const AttributeView& attribute) {
    if (attribute.type != kAttrData || !attribute.name.empty()) return true;
    Piece piece;
    good = DecodePiece(attribute, &piece);
    if (!good) return false;
    if (sizes != nullptr && piece.firstVcn == 0) {
      sizes->validLength = attribute.validDataSize;
      sizes->dataSize = attribute.dataSize;
      sizes->allocatedSize = attribute.allocatedSize;
    }
    pieces->push_back(std::move(piece));
    return true;
  });
  return intact && good;
}

// The value of record 0's attribute list; empty when it has none.
bool ReadAttributeList(std::span<const std::uint8_t> record0, std::uint32_t cluster, const ReadAt& read,
                       std::vector<std::uint8_t>* bytes) {
  bytes->clear();
  auto list = FindUnnamedAttribute(record0, kAttrAttributeList);
  if (!list) return true;
  if (!list->nonResident) {
    bytes->assign(list->value.begin(), list->value.end());
    return true;
  }
  // Bytes past the valid length are not on disk.
  std::uint64_t size = std::min(list->dataSize, list->validDataSize);
  std::vector<Run> runs;
  if (size > kMaxAttributeListBytes || !DecodeRuns(list->value, list->firstVcn, &runs)) return false;
  bytes->resize(static_cast<std::size_t>(size));
  return ReadRuns(runs, cluster, 0, bytes->data(), bytes->size(), read);
}

// The records other than 0 the list names for the unnamed $DATA, each
// once, in list order.
bool DataExtensionRecords(std::span<const std::uint8_t> list, std::vector<std::uint64_t>* numbers) {
  std::set<std::uint64_t> seen;
  for (std::size_t at = 0; at < list.size();) {
    if (list.size() - at < kEntryHeader) return false;
    std::size_t length = Le16(list, at + kEntryLength);
    if (length < kEntryHeader || length > list.size() - at) return false;
    std::uint64_t number = Le64(list, at + kEntryReference) & kRecordNumberMask;
    bool data = Le32(list, at + kEntryType) == kAttrData && list[at + kEntryNameLength] == 0;
    if (data && number != 0 && seen.insert(number).second) {
      if (numbers->size() == kMaxMftExtensionRecords) return false;
      numbers->push_back(number);
    }
    at += length;
  }
  return true;
}

// Reads extension record `number` through the runs known so far.
bool ReadExtensionRecord(const std::vector<Run>& known, const BootSector& boot, std::uint64_t validLength,
                         std::uint64_t number, const ReadAt& read, std::vector<std::uint8_t>* record) {
  const std::uint64_t size = boot.bytesPerFileRecord;
  if (number >= validLength / size) return false;  // not on disk yet
  record->assign(size, 0);
  if (!ReadRuns(known, boot.bytesPerCluster, number * size, record->data(), record->size(), read) ||
      !ApplyFixup(*record, kFileSignature)) {
    return false;
  }
  bool inUse = (Le16(*record, kRecordFlags) & kRecordInUse) != 0;
  return inUse && (Le64(*record, kRecordBaseReference) & kRecordNumberMask) == 0;
}

// Adds the runs of pieces[from...] to those extension records are read
// through. Every read looks runs up one by one, so their number is bounded.
bool AddRuns(const std::vector<Piece>& pieces, std::size_t from, std::vector<Run>* known) {
  for (std::size_t i = from; i < pieces.size(); ++i) {
    if (pieces[i].runs.size() > kMaxMftRuns - known->size()) return false;
    known->insert(known->end(), pieces[i].runs.begin(), pieces[i].runs.end());
  }
  return true;
}

// Joins the pieces in VCN order. Overlaps are contradictions and gaps leave
// records out of reach, so both are refused, as are runs that end before
// the valid length.
bool JoinPieces(std::vector<Piece>* pieces, std::uint32_t cluster, MftLayout* out) {
  std::sort(pieces->begin(), pieces->end(),
            [](const Piece& a, const Piece& b) { return a.firstVcn < b.firstVcn; });
  out->runs.clear();
  std::uint64_t next = 0;
  for (const Piece& piece : *pieces) {
    if (piece.firstVcn != next || piece.lastVcn == std::numeric_limits<std::uint64_t>::max()) return false;
    out->runs.insert(out->runs.end(), piece.runs.begin(), piece.runs.end());
    next = piece.lastVcn + 1;
  }
  std::uint64_t needed = out->validLength / cluster + (out->validLength % cluster != 0 ? 1 : 0);
  return next >= needed;
}

}  // namespace

bool LoadMftLayout(std::span<const std::uint8_t> record0, const BootSector& boot, const ReadAt& read,
                   MftLayout* out) {
  *out = MftLayout{};
  if (boot.bytesPerCluster == 0 || boot.bytesPerFileRecord == 0) return false;
  // Without the piece at VCN 0 the valid length stays 0: no extension
  // record can be read and the join refuses the pieces.
  std::vector<Piece> pieces;
  if (!AddPieces(record0, &pieces, out)) return false;
  std::vector<std::uint8_t> list;
  std::vector<std::uint64_t> numbers;
  if (!ReadAttributeList(record0, boot.bytesPerCluster, read, &list) || !DataExtensionRecords(list, &numbers)) {
    return false;
  }
  std::vector<Run> known;
  if (!AddRuns(pieces, 0, &known)) return false;
  std::vector<std::uint8_t> record;
  for (std::uint64_t number : numbers) {
    std::size_t before = pieces.size();
    if (!ReadExtensionRecord(known, boot, out->validLength, number, read, &record) ||
        !AddPieces(record, &pieces, nullptr) || !AddRuns(pieces, before, &known)) {
      return false;
    }
  }
  return JoinPieces(&pieces, boot.bytesPerCluster, out);
}

}  // namespace qv::ntfs
