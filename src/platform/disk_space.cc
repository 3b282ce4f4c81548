// The seam in front of the system's volume queries.
#include "platform/disk_space.h"

#include <atomic>

#include "platform/system_info.h"

namespace qv::platform {

namespace {

using DriveTypeQuery = UINT (*)(const WCHAR*);
using DiskSpaceQuery = bool (*)(const WCHAR*, DiskSpace*);

std::atomic<DriveTypeQuery> driveTypeQuery{nullptr};
std::atomic<DiskSpaceQuery> diskSpaceQuery{nullptr};

}  // namespace

VolumeQueries ReplaceVolumeQueriesForTesting(const VolumeQueries& queries) {
  VolumeQueries previous;
  previous.driveType = driveTypeQuery.exchange(queries.driveType);
  previous.diskSpace = diskSpaceQuery.exchange(queries.diskSpace);
  return previous;
}

UINT QueryDriveType(const WCHAR* root) {
  DriveTypeQuery query = driveTypeQuery.load();
  return query != nullptr ? query(root) : DriveTypeOf(root);
}

bool QueryDiskSpace(const WCHAR* path, DiskSpace* space) {
  DiskSpaceQuery query = diskSpaceQuery.load();
  return query != nullptr ? query(path, space) : GetDiskSpace(path, space);
}

}  // namespace qv::platform
