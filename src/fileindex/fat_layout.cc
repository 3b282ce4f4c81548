#include "fileindex/fat_layout.h"

#include <algorithm>
#include <chrono>

namespace qv::fat {

namespace {

bool IsPowerOfTwo(std::uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

// Boot sector fields.
constexpr std::size_t kBytesPerSectorAt = 11;
constexpr std::size_t kSectorsPerClusterAt = 13;
constexpr std::size_t kReservedSectorsAt = 14;
constexpr std::size_t kFatCountAt = 16;
constexpr std::size_t kRootEntriesAt = 17;
constexpr std::size_t kTotalSectors16At = 19;
constexpr std::size_t kSectorsPerFat16At = 22;
constexpr std::size_t kTotalSectors32At = 32;
constexpr std::size_t kSectorsPerFat32At = 36;
constexpr std::size_t kMirroringFlagsAt = 40;
constexpr std::size_t kRootClusterAt = 44;

constexpr std::uint16_t kOnlyOneFatActive = 0x80;
constexpr std::uint16_t kActiveFatMask = 0x0F;
constexpr std::uint32_t kLargestCluster = 2u << 20;

constexpr ULONGLONG kTicksPerSecond = 10000000;
constexpr ULONGLONG kSecondsFrom1601To1970 = 11644473600;

}  // namespace

std::uint32_t BadClusterValue(DWORD kind) {
  return kind == 12 ? 0xFF7u : kind == 16 ? 0xFFF7u : 0x0FFFFFF7u;
}

std::optional<Geometry> ParseGeometry(std::span<const std::uint8_t> sector, DWORD kind) {
  if (sector.size() < 512 || (kind != 12 && kind != 16 && kind != 32)) return std::nullopt;
  const std::uint8_t* s = sector.data();
  Geometry g;
  g.kind = kind;
  g.bytesPerSector = Le16(s + kBytesPerSectorAt);
  g.sectorsPerCluster = s[kSectorsPerClusterAt];
  std::uint32_t reserved = Le16(s + kReservedSectorsAt);
  std::uint32_t fats = s[kFatCountAt];
  if (g.bytesPerSector < 512 || g.bytesPerSector > 32768 || !IsPowerOfTwo(g.bytesPerSector) ||
      !IsPowerOfTwo(g.sectorsPerCluster) || reserved == 0 || fats == 0) {
    return std::nullopt;
  }
  g.clusterBytes = g.bytesPerSector * g.sectorsPerCluster;
  if (g.clusterBytes > kLargestCluster) return std::nullopt;
  std::uint32_t total16 = Le16(s + kTotalSectors16At);
  g.totalSectors = total16 != 0 ? total16 : Le32(s + kTotalSectors32At);

  std::uint64_t sectorsPerFat = kind == 32 ? Le32(s + kSectorsPerFat32At) : Le16(s + kSectorsPerFat16At);
  if (sectorsPerFat == 0) return std::nullopt;
  std::uint32_t active = 0;
  if (kind == 32) {
    std::uint16_t flags = Le16(s + kMirroringFlagsAt);
    if ((flags & kOnlyOneFatActive) != 0) active = flags & kActiveFatMask;
    if (active >= fats) return std::nullopt;
    g.rootCluster = Le32(s + kRootClusterAt);
  } else {
    g.rootEntries = Le16(s + kRootEntriesAt);
    g.rootSectors = (static_cast<std::uint64_t>(g.rootEntries) * kEntrySize + g.bytesPerSector - 1) /
                    g.bytesPerSector;
  }
  g.fatStart = reserved + active * sectorsPerFat;
  g.fatBytes = sectorsPerFat * g.bytesPerSector;
  g.rootStart = reserved + fats * sectorsPerFat;
  g.dataStart = g.rootStart + g.rootSectors;
  if (g.dataStart >= g.totalSectors) return std::nullopt;

  std::uint64_t clusters = (g.totalSectors - g.dataStart) / g.sectorsPerCluster;
  std::uint64_t fatEntries = kind == 12 ? g.fatBytes * 2 / 3 : g.fatBytes * 8 / kind;
  std::uint64_t highest = std::min<std::uint64_t>({clusters + 1, fatEntries - 1, BadClusterValue(kind) - 1});
  if (clusters == 0 || fatEntries < 3) return std::nullopt;
  g.maxCluster = static_cast<std::uint32_t>(highest);
  if (kind == 32 && (g.rootCluster < 2 || g.rootCluster > g.maxCluster)) return std::nullopt;
  return g;
}

bool IsLongNameEntry(const RawEntry& entry) {
  return (entry[kAttributesAt] & 0x3F) == kAttrLongName;
}

std::uint32_t FirstCluster(const RawEntry& entry) {
  return static_cast<std::uint32_t>(Le16(&entry[kClusterHighAt])) << 16 | Le16(&entry[kClusterLowAt]);
}

std::string ShortName(const RawEntry& entry) {
  constexpr std::uint8_t kLowerBase = 0x08;
  constexpr std::uint8_t kLowerExtension = 0x10;
  auto part = [&](std::size_t at, std::size_t width, bool lower) {
    std::string text(reinterpret_cast<const char*>(&entry[at]), width);
    text.erase(text.find_last_not_of(' ') + 1);
    if (lower) {
      for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      }
    }
    return text;
  };
  std::uint8_t flags = entry[kCaseFlagsAt];
  std::string name = part(kNameAt, 8, (flags & kLowerBase) != 0);
  if (!name.empty() && static_cast<std::uint8_t>(name[0]) == 0x05) name[0] = static_cast<char>(kDeletedMark);
  std::string extension = part(kExtensionAt, 3, (flags & kLowerExtension) != 0);
  if (!extension.empty()) name += "." + extension;
  return name;
}

std::uint8_t ShortNameChecksum(const RawEntry& entry) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < 11; ++i) {
    sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry[i]);
  }
  return sum;
}

