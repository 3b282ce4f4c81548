// Decoding of NTFS on-disk structures: the boot sector, file record headers,
// the update-sequence fix-up, the attribute walk and data run lists.
//
// Pure functions over byte spans: no I/O and no system header, so the same
// code serves the POSIX emulation of the NTFS volume control codes and the
// NTFS reader on every platform. Every offset and length taken from the bytes
// is checked against the span before use; hostile input gives a failure
// result, never a read outside the span.
#ifndef QVBACKUP_FILEINDEX_NTFS_LAYOUT_H_
#define QVBACKUP_FILEINDEX_NTFS_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fileindex/little_endian.h"

namespace qv::ntfs {

// Little-endian reads; the caller guarantees `at + width <= bytes.size()`.
inline std::uint16_t Le16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return LoadLe16(bytes.data() + at);
}
inline std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return LoadLe32(bytes.data() + at);
}
inline std::uint64_t Le64(std::span<const std::uint8_t> bytes, std::size_t at) {
  return LoadLe64(bytes.data() + at);
}

// What the first sector of an NTFS volume says about its geometry.
struct BootSector {
  std::uint32_t bytesPerSector = 0;     // 256..4096, a power of two
  std::uint32_t bytesPerCluster = 0;    // sector * sectors per cluster
  std::uint64_t totalSectors = 0;
  std::uint64_t mftLcn = 0;
  std::uint64_t mftMirrorLcn = 0;
  std::uint32_t bytesPerFileRecord = 0; // 512..65536, a power of two
  std::uint64_t serialNumber = 0;
};

// Parses the 512 first bytes of a volume. Nothing when the "NTFS    " OEM
// name is missing or a size is out of range (zero, not a power of two,
// cluster above 2 MiB, record above 64 KiB or smaller than a sector's
// fix-up needs: below 512 bytes).
std::optional<BootSector> ParseBootSector(std::span<const std::uint8_t> sector);

// File record header fields (offsets within a record).
inline constexpr std::size_t kRecordUsaOffset = 4;      // u16
inline constexpr std::size_t kRecordUsaCount = 6;       // u16
inline constexpr std::size_t kRecordSequence = 16;      // u16
inline constexpr std::size_t kRecordFirstAttribute = 20;  // u16
inline constexpr std::size_t kRecordFlags = 22;         // u16
inline constexpr std::size_t kRecordUsedSize = 24;      // u32
inline constexpr std::uint16_t kRecordInUse = 0x0001;
inline constexpr std::uint16_t kRecordIsFolder = 0x0002;

// Checks and undoes the update-sequence fix-up of a multi-sector record
// ("FILE" or "INDX") in place: the last two bytes of every 512-byte stride
// must equal the sequence number, and get back the saved bytes. False, with
// the record possibly half restored, when the signature, the array's place
// or size, or any stride's check bytes are wrong.
bool ApplyFixup(std::span<std::uint8_t> record, std::uint32_t signature);
inline constexpr std::uint32_t kFileSignature = 0x454C4946;  // "FILE"

// One attribute of a file record, as located by the walk.
struct AttributeView {
  std::uint32_t type = 0;
  std::size_t offset = 0;  // of the attribute header within the record
  std::size_t length = 0;
  bool nonResident = false;
  std::span<const std::uint8_t> name;   // UTF-16LE bytes
  // Resident: the value. Non-resident: the run list bytes.
  std::span<const std::uint8_t> value;
  // Non-resident only.
  std::uint64_t firstVcn = 0;
  std::uint64_t lastVcn = 0;
  std::uint64_t allocatedSize = 0;
  std::uint64_t dataSize = 0;
  std::uint64_t validDataSize = 0;
};

inline constexpr std::uint32_t kAttrData = 0x80;
inline constexpr std::uint32_t kAttrBitmap = 0xB0;
inline constexpr std::uint32_t kAttrEnd = 0xFFFFFFFF;

// Walks the attributes of a fixed-up record, calling `visit` for each until
// it returns false or the end marker. False when any header lies outside
// the record's used size or is inconsistent (the walk stops there).
template <typename Visit>
bool ForEachAttribute(std::span<const std::uint8_t> record, Visit visit);

// Decodes the attribute header at `offset`; false when it is malformed.
bool DecodeAttribute(std::span<const std::uint8_t> record, std::size_t offset,
                     std::size_t end, AttributeView* attribute);

// The offset of the first attribute and the end of the used part, or false.
bool RecordBounds(std::span<const std::uint8_t> record, std::size_t* first, std::size_t* end);

// The first unnamed attribute of `type` (the base record's view only).
std::optional<AttributeView> FindUnnamedAttribute(std::span<const std::uint8_t> record,
                                                  std::uint32_t type);

// A stretch of clusters: `length` clusters from virtual cluster `vcn`, at
// logical cluster `lcn` or, when `sparse`, not stored (reads as zeros).
struct Run {
  std::uint64_t vcn = 0;
  std::uint64_t lcn = 0;
  std::uint64_t length = 0;
  bool sparse = false;
};

// Decodes a run list starting at virtual cluster `firstVcn`: each entry has
// a header byte (low nibble: size of the length, high nibble: size of the
// signed LCN delta, 0 for a sparse run), ended by a zero byte. False for a
// zero length, a field wider than 8 bytes, a run past the bytes, an LCN
// that goes negative or a VCN that overflows.
bool DecodeRuns(std::span<const std::uint8_t> runList, std::uint64_t firstVcn,
                std::vector<Run>* runs);

// Where virtual cluster `vcn` lies: its logical cluster and the clusters
// left in its run; nothing when no run holds it. `*sparse` tells a hole.
std::optional<std::uint64_t> MapVcn(const std::vector<Run>& runs, std::uint64_t vcn,
                                    std::uint64_t* contiguous, bool* sparse);

template <typename Visit>
bool ForEachAttribute(std::span<const std::uint8_t> record, Visit visit) {
  std::size_t offset = 0;
  std::size_t end = 0;
  if (!RecordBounds(record, &offset, &end)) return false;
  while (true) {
    if (offset + 4 > end) return false;
    if (Le32(record, offset) == kAttrEnd) return true;
    AttributeView attribute;
    if (!DecodeAttribute(record, offset, end, &attribute)) return false;
    if (!visit(attribute)) return true;
    offset += attribute.length;
  }
}

}  // namespace qv::ntfs

#endif  // QVBACKUP_FILEINDEX_NTFS_LAYOUT_H_
