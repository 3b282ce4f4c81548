#include "platform/posix/file_status.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <limits>

namespace qv::platform::posix {

namespace {

constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kNanosecondsPerTick = 100;

ItemKind KindOf(unsigned mode) {
  if (S_ISREG(mode)) return ItemKind::kFile;
  if (S_ISDIR(mode)) return ItemKind::kFolder;
  if (S_ISLNK(mode)) return ItemKind::kSymbolicLink;
  return ItemKind::kOther;
}

void FillCommon(unsigned mode, std::uint64_t device, std::uint64_t size, ItemStatus* status) {
  status->kind = KindOf(mode);
  status->ownerCanWrite = (mode & S_IWUSR) != 0;
  status->device = device;
  status->size = size;
}

#if defined(STATX_BTIME)
// statx is the only call that returns the birth time; kernels or sandboxes
// without it fall back to fstatat.
bool QueryWithStatx(int folderFd, const char* name, ItemStatus* status) {
  struct statx data;
  if (statx(folderFd, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &data) != 0) return false;
  FillCommon(data.stx_mode, makedev(data.stx_dev_major, data.stx_dev_minor), data.stx_size, status);
  const struct statx_timestamp& created = (data.stx_mask & STATX_BTIME) ? data.stx_btime : data.stx_ctime;
  status->creationTime = FileTimeFromUnix(created.tv_sec, created.tv_nsec);
  status->lastAccessTime = FileTimeFromUnix(data.stx_atime.tv_sec, data.stx_atime.tv_nsec);
  status->lastWriteTime = FileTimeFromUnix(data.stx_mtime.tv_sec, data.stx_mtime.tv_nsec);
  return true;
}
#endif

bool QueryWithStat(int folderFd, const char* name, ItemStatus* status) {
  struct stat data;
  if (fstatat(folderFd, name, &data, AT_SYMLINK_NOFOLLOW) != 0) return false;
  FillCommon(data.st_mode, data.st_dev, static_cast<std::uint64_t>(data.st_size), status);
  status->creationTime = FileTimeFromUnix(data.st_ctim.tv_sec, data.st_ctim.tv_nsec);
  status->lastAccessTime = FileTimeFromUnix(data.st_atim.tv_sec, data.st_atim.tv_nsec);
  status->lastWriteTime = FileTimeFromUnix(data.st_mtim.tv_sec, data.st_mtim.tv_nsec);
  return true;
}

bool QueryWithoutFollowing(int folderFd, const char* name, ItemStatus* status) {
#if defined(STATX_BTIME)
  if (QueryWithStatx(folderFd, name, status)) return true;
  if (errno != ENOSYS) return false;
#endif
  return QueryWithStat(folderFd, name, status);
}

bool IsHiddenName(std::string_view name) {
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

}  // namespace

bool QueryItem(int folderFd, const char* name, ItemStatus* status) {
  if (!QueryWithoutFollowing(folderFd, name, status)) return false;
  if (status->kind == ItemKind::kSymbolicLink) {
    struct stat target;
    status->linkNamesFolder = fstatat(folderFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
  }
  return true;
}

FILETIME FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds) {
  constexpr std::int64_t kLargestSeconds =
      std::numeric_limits<std::int64_t>::max() / kTicksPerSecond - kSecondsFrom1601To1970 - 1;
  std::uint64_t ticks = 0;
  if (seconds >= kLargestSeconds) {
    ticks = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  } else if (seconds >= -kSecondsFrom1601To1970) {
    ticks = static_cast<std::uint64_t>((seconds + kSecondsFrom1601To1970) * kTicksPerSecond +
                                       nanoseconds / kNanosecondsPerTick);
  }
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

DWORD AttributesOf(const ItemStatus& status, std::string_view name, bool isMountPoint) {
  DWORD attributes = 0;
  switch (status.kind) {
    case ItemKind::kFile: attributes = FILE_ATTRIBUTE_ARCHIVE; break;
    case ItemKind::kFolder:
      attributes = FILE_ATTRIBUTE_DIRECTORY | (isMountPoint ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
      break;
    case ItemKind::kSymbolicLink:
      attributes = FILE_ATTRIBUTE_REPARSE_POINT |
                   (status.linkNamesFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
      break;
    case ItemKind::kOther: break;
  }
  // A link's own permission bits mean nothing; only its target's would.
  if (!status.ownerCanWrite && status.kind != ItemKind::kSymbolicLink) attributes |= FILE_ATTRIBUTE_READONLY;
  if (IsHiddenName(name)) attributes |= FILE_ATTRIBUTE_HIDDEN;
  return attributes;
}

FileInformation InformationOf(const ItemStatus& status, DWORD attributes) {
  FileInformation info;
  info.attributes = attributes;
  info.creationTime = status.creationTime;
  info.lastAccessTime = status.lastAccessTime;
  info.lastWriteTime = status.lastWriteTime;
  info.size = status.kind == ItemKind::kFile ? status.size : 0;
  return info;
}

}  // namespace qv::platform::posix
