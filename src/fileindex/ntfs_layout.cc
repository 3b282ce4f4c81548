#include "fileindex/ntfs_layout.h"

#include <cstring>
#include <limits>

namespace qv::ntfs {

namespace {

// Boot sector fields.
constexpr std::size_t kBootOemName = 3;
constexpr std::size_t kBootBytesPerSector = 11;    // u16
constexpr std::size_t kBootSectorsPerCluster = 13; // u8
constexpr std::size_t kBootTotalSectors = 40;      // u64
constexpr std::size_t kBootMftLcn = 48;            // u64
constexpr std::size_t kBootMftMirrorLcn = 56;      // u64
constexpr std::size_t kBootClustersPerRecord = 64; // s8
constexpr std::size_t kBootSerialNumber = 72;      // u64
constexpr std::size_t kBootSize = 512;

// Attribute header fields.
constexpr std::size_t kAttrType = 0;            // u32
constexpr std::size_t kAttrLength = 4;          // u32
constexpr std::size_t kAttrNonResident = 8;     // u8
constexpr std::size_t kAttrNameLength = 9;      // u8, in UTF-16 units
constexpr std::size_t kAttrNameOffset = 10;     // u16
constexpr std::size_t kAttrValueLength = 16;    // u32, resident
constexpr std::size_t kAttrValueOffset = 20;    // u16, resident
constexpr std::size_t kAttrResidentHeader = 24;
constexpr std::size_t kAttrFirstVcn = 16;       // u64, non-resident
constexpr std::size_t kAttrLastVcn = 24;        // u64
constexpr std::size_t kAttrRunsOffset = 32;     // u16
constexpr std::size_t kAttrAllocatedSize = 40;  // u64
constexpr std::size_t kAttrDataSize = 48;       // u64
constexpr std::size_t kAttrValidSize = 56;      // u64
constexpr std::size_t kAttrNonResidentHeader = 64;

// The fix-up protects every 512 bytes whatever the sector size.
constexpr std::size_t kFixupStride = 512;
constexpr std::size_t kRecordMinimum = 48;

bool IsPowerOfTwo(std::uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

bool Contains(std::size_t size, std::size_t at, std::size_t length) {
  return at <= size && length <= size - at;
}

std::uint32_t SectorsPerCluster(std::uint8_t raw) {
  // Values above 0x80 give clusters beyond 64 KiB as a negative power of two.
  if (raw <= 0x80) return raw;
  std::uint32_t shift = 256u - raw;
  return shift < 32 ? (1u << shift) : 0;
}


}  // namespace

std::optional<BootSector> ParseBootSector(std::span<const std::uint8_t> sector) {
  if (sector.size() < kBootSize) return std::nullopt;
  if (std::memcmp(sector.data() + kBootOemName, "NTFS    ", 8) != 0) return std::nullopt;
  BootSector boot;
  boot.bytesPerSector = Le16(sector, kBootBytesPerSector);
  std::uint32_t sectorsPerCluster = SectorsPerCluster(sector[kBootSectorsPerCluster]);
  if (!IsPowerOfTwo(boot.bytesPerSector) || boot.bytesPerSector < 256 ||
      boot.bytesPerSector > 4096 || !IsPowerOfTwo(sectorsPerCluster)) {
    return std::nullopt;
  }
  // In 64 bits: 4096 bytes times 2^28 sectors would wrap to a cluster of 0.
  const std::uint64_t cluster = std::uint64_t{boot.bytesPerSector} * sectorsPerCluster;
  if (cluster > (2u << 20)) return std::nullopt;
  boot.bytesPerCluster = static_cast<std::uint32_t>(cluster);
  auto perRecord = static_cast<std::int8_t>(sector[kBootClustersPerRecord]);
  if (perRecord > 0) {
    boot.bytesPerFileRecord = static_cast<std::uint32_t>(perRecord) * boot.bytesPerCluster;
  } else if (perRecord < 0 && -perRecord < 32) {
    boot.bytesPerFileRecord = 1u << -perRecord;
  }
  if (!IsPowerOfTwo(boot.bytesPerFileRecord) || boot.bytesPerFileRecord < 512 ||
      boot.bytesPerFileRecord > 65536) {
    return std::nullopt;
  }
  boot.totalSectors = Le64(sector, kBootTotalSectors);
  boot.mftLcn = Le64(sector, kBootMftLcn);
  boot.mftMirrorLcn = Le64(sector, kBootMftMirrorLcn);
  boot.serialNumber = Le64(sector, kBootSerialNumber);
  return boot;
}

bool ApplyFixup(std::span<std::uint8_t> record, std::uint32_t signature) {
  if (record.size() < kRecordMinimum || record.size() % kFixupStride != 0) return false;
  if (Le32(record, 0) != signature) return false;
  std::size_t usaOffset = Le16(record, kRecordUsaOffset);
  std::size_t usaCount = Le16(record, kRecordUsaCount);
  if (usaCount != record.size() / kFixupStride + 1 || usaOffset % 2 != 0 ||
      !Contains(kFixupStride - 2, usaOffset, usaCount * 2)) {
    return false;
  }
  std::uint16_t sequence = Le16(record, usaOffset);
  for (std::size_t i = 1; i < usaCount; ++i) {
    std::size_t check = i * kFixupStride - 2;
    if (Le16(record, check) != sequence) return false;
    record[check] = record[usaOffset + 2 * i];
    record[check + 1] = record[usaOffset + 2 * i + 1];
  }
  return true;
}

bool RecordBounds(std::span<const std::uint8_t> record, std::size_t* first, std::size_t* end) {
  if (record.size() < kRecordMinimum) return false;
  *first = Le16(record, kRecordFirstAttribute);
  *end = Le32(record, kRecordUsedSize);
  return *end <= record.size() && *first >= kRecordUsedSize + 4 && *first < *end &&
         *first % 8 == 0;
}

bool DecodeAttribute(std::span<const std::uint8_t> record, std::size_t offset,
                     std::size_t end, AttributeView* attribute) {
  if (end > record.size() || !Contains(end, offset, kAttrResidentHeader)) return false;
  attribute->type = Le32(record, offset + kAttrType);
  attribute->offset = offset;
  attribute->length = Le32(record, offset + kAttrLength);
  attribute->nonResident = record[offset + kAttrNonResident] != 0;
  std::size_t header = attribute->nonResident ? kAttrNonResidentHeader : kAttrResidentHeader;
  if (attribute->length < header || attribute->length % 8 != 0 ||
      !Contains(end, offset, attribute->length)) {
    return false;
  }
  auto body = record.subspan(offset, attribute->length);
  std::size_t nameLength = std::size_t{body[kAttrNameLength]} * 2;
  std::size_t nameOffset = Le16(body, kAttrNameOffset);
  if (!Contains(body.size(), nameOffset, nameLength)) return false;
  attribute->name = body.subspan(nameOffset, nameLength);
  if (!attribute->nonResident) {
    std::size_t valueLength = Le32(body, kAttrValueLength);
    std::size_t valueOffset = Le16(body, kAttrValueOffset);
    if (!Contains(body.size(), valueOffset, valueLength)) return false;
    attribute->value = body.subspan(valueOffset, valueLength);
    return true;
  }
  std::size_t runsOffset = Le16(body, kAttrRunsOffset);
  if (runsOffset < kAttrNonResidentHeader || runsOffset > body.size()) return false;
  attribute->value = body.subspan(runsOffset);
  attribute->firstVcn = Le64(body, kAttrFirstVcn);
  attribute->lastVcn = Le64(body, kAttrLastVcn);
  attribute->allocatedSize = Le64(body, kAttrAllocatedSize);
  attribute->dataSize = Le64(body, kAttrDataSize);
  attribute->validDataSize = Le64(body, kAttrValidSize);
  return true;
}

std::optional<AttributeView> FindUnnamedAttribute(std::span<const std::uint8_t> record,
                                                  std::uint32_t type) {
  std::optional<AttributeView> found;
  bool intact = ForEachAttribute(record, [&](const AttributeView& attribute) {
    if (attribute.type != type || !attribute.name.empty()) return true;
    found = attribute;
    return false;
  });
  if (!intact) return std::nullopt;
  return found;
}

bool DecodeRuns(std::span<const std::uint8_t> runList, std::uint64_t firstVcn,
                std::vector<Run>* runs) {
  runs->clear();
  std::uint64_t vcn = firstVcn;
  std::int64_t lcn = 0;
  std::size_t at = 0;
  while (at < runList.size() && runList[at] != 0) {
    std::size_t lengthSize = runList[at] & 0x0F;
    std::size_t deltaSize = runList[at] >> 4;
    ++at;
    if (lengthSize == 0 || lengthSize > 8 || deltaSize > 8 ||
        !Contains(runList.size(), at, lengthSize + deltaSize)) {
      return false;
    }
    std::uint64_t length = LoadLittleEndian(runList.data() + at, lengthSize);
    at += lengthSize;
    if (length == 0 || length > std::numeric_limits<std::uint64_t>::max() - vcn) return false;
    Run run{vcn, 0, length, deltaSize == 0};
    if (!run.sparse) {
      std::uint64_t raw = LoadLittleEndian(runList.data() + at, deltaSize);
      if (deltaSize < 8 && (raw >> (8 * deltaSize - 1)) != 0) raw |= ~std::uint64_t{0} << (8 * deltaSize);
      auto delta = static_cast<std::int64_t>(raw);
      if ((delta > 0 && lcn > std::numeric_limits<std::int64_t>::max() - delta) || lcn + delta < 0) {
        return false;
      }
      lcn += delta;
      run.lcn = static_cast<std::uint64_t>(lcn);
      at += deltaSize;
    }
    runs->push_back(run);
    vcn += length;
  }
  return at < runList.size();  // the list must end with its zero byte
}

std::optional<std::uint64_t> MapVcn(const std::vector<Run>& runs, std::uint64_t vcn,
                                    std::uint64_t* contiguous, bool* sparse) {
  for (const Run& run : runs) {
    if (vcn < run.vcn || vcn - run.vcn >= run.length) continue;
    std::uint64_t into = vcn - run.vcn;
    *contiguous = run.length - into;
    *sparse = run.sparse;
    return run.sparse ? 0 : run.lcn + into;
  }
  return std::nullopt;
}

}  // namespace qv::ntfs
