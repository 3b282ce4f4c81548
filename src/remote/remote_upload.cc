#include "remote/remote_upload.h"

#include <algorithm>

#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "storage/volume_names.h"

namespace qv::remote {

WString SentName(const WString& name) { return name + storage::kMovingSuffix; }

RemoteUpload::RemoteUpload(RcloneRemote& remote, std::size_t pending, std::size_t senders)
    : remote_(remote), pending_(pending < 1 ? 1 : pending), senders_(senders < 1 ? 1 : senders) {
  // Each sender runs rclone through a copy of the remote: its reason is its own.
  for (std::size_t i = 0; i < senders_; ++i) workers_.emplace_back(&RemoteUpload::Work, this, remote_);
}

RemoteUpload::~RemoteUpload() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  Abandon();
}

bool RemoteUpload::Queue(const WString& local, const WString& name) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [&] { return error_ != 0 || queue_.size() < pending_; });
  if (error_ != 0) return false;
  queue_.push_back({local, name});
  changed_.notify_all();
  return true;
}

bool RemoteUpload::Finish() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [&] { return error_ != 0 || (queue_.empty() && sending_ == 0); });
  if (error_ != 0) {
    SetLastError(error_);
    return false;
  }
  return true;
}

bool RemoteUpload::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, timeout, [&] { return error_ != 0 || (queue_.empty() && sending_ == 0); });
}

void RemoteUpload::Work(RcloneRemote remote) {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [&] { return stop_ || (!queue_.empty() && error_ == 0); });
    if (stop_) return;
    const Item item = queue_.front();
    queue_.pop_front();
    ++sending_;
    hold.unlock();
    platform::FileInformation info{};
    const bool known = platform::GetFileInformation(item.local.c_str(), &info);
    // NAME.qvnew is a temporary name already: nothing takes it for a volume,
    // and Commit renames only what was sent whole.
    const bool sent = remote.Send(item.local, SentName(item.name), /*whole=*/false);
    const DWORD error = sent ? 0 : GetLastError();
    if (sent) platform::RemoveFile(item.local.c_str());
    hold.lock();
    --sending_;
    if (sent) {
      sent_.push_back(item.name);
      if (known) bytes_ += info.size;
    } else {
      error_ = error != 0 ? error : ERROR_GEN_FAILURE;
      reason_ = remote.reason();
    }
    changed_.notify_all();
  }
}

bool RemoteUpload::Commit(const std::vector<WString>& order) {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<RemoteFile> there;
  if (!remote_.List(&there)) {
    error_ = GetLastError();
    reason_ = remote_.reason();
    return false;
  }
  for (const RemoteFile& file : there) {
    if (std::find(order.begin(), order.end(), file.name) == order.end()) continue;
    error_ = ERROR_ALREADY_EXISTS;
    reason_ = file.name + platform::Utf8ToUtf16(" is there already: nothing was renamed over it");
    SetLastError(error_);
    return false;
  }
  for (const WString& name : order) {
    if (std::find(sent_.begin(), sent_.end(), name) != sent_.end()) continue;
    error_ = ERROR_FILE_NOT_FOUND;
    reason_ = name + platform::Utf8ToUtf16(" was not sent");
    SetLastError(error_);
    return false;
  }
  if (order.empty()) return true;
  const std::vector<WString> first(order.begin(), order.end() - 1);
  if (!RenameAll(first) || !RenameAll({order.back()})) {
    SetLastError(error_);
    return false;
  }
  return true;
}

// Renames `names` from their temporary names, `senders_` at once; false
// (error_, reason_) when one failed. Called holding lock_.
bool RemoteUpload::RenameAll(const std::vector<WString>& names) {
  std::vector<bool> renamed(names.size(), false);
  std::vector<DWORD> errors(names.size(), 0);
  std::vector<WString> reasons(names.size());
  std::size_t next = 0;
  std::mutex pick;
  auto work = [&](RcloneRemote remote) {
    for (;;) {
      std::size_t i;
      {
        std::lock_guard<std::mutex> hold(pick);
        if (next == names.size()) return;
        i = next++;
      }
      renamed[i] = remote.Rename(SentName(names[i]), names[i]);
      if (!renamed[i]) {
        errors[i] = GetLastError();
        reasons[i] = remote.reason();
      }
    }
  };
  std::vector<std::thread> renamers;
  for (std::size_t i = 1; i < senders_ && i < names.size(); ++i) renamers.emplace_back(work, remote_);
  work(remote_);
  for (std::thread& renamer : renamers) renamer.join();
  bool all = true;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (renamed[i]) {
      sent_.erase(std::remove(sent_.begin(), sent_.end(), names[i]), sent_.end());
    } else if (all) {
      all = false;
      error_ = errors[i] != 0 ? errors[i] : ERROR_GEN_FAILURE;
      reason_ = reasons[i];
    }
  }
  return all;
}

void RemoteUpload::Abandon() {
  std::lock_guard<std::mutex> hold(lock_);
  for (const WString& name : sent_) remote_.Remove(SentName(name));
  sent_.clear();
}

ULONGLONG RemoteUpload::bytesSent() const {
  std::lock_guard<std::mutex> hold(lock_);
  return bytes_;
}

}  // namespace qv::remote
