#include "remote/remote_lock.h"

#include <utility>
#include <vector>

#include "platform/file_ops.h"
#include "storage/lock_holder.h"

namespace qv::remote {

namespace {

bool FailWith(DWORD error) {
  SetLastError(error);
  return false;
}

WString LockPrefix(const WString& name) { return name + platform::Utf8ToUtf16(".qvlock-"); }

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
  for (const RemoteFile& file : files) {
    if (file.name == lockName_ || !IsLockOf(file.name, name_)) continue;
    heldBy_ = file.name;
    std::string said;
    if (remote_.ReadRange(file.name, 0, 400, &said)) {
      while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
      holder_ = platform::Utf8ToUtf16(said);
    }
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
