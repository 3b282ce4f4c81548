#include "remote/remote_upload.h"

#include <algorithm>

#include "platform/file_ops.h"
#include "platform/file_system.h"

namespace qv::remote {

WString SentName(const WString& name) { return name + platform::Utf8ToUtf16(".qvnew"); }

RemoteUpload::RemoteUpload(RcloneRemote& remote, std::size_t pending)
    : remote_(remote), pending_(pending < 1 ? 1 : pending), worker_(&RemoteUpload::Work, this) {}

RemoteUpload::~RemoteUpload() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  worker_.join();
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
  changed_.wait(hold, [&] { return error_ != 0 || (queue_.empty() && !sending_); });
  if (error_ != 0) {
    SetLastError(error_);
    return false;
  }
  return true;
}

bool RemoteUpload::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, timeout, [&] { return error_ != 0 || (queue_.empty() && !sending_); });
}

void RemoteUpload::Work() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [&] { return stop_ || (!queue_.empty() && error_ == 0); });
    if (stop_) return;
    const Item item = queue_.front();
    queue_.pop_front();
    sending_ = true;
    hold.unlock();
    platform::FileInformation info{};
    const bool known = platform::GetFileInformation(item.local.c_str(), &info);
    // NAME.qvnew is a temporary name already: nothing takes it for a volume,
    // and Commit renames only what was sent whole.
    const bool sent = remote_.Send(item.local, SentName(item.name), /*whole=*/false);
    const DWORD error = sent ? 0 : GetLastError();
    if (sent) platform::RemoveFile(item.local.c_str());
    hold.lock();
    sending_ = false;
    if (sent) {
      sent_.push_back(item.name);
      if (known) bytes_ += info.size;
    } else {
      error_ = error != 0 ? error : ERROR_GEN_FAILURE;
      reason_ = remote_.reason();
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
    const auto found = std::find(sent_.begin(), sent_.end(), name);
    if (found == sent_.end()) {
      error_ = ERROR_FILE_NOT_FOUND;
      reason_ = name + platform::Utf8ToUtf16(" was not sent");
      SetLastError(error_);
      return false;
    }
    if (!remote_.Rename(SentName(name), name)) {
      error_ = GetLastError();
      reason_ = remote_.reason();
      return false;
    }
    sent_.erase(found);
  }
  return true;
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
