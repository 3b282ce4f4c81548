#include "fileindex/fat_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "fileindex/entry_time.h"
#include "platform/code_page.h"
#include "platform/system_info.h"

namespace qv::fileindex {

namespace {

// The FAT is read through a window of this many bytes.
constexpr std::size_t kFatWindowBytes = 64 * 1024;
// Folders deeper than this are added but not entered: no real volume nests
// so deep (a path would pass any system's limit long before), and the walk
// recurses once per level.
constexpr DWORD kMaxDepth = 1024;

constexpr ULONGLONG kTicksPerHundredth = 100000;
constexpr ULONGLONG kTicksPerSecond = 10000000;

void SetTicks(FILETIME* time, ULONGLONG ticks) {
  time->dwLowDateTime = static_cast<DWORD>(ticks);
  time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

// Names that would climb out of their folder, or split into two path
// components, when the tree is restored: never added.
bool IsSafeName(const WString& name) {
  if (name.empty() || name == QVT(".") || name == QVT("..")) return false;
  return std::none_of(name.begin(), name.end(),
                      [](WCHAR c) { return c < 0x20 || c == u'\\' || c == u'/' || c == u':'; });
}

}  // namespace

BOOL FatReader::IsEOC(DWORD value) const {
  switch (geometry_.kind) {
    case 12: return value >= 0xFF8;
    case 16: return value >= 0xFFF8;
    case 32: return value >= 0x0FFFFFF8;
    default: return TRUE;
  }
}

BOOL FatReader::IsBad(DWORD value) const {
  switch (geometry_.kind) {
    case 12: case 16: case 32: return value == fat::BadClusterValue(geometry_.kind);
    default: return TRUE;
  }
}

bool FatReader::IsDataCluster(DWORD cluster) const {
  return cluster >= 2 && cluster <= geometry_.maxCluster;
}

void FatReader::BuildSystemTime(WORD time, WORD date, SYSTEMTIME& result) {
  if (!fat::DosToSystemTime(time, date, &result)) result = SYSTEMTIME{};
}

void FatReader::Towstring(const std::string& ansi, WString& wide) { wide = platform::AnsiToUtf16(ansi); }

BOOL FatReader::ReadLogicalSector(ULONGLONG sector, BYTE* buffer, DWORD size) {
  if (sector >= geometry_.totalSectors ||
      size > (geometry_.totalSectors - sector) * geometry_.bytesPerSector) {
    return FALSE;
  }
  DWORD read = 0;
  return volume_.Read(sector * geometry_.bytesPerSector, buffer, size, &read) && read == size;
}

BOOL FatReader::ReadClusterBytes(DWORD cluster, BYTE* buffer, DWORD size) {
  if (cluster == 0 && geometry_.kind != 32) {
    return size <= geometry_.rootSectors * geometry_.bytesPerSector &&
           ReadLogicalSector(geometry_.rootStart, buffer, size);
  }
  if (!IsDataCluster(cluster) || size > geometry_.clusterBytes) return FALSE;
  ULONGLONG sector = geometry_.dataStart + static_cast<ULONGLONG>(cluster - 2) * geometry_.sectorsPerCluster;
  return ReadLogicalSector(sector, buffer, size);
}

BOOL FatReader::ReadCluster12(DWORD cluster, BYTE* buffer, DWORD size) {
  return ReadClusterBytes(cluster, buffer, size);
}
BOOL FatReader::ReadCluster16(DWORD cluster, BYTE* buffer, DWORD size) {
  return ReadClusterBytes(cluster, buffer, size);
}
BOOL FatReader::ReadCluster32(DWORD cluster, BYTE* buffer, DWORD size) {
  return cluster != 0 && ReadClusterBytes(cluster, buffer, size);
}

bool FatReader::FatBytes(std::uint64_t offset, BYTE* out, std::size_t count) {
  if (offset + count > geometry_.fatBytes) return false;
  if (fatWindow_.empty() || offset < fatWindowStart_ || offset + count > fatWindowStart_ + fatWindow_.size()) {
    std::uint64_t start = offset / kFatWindowBytes * kFatWindowBytes;
    // A window ends with the FAT; one entry may still cross its end.
    std::uint64_t end = std::min<std::uint64_t>(start + kFatWindowBytes + sizeof(DWORD), geometry_.fatBytes);
    std::vector<BYTE> window(static_cast<std::size_t>(end - start));
    DWORD read = 0;
    std::uint64_t at = geometry_.fatStart * geometry_.bytesPerSector + start;
    if (!volume_.Read(at, window.data(), static_cast<DWORD>(window.size()), &read)) return false;
    window.resize(read);
    fatWindow_ = std::move(window);
    fatWindowStart_ = start;
    if (offset + count > fatWindowStart_ + fatWindow_.size()) return false;  // past the volume's end
  }
  std::memcpy(out, fatWindow_.data() + (offset - fatWindowStart_), count);
  return true;
}

DWORD FatReader::ReadNFatEntry(DWORD cluster) {
  BYTE bytes[4] = {};
  switch (geometry_.kind) {
    case 12: {
      std::uint64_t offset = cluster + cluster / 2ull;
      if (!FatBytes(offset, bytes, 2)) return 0;
      DWORD value = fat::Le16(bytes);
      return (cluster & 1) != 0 ? value >> 4 : value & 0x0FFF;
    }
    case 16:
      return FatBytes(cluster * 2ull, bytes, 2) ? fat::Le16(bytes) : 0;
    case 32:
      return FatBytes(cluster * 4ull, bytes, 4) ? fat::Le32(bytes) & 0x0FFFFFFF : 0;
    default:
      return 0;
  }
}

// The folder's bytes: the whole root region, or its chain of clusters up
// to the one holding the end mark. A chain stops at a free, bad or
// out-of-range link and at a cluster some folder already used.
bool FatReader::ReadFolderBytes(DWORD cluster, FileList& list, std::vector<BYTE>* bytes) {
  if (cluster == 0 && geometry_.kind != 32) {
    DWORD size = static_cast<DWORD>(geometry_.rootSectors * geometry_.bytesPerSector);
    bytes->resize(size);
    if (ReadClusterBytes(0, bytes->data(), size)) return true;
    // Keep the sectors that can be read, up to the first that cannot.
    DWORD good = 0;
    while (good < geometry_.rootSectors &&
           ReadLogicalSector(geometry_.rootStart + good, bytes->data() + good * geometry_.bytesPerSector,
                             geometry_.bytesPerSector)) {
      ++good;
    }
    bytes->resize(good * geometry_.bytesPerSector);
    return true;
  }
  if (cluster == 0) cluster = geometry_.rootCluster;
  const DWORD size = geometry_.clusterBytes;
  while (IsDataCluster(cluster) && foldersRead_.insert(cluster).second) {
    std::size_t at = bytes->size();
    bytes->resize(at + size);
    BOOL read = geometry_.kind == 12   ? ReadCluster12(cluster, bytes->data() + at, size)
                : geometry_.kind == 16 ? ReadCluster16(cluster, bytes->data() + at, size)
                                       : ReadCluster32(cluster, bytes->data() + at, size);
    if (!read) {
      bytes->resize(at);
      break;
    }
    list.clusters.push_back(cluster);
    ++list.clusterCount;
    bool ended = false;
    for (std::size_t e = at; e < bytes->size() && !ended; e += fat::kEntrySize) ended = (*bytes)[e] == 0;
    if (ended) break;
    DWORD next = ReadNFatEntry(cluster);
    if (next == 0 || IsEOC(next) || IsBad(next) || next > fat::BadClusterValue(geometry_.kind)) break;
    cluster = next;
  }
  return true;
}

// Long-name entries gather until the short entry they belong to; a deleted
// long-name entry met on its own stays alone.
void FatReader::GroupEntries(const std::vector<BYTE>& bytes, FileList& list) {
  bool open = false;
  for (std::size_t at = 0; at + fat::kEntrySize <= bytes.size(); at += fat::kEntrySize) {
    if (bytes[at] == fat::kEndOfFolder) break;
    fat::RawEntry entry;
    std::memcpy(entry.data(), &bytes[at], fat::kEntrySize);
    bool longName = fat::IsLongNameEntry(entry);
    if (!open) {
      list.items.emplace_back();
      FileItem& item = list.items.back();
      // Sequence bytes of live long-name entries stay below 0x80; a short
      // name may well start with such a byte, and only 0xE5 marks it free.
      item.deleted = longName ? (entry[0] & 0x80) != 0 : entry[0] == fat::kDeletedMark;
      item.expected = longName && !item.deleted ? (entry[0] & 0x3F) + 1u : 1u;
      open = longName && !item.deleted;
    }
    FileItem& item = list.items.back();
    item.raw.push_back(entry);
    if (!longName) {
      item.attributes = entry[fat::kAttributesAt];
      open = false;
    }
  }
  list.itemCount = static_cast<DWORD>(list.items.size());
}

void FatReader::BuildFilesName(FileList& list) {
  for (FileItem& item : list.items) {
    const fat::RawEntry& last = item.raw.back();
    if (fat::IsLongNameEntry(last)) continue;  // long-name entries without their short one
    item.ansiName = fat::ShortName(last);
    if (last[0] == fat::kDeletedMark) item.deleted = true;
    if (item.raw.size() > 1) item.name = fat::LongName(item.raw);
    if (item.name.empty()) Towstring(item.ansiName, item.name);
  }
}

// Local DOS time to UTC ticks; 0 when the field was never set or the time
// does not exist. Asking the system's zone rules costs a file-system call,
// and files share dates and hours: each hour of a date is converted once.
ULONGLONG FatReader::UtcTicks(WORD time, WORD date) {
  SYSTEMTIME local;
  if (!fat::DosToSystemTime(time, date, &local)) return 0;
  std::uint32_t hour = static_cast<std::uint32_t>(date) << 5 | local.wHour;
  auto cached = hourTicks_.find(hour);
  if (cached == hourTicks_.end()) {
    SYSTEMTIME start = local;
    start.wMinute = start.wSecond = 0;
    ULONGLONG ticks = 0;
    if (!platform::LocalTimeToUtcTicks(start, &ticks)) ticks = 0;
    cached = hourTicks_.emplace(hour, ticks).first;
  }
  if (cached->second == 0) return 0;
  return cached->second + (local.wMinute * 60ull + local.wSecond) * kTicksPerSecond;
}

void FatReader::Describe(const FileItem& item, QVFA_FILEINFO* info) {
  const fat::RawEntry& entry = item.raw.back();
  std::memset(info, 0, sizeof(*info));
  info->dwFileAttributes = item.attributes;
  ULONGLONG created = UtcTicks(fat::Le16(&entry[fat::kCreationTimeAt]), fat::Le16(&entry[fat::kCreationDateAt]));
  BYTE hundredths = entry[fat::kCreationHundredthsAt];
  if (created != 0 && hundredths < 200) created += hundredths * kTicksPerHundredth;
  SetTicks(&info->ftCreationTime, created);
  SetTicks(&info->ftLastAccessTime, fat::DosDateTicks(fat::Le16(&entry[fat::kAccessDateAt])));
  ULONGLONG written = UtcTicks(fat::Le16(&entry[fat::kWriteTimeAt]), fat::Le16(&entry[fat::kWriteDateAt]));
  SetTicks(&info->ftChangeTime, written);
  SetTicks(&info->ftLastWriteTime, written);
  info->ullSize = fat::Le32(&entry[fat::kSizeAt]);
}

void FatReader::BuildDirectory(FileList& list, DWORD folder) {
  for (const FileItem& item : list.items) {
    const fat::RawEntry& entry = item.raw.back();
    if (item.deleted || fat::IsLongNameEntry(entry) || entry[0] == 0 || !IsSafeName(item.name)) continue;
    bool isFolder = (item.attributes & fat::kAttrFolder) != 0;
    if ((item.attributes & fat::kAttrVolumeLabel) != 0) continue;
    QVFA_FILEINFO info;
    Describe(item, &info);
    auto length = static_cast<DWORD>(item.name.size());
    DWORD index = index_.FindChild(item.name.c_str(), length, folder);
    if (index == 0) index = index_.CreateDirectoryEntry(&info, item.name.c_str(), length, folder, 0, nullptr);
    if (index == 0 || !isFolder) continue;
    DWORD cluster = fat::FirstCluster(entry);
    if (geometry_.kind != 32) cluster &= 0xFFFF;  // the high half is not a FAT12/16 field
    if (depth_ < kMaxDepth && IsDataCluster(cluster)) ReadDir(cluster, index);
  }
}

BOOL FatReader::ReadDir(DWORD cluster, DWORD folder) {
  FileList list;
  std::vector<BYTE> bytes;
  ReadFolderBytes(cluster, list, &bytes);
  GroupEntries(bytes, list);
  BuildFilesName(list);
  ++depth_;
  BuildDirectory(list, folder);
  --depth_;
  return TRUE;
}

}  // namespace qv::fileindex

BOOL CQVFileArray::LoadFATVolume(LPCWSTR pszPath) {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  if (pszPath == nullptr || pszPath[0] == 0) {
    SetLastError(ERROR_BAD_PATHNAME);
    return FALSE;
  }
  if (m_pRawVolume == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (m_dwFileSystem != QVFA_FS_FAT12 && m_dwFileSystem != QVFA_FS_FAT16 && m_dwFileSystem != QVFA_FS_FAT32) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  auto geometry = qv::fat::ParseGeometry(std::span<const BYTE>(m_abBootSector, sizeof(m_abBootSector)),
                                         m_dwFileSystem);
  if (!geometry) {
    SetLastError(ERROR_BAD_FORMAT);
    return FALSE;
  }
  QVFA_FILEINFO drive;
  std::memset(&drive, 0, sizeof(drive));
  drive.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  drive.szName[0] = pszPath[0];
  drive.szName[1] = u':';
  DWORD driveEntry = Add(drive.szName, &drive);
  if (driveEntry == 0) return FALSE;
  auto reader = std::make_unique<qv::fileindex::FatReader>(*this, *m_pRawVolume, *geometry);
  reader->ReadDir(0, driveEntry);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