WString LongName(std::span<const RawEntry> group) {
  if (group.size() < 2) return WString();
  const std::size_t parts = group.size() - 1;
  const RawEntry& shortEntry = group.back();
  const std::uint8_t checksum = ShortNameChecksum(shortEntry);
  for (std::size_t i = 0; i < parts; ++i) {
    std::uint8_t sequence = group[i][0];
    bool first = i == 0;
    if (!IsLongNameEntry(group[i]) || ((sequence & kLastLongNameMark) != 0) != first ||
        (sequence & 0x3F) != parts - i || group[i][kLongNameChecksumAt] != checksum) {
      return WString();
    }
  }
  static constexpr std::size_t kCharacterAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  WString name;
  for (std::size_t i = parts; i-- > 0;) {
    for (std::size_t at : kCharacterAt) {
      WCHAR c = Le16(&group[i][at]);
      if (c == 0) return name;
      name.push_back(c);
    }
  }
  return name;
}

bool DosToSystemTime(std::uint16_t time, std::uint16_t date, SYSTEMTIME* result) {
  using namespace std::chrono;
  year_month_day day{year(1980 + (date >> 9)), month((date >> 5) & 0x0F), std::chrono::day(date & 0x1F)};
  WORD hours = time >> 11, minutes = (time >> 5) & 0x3F, seconds = (time & 0x1F) * 2;
  if (!day.ok() || hours > 23 || minutes > 59 || seconds > 59) return false;
  *result = SYSTEMTIME{};
  result->wYear = static_cast<WORD>(1980 + (date >> 9));
  result->wMonth = static_cast<WORD>((date >> 5) & 0x0F);
  result->wDay = static_cast<WORD>(date & 0x1F);
  result->wHour = hours;
  result->wMinute = minutes;
  result->wSecond = seconds;
  return true;
}

ULONGLONG DosDateTicks(std::uint16_t date) {
  using namespace std::chrono;
  year_month_day day{year(1980 + (date >> 9)), month((date >> 5) & 0x0F), std::chrono::day(date & 0x1F)};
  if (!day.ok()) return 0;
  auto days = static_cast<ULONGLONG>(sys_days(day).time_since_epoch().count());
  return (days * 86400 + kSecondsFrom1601To1970) * kTicksPerSecond;
}

}  // namespace qv::fat
