#include "restore_space.h"

#include <algorithm>

#include "qvbackup/host.h"

namespace qvtool {

namespace {

constexpr ULONGLONG kAllocation = 4096;

ULONGLONG Allocated(ULONGLONG bytes) {
  const ULONGLONG units = bytes / kAllocation + (bytes % kAllocation != 0 ? 1 : 0);
  return std::max<ULONGLONG>(units, 1) * kAllocation;
}

ULONGLONG Ticks(const FILETIME& time) {
  return static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// What `file` adds to `need`, the item at its target being as the control
// sees it now.
void Count(CQVBackupControl& control, const SavedFile& file, DWORD mode, SpaceNeed* need) {
  // No more is written than the archive holds for a file (holes are not
  // written at all), whatever size its entry claims.
  const ULONGLONG written = file.fromRecord ? file.contentBytes
                            : file.kind == QVBC_ITEM_FILE ? std::min(file.size, file.fileBytes)
                                                          : file.size;
  const ULONGLONG bytes = Allocated(written);
  ULONGLONG size = 0;
  FILETIME lastWrite = {0, 0};
  DWORD attributes = 0;
  if (file.fromRecord || !control.GetExistingTarget(file.entry, &size, &lastWrite, &attributes)) {
    need->added += bytes;  // nothing there (or not known to be): all of it
    return;
  }
  const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (file.kind == QVBC_ITEM_FOLDER || mode == QVBC_OVERWRITE_NEVER) return;
  if (mode == QVBC_OVERWRITE_OLDER && (isFolder || Ticks(lastWrite) >= file.lastWrite)) return;
  if (isFolder) {
    need->added += bytes;  // fails, but counted as if it did not
    return;
  }
  const ULONGLONG old = Allocated(size);
  need->added += bytes > old ? bytes - old : 0;
  need->largestTwice = std::max(need->largestTwice, std::min(bytes, old));
}

WString DriveRoot(const WString& path) {
  return path.size() >= 2 ? path.substr(0, 2) + Widen("\\") : path;
}

}  // namespace

std::map<WString, SpaceNeed> MeasureNeeds(ArchiveChain& chain, const std::vector<SavedFile>& files, DWORD mode,
                                          const WString& target) {
  std::map<WString, SpaceNeed> needs;
  for (const SavedFile& file : files) {
    if (!file.lost.empty()) continue;
    Count(chain.Control(file.member), file, mode, &needs[target.empty() ? DriveRoot(file.path) : target]);
  }
  return needs;
}

bool FreeSpaceOf(const WString& folder, ULONGLONG* freeBytes) {
  WString path = folder;
  for (;;) {
    if (QVGetDiskFreeSpace(path.c_str(), freeBytes)) return true;
    const DWORD error = GetLastError();
    const std::size_t cut = path.find_last_of(Widen("\\/"));
    if ((error != ERROR_PATH_NOT_FOUND && error != ERROR_FILE_NOT_FOUND) || cut == WString::npos || path.size() <= 3) {
      SetLastError(error);
      return false;
    }
    path.resize(cut <= 2 ? 3 : cut);  // up to the drive's root, "C:\"
  }
}

}  // namespace qvtool
