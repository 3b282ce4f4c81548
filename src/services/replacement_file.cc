#include "services/replacement_file.h"

#include <atomic>
#include <cstring>

#include "log/last_error_keeper.h"
#include "platform/file_system.h"

namespace qv::services {

namespace {

constexpr DWORD kAttributesBlockingReplacement =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

}  // namespace

// One draw of random bytes a process, then a counter scrambled by an odd
// multiplier (a bijection: no two names of a process alike). A name taken
// by another process, or left by a restore that died, is met by the
// caller's next try.
WString TemporaryName() {
  static constexpr char kDigits[] = "0123456789abcdef";
  static const ULONGLONG seed = [] {
    BYTE random[16] = {};
    platform::CreateUuid(random);
    ULONGLONG value = 0;
    std::memcpy(&value, random, sizeof value);
    return value;
  }();
  static std::atomic<ULONGLONG> next{0};
  const ULONGLONG value = seed ^ (next.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B97F4A7C15ull);
  WString name = QVT("~qv");
  for (int shift = 60; shift >= 0; shift -= 4) name.push_back(static_cast<WCHAR>(kDigits[(value >> shift) & 0xF]));
  return name + QVT(".tmp");
}

bool KeepsExisting(ExistingTarget rule, const platform::FileInformation& existing, const FILETIME& saved) {
  switch (rule) {
    case ExistingTarget::kReplace:
      return false;
    case ExistingTarget::kKeep:
      return true;
    case ExistingTarget::kReplaceOlder:
      break;
  }
  if ((existing.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  const auto ticks = [](const FILETIME& time) {
    return static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
  };
  return ticks(existing.lastWriteTime) >= ticks(saved);
}

ReplacementFile::ReplacementFile(const platform::ConfinedFolder& folder, WString name, ExistingTarget rule)
    : folder_(folder), name_(std::move(name)), rule_(rule) {}

bool ReplacementFile::TargetIsKept(const FILETIME& saved) const {
  if (rule_ == ExistingTarget::kReplace) return false;
  log::LastErrorKeeper keep;
  platform::FileInformation existing;
  return folder_.GetInformation(name_, &existing) && KeepsExisting(rule_, existing, saved);
}

ReplacementFile::~ReplacementFile() {
  file_.reset();
  if (committed_ || temporary_.empty()) return;
  log::LastErrorKeeper keep;
  // Its attributes may already be set: read-only would keep it alive.
  folder_.MakeWritable(temporary_);
  folder_.Remove(temporary_);
}

bool ReplacementFile::Create() {
  // A name that is taken (by a file of the user's or a restore that died)
  // is never reused: try another one.
  for (int attempt = 0; attempt < 8; ++attempt) {
    WString candidate = TemporaryName();
    file_ = folder_.CreateNewFile(candidate);
    if (file_) {
      temporary_ = std::move(candidate);
      return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool ReplacementFile::Commit(const FileDescription& description, const platform::PosixMetadata* metadata) {
  // The content reaches the disk before the name does: a crash never
  // leaves the target replaced by a file whose data was not written. The
  // times come after the sync, which could move them where the data is
  // flushed late.
  if (!file_->Sync()) return false;
  const bool throughFile = metadata != nullptr && platform::KeepsPosixMetadata();
  DWORD notSet = platform::kMetadataModeNotSet | platform::kMetadataTimesNotSet;
  if (throughFile) notSet = file_->ApplyPosixMetadata(*metadata, true);
  file_.reset();
  // What the saved metadata did not give, the description gives: the
  // times, and the attributes (on POSIX the mode read-only makes). All of
  // it before the rename, so that once the target carries the new content
  // nothing is left that could fail.
  if ((notSet & platform::kMetadataTimesNotSet) != 0 &&
      !folder_.SetTimes(temporary_, description.creationTime, description.lastAccessTime,
                        description.lastWriteTime)) {
    return false;
  }
  if ((notSet & platform::kMetadataModeNotSet) != 0 &&
      !folder_.SetNewFileAttributes(temporary_, description.attributes, metadata != nullptr)) {
    return false;
  }
  if (!TakeName(description)) return false;
  committed_ = true;
  metadataGiven_ = throughFile;
  metadataNotSet_ = throughFile ? notSet : 0;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool ReplacementFile::TakeName(const FileDescription& description) {
  if (rule_ == ExistingTarget::kKeep) {
    if (folder_.RenameNoReplace(temporary_, name_)) return true;
    leftAlone_ = GetLastError() == ERROR_FILE_EXISTS;
    return false;
  }
  if (TargetIsKept(description.lastWriteTime)) {
    leftAlone_ = true;
    SetLastError(ERROR_FILE_EXISTS);
    return false;
  }
  return ReplaceTarget();
}

// Most targets are missing or replaced as they are: the rename is tried
// first. Windows refuses to replace a read-only, hidden or system file;
// such a target is made writable and the rename tried once more.
bool ReplacementFile::ReplaceTarget() {
  if (folder_.Rename(temporary_, name_)) return true;
  const DWORD error = GetLastError();
  platform::FileInformation existing;
  bool blocked = false;
  {
    log::LastErrorKeeper keep;
    blocked = error == ERROR_ACCESS_DENIED && folder_.GetInformation(name_, &existing) &&
              (existing.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
              (existing.attributes & kAttributesBlockingReplacement) != 0;
  }
  if (!blocked) return false;
  if (!folder_.MakeWritable(name_)) return false;
  if (folder_.Rename(temporary_, name_)) return true;
  log::LastErrorKeeper keep;
  folder_.SetAttributes(name_, existing.attributes);
  return false;
}

}  // namespace qv::services
