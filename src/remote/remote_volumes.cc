#include "remote/remote_volumes.h"

#include <algorithm>
#include <utility>

#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "qvbackup/qvstorage.h"

namespace qv::remote {

RemoteVolumes::RemoteVolumes(RcloneRemote& remote, WString cache, std::size_t limit)
    : remote_(remote), cache_(std::move(cache)), limit_(limit < 1 ? 1 : limit) {}

RemoteVolumes::~RemoteVolumes() {
  for (const WString& name : held_) platform::RemoveFile(InFolder(cache_, name).c_str());
}

void RemoteVolumes::MakeRoom() {
  while (held_.size() >= limit_) {
    platform::RemoveFile(InFolder(cache_, held_.front()).c_str());
    held_.pop_front();
  }
}

bool RemoteVolumes::Fetch(const WString& name) {
  const WString local = InFolder(cache_, name);
  if (std::find(held_.begin(), held_.end(), name) != held_.end() && platform::FileExists(local.c_str())) return true;
  held_.erase(std::remove(held_.begin(), held_.end(), name), held_.end());
  MakeRoom();
  if (!remote_.Fetch(name, local)) {
    error_ = GetLastError();
    reason_ = remote_.reason();
    SetLastError(error_);
    return false;
  }
  held_.push_back(name);
  ++fetches_;
  return true;
}

LONGLONG RemoteVolumes::Callback(DWORD code, ULONGLONG userValue, ULONGLONG, LONGLONG pathBuffer) {
  if (code != QVS_PROGRESS_VOLUME_MISSING || userValue == 0 || pathBuffer == 0) return 0;
  auto* self = reinterpret_cast<RemoteVolumes*>(static_cast<std::uintptr_t>(userValue));
  return self->Answer(reinterpret_cast<WCHAR*>(static_cast<std::uintptr_t>(pathBuffer)));
}

LONGLONG RemoteVolumes::Answer(WCHAR* path) {
  path[QVS_VOLUME_PATH_CHARS - 1] = 0;
  const WString failed(path);
  const WString folder = InFolder(cache_, WString());
  // Only the cache's own volume files come from the remote.
  if (failed.size() <= folder.size() || failed.compare(0, folder.size(), folder) != 0 ||
      failed.find('\\', folder.size()) != WString::npos) {
    error_ = ERROR_FILE_NOT_FOUND;
    return ERROR_CANCELLED;
  }
  if (!Fetch(failed.substr(folder.size()))) return ERROR_CANCELLED;
  return 0;  // the same path again: the file is there now
}

}  // namespace qv::remote
