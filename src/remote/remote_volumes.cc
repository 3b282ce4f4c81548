#include "remote/remote_volumes.h"

#include <algorithm>
#include <utility>

#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "qvbackup/qvstorage.h"
#include "remote/remote_upload.h"

namespace qv::remote {

namespace {

// The volume fetched ahead lies under a name of its own until it is asked
// for: the library, finding it there, would open it without asking, and the
// next one would not be fetched ahead.
WString AheadName(const WString& name) { return name + platform::Utf8ToUtf16(".ahead"); }

}  // namespace

RemoteVolumes::RemoteVolumes(RcloneRemote& remote, WString cache, std::size_t limit, std::size_t ahead)
    : remote_(remote), cache_(std::move(cache)), limit_(limit < 1 ? 1 : limit), aheadLimit_(ahead) {}

RemoteVolumes::~RemoteVolumes() {
  DropAhead();
  for (const WString& name : held_) platform::RemoveFile(InFolder(cache_, name).c_str());
}

void RemoteVolumes::SetReadingOrder(std::vector<std::vector<WString>> members) { order_ = std::move(members); }

void RemoteVolumes::NoteSent(const WString& name) { sent_.push_back(name); }

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

// Waits for the fetch ahead of `name`, if there is one; true when it
// brought it, now in place under its name.
bool RemoteVolumes::TakeAhead(const WString& name) {
  const auto at = std::find_if(ahead_.begin(), ahead_.end(), [&](const Ahead& item) { return item.name == name; });
  if (at == ahead_.end()) return false;
  at->thread.join();
  const WString fetched = InFolder(cache_, AheadName(name));
  const bool taken = at->fetched && platform::RenameFile(fetched.c_str(), InFolder(cache_, name).c_str());
  if (!taken) {
    platform::RemoveFile(fetched.c_str());
    aheadError_ = at->error;
    aheadReason_ = at->reason;
  }
  ahead_.erase(at);
  return taken;
}

// Waits for every fetch ahead and removes what they brought.
void RemoteVolumes::DropAhead() {
  for (Ahead& item : ahead_) {
    item.thread.join();
    platform::RemoveFile(InFolder(cache_, AheadName(item.name)).c_str());
  }
  ahead_.clear();
}

void RemoteVolumes::FetchAhead(const WString& after) {
  for (const std::vector<WString>& member : order_) {
    const auto at = std::find(member.begin(), member.end(), after);
    if (at == member.end()) continue;
    for (auto next = at + 1; next != member.end() && next - at <= static_cast<std::ptrdiff_t>(aheadLimit_) &&
                             ahead_.size() < aheadLimit_;
         ++next) {
      const WString& name = *next;
      if (std::find(held_.begin(), held_.end(), name) != held_.end() ||
          std::any_of(ahead_.begin(), ahead_.end(), [&](const Ahead& item) { return item.name == name; }) ||
          platform::FileExists(InFolder(cache_, name).c_str())) {
        continue;
      }
      Ahead& item = ahead_.emplace_back();
      item.name = name;
      const WString local = InFolder(cache_, AheadName(name));
      const WString remoteName = std::find(sent_.begin(), sent_.end(), name) != sent_.end() ? SentName(name) : name;
      // A copy of the remote: its reason and cancel word are the thread's own.
      item.thread = std::thread([&item, remote = remote_, remoteName, local]() mutable {
        item.fetched = remote.Fetch(remoteName, local);
        item.error = item.fetched ? 0 : GetLastError();
        item.reason = remote.reason();
      });
    }
  }
}

bool RemoteVolumes::Fetch(const WString& name) {
  const WString local = InFolder(cache_, name);
  if (std::find(held_.begin(), held_.end(), name) != held_.end() && platform::FileExists(local.c_str())) return true;
  held_.erase(std::remove(held_.begin(), held_.end(), name), held_.end());
  aheadError_ = 0;
  aheadReason_.clear();
  if (TakeAhead(name)) {
    MakeRoom(WString());
    held_.push_back(name);
    ++fetches_;
    FetchAhead(name);
    return true;
  }
  // The reader went elsewhere: what was fetched ahead is not wanted.
  DropAhead();
  MakeRoom(WString());
  const bool sent = std::find(sent_.begin(), sent_.end(), name) != sent_.end();
  if (!remote_.Fetch(sent ? SentName(name) : name, local)) {
    error_ = GetLastError();
    reason_ = remote_.reason();
    // A failure met ahead says more than the one after it.
    if (aheadError_ != 0 && !aheadReason_.empty()) reason_ = aheadReason_;
    SetLastError(error_);
    return false;
  }
  held_.push_back(name);
  ++fetches_;
  // Read in order (the volume before it is here): the next ones come ahead.
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
