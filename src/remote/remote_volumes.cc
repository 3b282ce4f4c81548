#include "remote/remote_volumes.h"

#include <algorithm>
#include <utility>

#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "qvbackup/qvstorage.h"

namespace qv::remote {

namespace {

// The volume fetched ahead lies under a name of its own until it is asked
// for: the library, finding it there, would open it without asking, and the
// next one would not be fetched ahead.
WString AheadName(const WString& name) { return name + platform::Utf8ToUtf16(".ahead"); }

}  // namespace

RemoteVolumes::RemoteVolumes(RcloneRemote& remote, WString cache, std::size_t limit)
    : remote_(remote), cache_(std::move(cache)), limit_(limit < 1 ? 1 : limit) {}

RemoteVolumes::~RemoteVolumes() {
  WaitForAhead(WString());
  for (const WString& name : held_) platform::RemoveFile(InFolder(cache_, name).c_str());
}

void RemoteVolumes::SetReadingOrder(std::vector<std::vector<WString>> members) { order_ = std::move(members); }

// Makes room for one more volume, keeping `keep` (the one being read).
void RemoteVolumes::MakeRoom(const WString& keep) {
  while (held_.size() >= limit_) {
    auto oldest = held_.begin();
    if (*oldest == keep) ++oldest;
    if (oldest == held_.end()) return;
    platform::RemoveFile(InFolder(cache_, *oldest).c_str());
    held_.erase(oldest);
  }
}

// Waits for the fetch ahead; true when it brought `name`, now in place.
bool RemoteVolumes::WaitForAhead(const WString& name) {
  if (!aheadThread_.joinable()) return false;
  aheadThread_.join();
  const WString fetched = InFolder(cache_, AheadName(ahead_));
  const bool wanted = aheadFetched_ && ahead_ == name &&
                      platform::RenameFile(fetched.c_str(), InFolder(cache_, name).c_str());
  if (!wanted) platform::RemoveFile(fetched.c_str());
  ahead_.clear();
  return wanted;
}

void RemoteVolumes::FetchAhead(const WString& after) {
  WString next;
  for (const std::vector<WString>& member : order_) {
    const auto at = std::find(member.begin(), member.end(), after);
    if (at != member.end() && at + 1 != member.end()) next = *(at + 1);
  }
  if (next.empty() || std::find(held_.begin(), held_.end(), next) != held_.end() ||
      platform::FileExists(InFolder(cache_, next).c_str())) {
    return;
  }
  const WString local = InFolder(cache_, AheadName(next));
  MakeRoom(after);
  ahead_ = next;
  aheadFetched_ = false;
  // A copy of the remote: its reason and cancel word are the thread's own.
  aheadThread_ = std::thread([this, remote = remote_, local]() mutable {
    aheadFetched_ = remote.Fetch(ahead_, local);
    aheadError_ = aheadFetched_ ? 0 : GetLastError();
    aheadReason_ = remote.reason();
  });
}

bool RemoteVolumes::Fetch(const WString& name) {
  const WString local = InFolder(cache_, name);
  const bool wasAhead = name == ahead_;
  if (WaitForAhead(name)) {
    held_.push_back(name);
    ++fetches_;
    FetchAhead(name);
    return true;
  }
  if (std::find(held_.begin(), held_.end(), name) != held_.end() && platform::FileExists(local.c_str())) return true;
  held_.erase(std::remove(held_.begin(), held_.end(), name), held_.end());
  MakeRoom(WString());
  if (!remote_.Fetch(name, local)) {
    error_ = GetLastError();
    reason_ = remote_.reason();
    // A failure met ahead says more than the one after it.
    if (wasAhead && aheadError_ != 0 && !aheadReason_.empty()) reason_ = aheadReason_;
    SetLastError(error_);
    return false;
  }
  held_.push_back(name);
  ++fetches_;
  // Read in order (the volume before it is here): the next one comes ahead.
  // A reader that picks one file out of the archive fetches no more.
  if (PreviousIsHere(name)) FetchAhead(name);
  return true;
}

bool RemoteVolumes::PreviousIsHere(const WString& name) const {
  for (const std::vector<WString>& member : order_) {
    const auto at = std::find(member.begin(), member.end(), name);
    if (at != member.end() && at != member.begin()) {
      return platform::FileExists(InFolder(cache_, *(at - 1)).c_str());
    }
  }
  return false;
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
