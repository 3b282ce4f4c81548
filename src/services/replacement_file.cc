#include "services/replacement_file.h"

#include "log/last_error_keeper.h"
#include "platform/file_metadata.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/folders.h"

namespace qv::services {

namespace {

bool IsSeparator(WCHAR c) { return c == '\\' || c == '/'; }

// "C:\a\b.txt" -> "C:\a\"; "C:b.txt" -> "C:"; "b.txt" -> "".
WString FolderPartOf(const WString& path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) return path.substr(0, i);
  }
  return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : WString();
}

WString RandomTemporaryName() {
  static constexpr char kDigits[] = "0123456789abcdef";
  BYTE random[16] = {};
  platform::CreateUuid(random);
  WString name = QVT("~qv");
  for (int i = 0; i < 8; ++i) {
    name.push_back(static_cast<WCHAR>(kDigits[random[i] >> 4]));
    name.push_back(static_cast<WCHAR>(kDigits[random[i] & 0xF]));
  }
  return name + QVT(".tmp");
}

constexpr DWORD kAttributesBlockingReplacement =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

}  // namespace

WString TemporaryPathBeside(const WString& target) { return FolderPartOf(target) + RandomTemporaryName(); }

ReplacementFile::ReplacementFile() = default;

ReplacementFile::~ReplacementFile() {
  file_.reset();
  if (committed_ || temporary_.empty()) return;
  log::LastErrorKeeper keep;
  // Its attributes may already be set: read-only would keep it alive.
  platform::MakeWritable(temporary_.c_str());
  platform::RemoveFile(temporary_.c_str());
}

bool ReplacementFile::Create(const WCHAR* target) {
  target_ = target;
  WString folder = FolderPartOf(target_);
  if (!folder.empty() && !platform::CreateFolderTree(folder.c_str())) return false;
  // A name that is taken (by a file of the user's or a restore that died)
  // is never reused: try another one.
  for (int attempt = 0; attempt < 8; ++attempt) {
    WString candidate = folder + RandomTemporaryName();
    file_ = platform::OpenFile(candidate.c_str(), platform::OpenMode::kCreateNew, platform::Sharing::kRead);
    if (file_) {
      temporary_ = std::move(candidate);
      return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool ReplacementFile::Commit(const FileDescription& description) {
  // The content reaches the disk before the name does: a crash never
  // leaves the target replaced by a file whose data was not written.
  if (!file_->Truncate() || !file_->Sync()) return false;
  file_.reset();
  if (!platform::SetFileTimes(temporary_.c_str(), description.creationTime, description.lastAccessTime,
                              description.lastWriteTime)) {
    return false;
  }
  // Attributes before the rename, so that once the target carries the new
  // content nothing is left that could fail.
  if (!platform::SetFileAttributesOf(temporary_.c_str(), description.attributes)) return false;
  if (!ReplaceTarget()) return false;
  committed_ = true;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool ReplacementFile::ReplaceTarget() {
  platform::FileInformation existing;
  bool unblocked = false;
  {
    log::LastErrorKeeper keep;  // a missing target is no failure
    unblocked = platform::GetFileInformation(target_.c_str(), &existing) &&
                (existing.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                (existing.attributes & kAttributesBlockingReplacement) != 0;
  }
  if (unblocked && !platform::MakeWritable(target_.c_str())) return false;
  if (platform::RenameFile(temporary_.c_str(), target_.c_str())) return true;
  if (unblocked) {
    log::LastErrorKeeper keep;
    platform::SetFileAttributesOf(target_.c_str(), existing.attributes);
  }
  return false;
}

}  // namespace qv::services
