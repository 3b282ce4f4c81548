#include "remote/remote_lock.h"

#include <utility>
#include <vector>

#include "platform/file_lock.h"
#include "platform/file_ops.h"
#include "storage/lock_holder.h"

namespace qv::remote {

namespace {

WString LockPrefix(const WString& name) { return name + platform::Utf8ToUtf16(".qvlock-"); }

// Whether a lock's text names a run of this machine that is no more:
// "process N on HOST, since ..." with this machine's HOST and no process N.
// A run of another machine is never judged from here.
bool IsStale(const std::string& said) {
  const std::string self = platform::Utf16ToUtf8(platform::ThisProcessDescription());
  const std::size_t selfHost = self.find(" on ");
  const std::string prefix = "process ";
  if (selfHost == std::string::npos || said.compare(0, prefix.size(), prefix) != 0) return false;
  std::size_t end = prefix.size();
  unsigned long long id = 0;
  while (end < said.size() && said[end] >= '0' && said[end] <= '9' && id <= 0xFFFFFFFFull) {
    id = id * 10 + static_cast<unsigned>(said[end++] - '0');
  }
  if (end == prefix.size() || id > 0xFFFFFFFFull) return false;
  const std::string host = self.substr(selfHost) + ",";
  if (said.compare(end, host.size(), host) != 0) return false;
  return !platform::ProcessIsRunning(static_cast<DWORD>(id));
}

}  // namespace

bool IsLockOf(const WString& file, const WString& name) {
  const WString prefix = LockPrefix(name);
  return file.size() > prefix.size() && file.compare(0, prefix.size(), prefix) == 0 && !IsPartName(file);
}

RemoteLock::RemoteLock(RcloneRemote& remote, WString name, WString scratch)
    : remote_(remote), name_(std::move(name)), scratch_(std::move(scratch)) {}

RemoteLock::~RemoteLock() { Release(); }

bool RemoteLock::Acquire() {
  if (held_) return true;
  heldBy_.clear();
  holder_.clear();
  lockName_ = LockPrefix(name_) + UniqueToken();
  const std::string text = platform::Utf16ToUtf8(storage::LockHolderText()) + "\n";
  if (!remote_.SendText(text, lockName_, scratch_)) return false;
  std::vector<RemoteFile> files;
  if (!remote_.List(&files)) {
    const DWORD error = GetLastError();
    remote_.Remove(lockName_);
    return FailWith(error);
  }
  const WString prefix = LockPrefix(name_);
  for (const RemoteFile& file : files) {
    if (file.name == lockName_ || file.name.compare(0, prefix.size(), prefix) != 0) continue;
    // A lock on its way (a part) does not count, but one a dead run left does go.
    const bool sending = !IsLockOf(file.name, name_);
    std::string said;
    if (remote_.ReadRange(file.name, 0, 400, &said)) {
      while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
    }
    // The lock of a run of this machine that died goes; its holder is told.
    if (IsStale(said) && remote_.Remove(file.name)) {
      removedStale_.push_back({file.name, platform::Utf8ToUtf16(said)});
      continue;
    }
    if (sending) continue;
    heldBy_ = file.name;
    holder_ = platform::Utf8ToUtf16(said);
    remote_.Remove(lockName_);
    return FailWith(ERROR_BUSY);
  }
  held_ = true;
  return true;
}

bool RemoteLock::Release() {
  if (!held_) return true;
  if (!remote_.Remove(lockName_)) return false;
  held_ = false;
  return true;
}

}  // namespace qv::remote
