// Decoding of FAT12, FAT16 and FAT32 on-disk structures: the boot sector's
// geometry, 32-byte folder entries, long-name groups and DOS times.
//
// Pure functions over bytes: no I/O and no system header. Every value taken
// from a volume is checked before it is used to place a read.
#ifndef QVBACKUP_FILEINDEX_FAT_LAYOUT_H_
#define QVBACKUP_FILEINDEX_FAT_LAYOUT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fileindex/little_endian.h"
#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::fat {

// Where everything lies, in sectors from the start of the volume.
struct Geometry {
  DWORD kind = 0;                  // 12, 16 or 32
  std::uint32_t bytesPerSector = 0;
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t clusterBytes = 0;
  std::uint64_t totalSectors = 0;
  std::uint64_t fatStart = 0;      // the active FAT
  std::uint64_t fatBytes = 0;      // of one FAT
  std::uint64_t rootStart = 0;     // FAT12/16: the fixed root folder region
  std::uint32_t rootEntries = 0;
  std::uint64_t rootSectors = 0;
  std::uint64_t dataStart = 0;     // cluster 2
  std::uint32_t rootCluster = 0;   // FAT32
  std::uint32_t maxCluster = 0;    // the highest cluster number on the volume
};

// The geometry of a volume of `kind` (12, 16 or 32, as its boot sector
// names it) from its boot sector's first 512 bytes. Any sector size that is
// a power of two from 512 to 32768 is accepted; a FAT32 volume whose
// mirroring flags (offset 40) name another active FAT is read through that
// one. Nothing when a field is zero or out of range, or when the FATs, the
// root region or the root cluster do not fit in the volume.
std::optional<Geometry> ParseGeometry(std::span<const std::uint8_t> sector, DWORD kind);

// The highest value of a FAT entry that still links to a next cluster: the
// bad-cluster value is one above it.
std::uint32_t BadClusterValue(DWORD kind);

// Folder entry layout.
inline constexpr std::size_t kEntrySize = 32;
inline constexpr std::size_t kNameAt = 0;
inline constexpr std::size_t kExtensionAt = 8;
inline constexpr std::size_t kAttributesAt = 11;
inline constexpr std::size_t kCaseFlagsAt = 12;
inline constexpr std::size_t kCreationHundredthsAt = 13;
inline constexpr std::size_t kCreationTimeAt = 14;
inline constexpr std::size_t kCreationDateAt = 16;
inline constexpr std::size_t kAccessDateAt = 18;
inline constexpr std::size_t kClusterHighAt = 20;
inline constexpr std::size_t kWriteTimeAt = 22;
inline constexpr std::size_t kWriteDateAt = 24;
inline constexpr std::size_t kClusterLowAt = 26;
inline constexpr std::size_t kSizeAt = 28;
inline constexpr std::size_t kLongNameChecksumAt = 13;

inline constexpr std::uint8_t kEndOfFolder = 0x00;
inline constexpr std::uint8_t kDeletedMark = 0xE5;
inline constexpr std::uint8_t kAttrReadOnly = 0x01;
inline constexpr std::uint8_t kAttrVolumeLabel = 0x08;
inline constexpr std::uint8_t kAttrFolder = 0x10;
inline constexpr std::uint8_t kAttrLongName = 0x0F;  // under the mask 0x3F
inline constexpr std::uint8_t kLastLongNameMark = 0x40;

using RawEntry = std::array<std::uint8_t, kEntrySize>;

inline std::uint16_t Le16(const std::uint8_t* bytes) { return LoadLe16(bytes); }
inline std::uint32_t Le32(const std::uint8_t* bytes) { return LoadLe32(bytes); }

bool IsLongNameEntry(const RawEntry& entry);
std::uint32_t FirstCluster(const RawEntry& entry);

// The short name of `entry` as its bytes: the base without trailing spaces,
// then "." and the extension without trailing spaces when it has one. The
// lower-case flags (0x08 base, 0x10 extension) are applied to ASCII letters;
// a leading 0x05 stands for the byte 0xE5.
std::string ShortName(const RawEntry& entry);

// The checksum of the short name that long-name entries carry.
std::uint8_t ShortNameChecksum(const RawEntry& entry);

// The long name of a group (its long-name entries in disk order, then its
// short entry), all 16 bits of every character, ending at the first 0.
// Empty when the entries do not form one intact long name: a count that is
// not the one announced, sequence numbers out of order, or a checksum that
// does not match the short entry's.
WString LongName(std::span<const RawEntry> group);

// The local time of a DOS date and time (day bits 0-4, month 5-8, years
// from 1980 in 9-15; seconds/2 bits 0-4, minutes 5-10, hours 11-15); day of
// week and milliseconds 0. False for a date or time that does not exist
// (date 0 included: the field was never set).
bool DosToSystemTime(std::uint16_t time, std::uint16_t date, SYSTEMTIME* result);

// Ticks (100 ns since 1601) of the DOS date at midnight, as written: no time
// zone applies to it. 0 for a date that does not exist.
ULONGLONG DosDateTicks(std::uint16_t date);

}  // namespace qv::fat

#endif  // QVBACKUP_FILEINDEX_FAT_LAYOUT_H_
