#include "remote_archive.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

#include "platform/file_lock.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "qvbackup/qvstorage.h"
#include "remote/remote_commit.h"
#include "remote/remote_lock.h"
#include "report.h"

namespace qvtool {

namespace {

const char kPrefix[] = "rclone:";

// Volumes fetched as the library asks for them that stay in the work
// folder at once (the first and last volume of each member stay apart),
// and those fetched ahead of a reader going through them in order: three
// at once come near rclone copy's four.
constexpr std::size_t kCachedVolumes = 4;
constexpr std::size_t kFetchedAhead = 3;

}  // namespace

bool IsRemoteForm(const WString& typed, WString* folder) {
  WString parsed;
  if (!qv::remote::RcloneRemote::ParseDestination(typed, &parsed)) return false;
  if (folder != nullptr) *folder = parsed;
  return true;
}

bool SplitRemoteFile(const WString& typed, WString* folder, WString* fileName) {
  WString whole;
  if (!IsRemoteForm(typed, &whole)) return false;
  // REMOTE:FILE or REMOTE:PATH/FILE; ":local:/PATH/FILE" and the other
  // on-the-fly remotes begin with a colon.
  const std::size_t remoteEnd = whole.find(':', whole[0] == ':' ? 1 : 0);
  const std::size_t slash = whole.rfind('/');
  const std::size_t cut = slash != WString::npos && slash > remoteEnd ? slash : remoteEnd;
  if (cut == WString::npos || cut + 1 >= whole.size()) return false;
  *fileName = whole.substr(cut + 1);
  *folder = whole.substr(0, cut + (cut == remoteEnd ? 1 : 0));
  return true;
}

bool FindRclone(const ParsedOptions& options, const char* command, WString* program) {
  if (options.Has("rclone")) {
    *program = options.Value("rclone");
    if (!qv::platform::FindProgram(*program).empty()) return true;
    FailBecause(Widen(command), Widen("--rclone ") + *program + Widen(": no such program"), ERROR_FILE_NOT_FOUND);
    return false;
  }
  *program = Widen("rclone");
  if (!qv::platform::FindProgram(*program).empty()) return true;
  FailBecause(Widen(command),
              Widen("rclone is not installed, and remote archives (rclone:REMOTE:PATH) go through it: install it "
                    "(Debian package rclone, or rclone.org), or give its path with --rclone PATH"),
              ERROR_FILE_NOT_FOUND);
  return false;
}

WorkFolder::~WorkFolder() {
  if (!path_.empty()) qv::platform::RemoveFolderTree(path_.c_str());
}

namespace {

// "qvbackup-PID-": a work folder's name says which process made it.
std::string WorkPrefix(DWORD process) { return "qvbackup-" + std::to_string(process) + "-"; }

// The work folders of runs of this machine that ended without removing
// theirs (killed, or the power gone) beside `made`, the new one: a backup's
// holds a whole member. Folders of other users are not ours to judge (and
// cannot be removed).
void RemoveAbandoned(const WString& made) {
  namespace fs = std::filesystem;
  WString native;
  if (!qv::platform::ProgramPathOf(made, &native)) return;
  fs::path folder;
  if constexpr (std::is_same_v<fs::path::value_type, WCHAR>) {
    folder = fs::path(native);
  } else {
    folder = fs::path(qv::platform::Utf16ToUtf8(native));
  }
  const fs::path parent = folder.parent_path();
  std::error_code error;
  for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error)) {
    // The names looked at are ASCII: anything else is no work folder.
    const auto wide = it->path().filename().native();
    const std::string name(wide.begin(), wide.end());
    if (name.rfind("qvbackup-", 0) != 0 || !it->is_directory(error)) continue;
    const std::size_t dash = name.find('-', 9);
    if (dash == std::string::npos || dash == 9) continue;
    unsigned long long process = 0;
    bool digits = true;
    for (std::size_t i = 9; i < dash; ++i) {
      digits = digits && name[i] >= '0' && name[i] <= '9' && process < 0xFFFFFFFFull;
      if (digits) process = process * 10 + static_cast<unsigned>(name[i] - '0');
    }
    if (!digits || process > 0xFFFFFFFFull || qv::platform::ProcessIsRunning(static_cast<DWORD>(process))) continue;
    std::error_code removal;
    if (fs::remove_all(it->path(), removal) != static_cast<std::uintmax_t>(-1) && !removal) {
      WriteError(Widen("qvbackup: removed the work folder ") + Widen(name) + Widen(" of a run that ended\n"));
    }
  }
}

}  // namespace

bool WorkFolder::Create() {
  if (!qv::platform::CreateWorkFolder(WorkPrefix(qv::platform::CurrentProcessId()).c_str(), &path_)) return false;
  RemoveAbandoned(path_);
  return true;
}

std::vector<VolumeFile> RemoteVolumesOf(const std::vector<qv::remote::RemoteFile>& files, const WString& name) {
  std::vector<VolumeFile> volumes;
  for (const qv::remote::RemoteFile& file : files) {
    VolumeFile volume;
    if (ParseVolumeName(file.name, name, &volume)) volumes.push_back(volume);
  }
  return volumes;
}

WString RemoteText(const WString& folder) { return Widen(kPrefix) + folder; }

WString RemoteFileText(const WString& folder, const WString& fileName) {
  const bool joined = folder.empty() || folder.back() == ':' || folder.back() == '/';
  return RemoteText(folder) + (joined ? WString() : Widen("/")) + fileName;
}

RemoteReading::RemoteReading(WString program, WString folder, WString typed)
    : remote_(std::move(program), std::move(folder)), typed_(std::move(typed)) {}

bool RemoteReading::Fail(const WString& what) {
  const DWORD error = GetLastError();
  const WString& said = remote_.reason();
  FailBecause(typed_, what + (said.empty() ? WString() : Widen(": ") + said), error);
  SetLastError(error);
  return false;
}

bool RemoteReading::Prepare() {
  if (!work_.path().empty()) return true;
  if (!work_.Create()) {
    const DWORD error = GetLastError();
    FailBecause(typed_, Widen("no local work folder can be made: ") + ErrorText(error), error);
    SetLastError(error);
    return false;
  }
  if (!qv::platform::ProgramPathOf(work_.path(), &native_)) {
    const DWORD error = GetLastError();
    FailBecause(typed_, Widen("the local work folder has no path: ") + ErrorText(error), error);
    SetLastError(error);
    return false;
  }
  volumes_ = std::make_unique<qv::remote::RemoteVolumes>(remote_, work_.path(), kCachedVolumes, kFetchedAhead);
  return true;
}

bool RemoteReading::Lock(const WString& name) {
  if (!Prepare()) return false;
  auto lock = std::make_unique<qv::remote::RemoteLock>(remote_, name, work_.path());
  if (!lock->Acquire()) {
    if (GetLastError() != ERROR_BUSY) return Fail(Widen("cannot lock the archive ") + name);
    FailBecause(typed_, name + Widen(": the archive is in use by another run (") + lock->holder() +
                            Widen("; its lock is ") + lock->heldBy() +
                            Widen(": once sure no run uses the archive, remove it with rclone deletefile)"),
                ERROR_BUSY);
    SetLastError(ERROR_BUSY);
    return false;
  }
  for (const qv::remote::RemoteLock::StaleLock& stale : lock->removedStale()) {
    WriteError(Widen("qvbackup: ") + typed_ + Widen(": removed ") + stale.file + Widen(", the lock of a run that ended (") +
               stale.holder + Widen(")\n"));
  }
  lock_ = std::move(lock);
  return true;
}

// Under the lock: a replacement an interrupted backup left half done is
// finished or undone, and what runs that did not end left goes, each said.
bool RemoteReading::Recover(const WString& name) {
  qv::remote::Recovery recovery;
  if (!qv::remote::Recover(remote_, name, files_, &recovery)) {
    return Fail(Widen("cannot put in order what an interrupted backup left of ") + name);
  }
  if (recovery.found) {
    WriteError(Widen("qvbackup: ") + typed_ + Widen(": a backup that did not end left ") + name +
               Widen(" half replaced: ") +
               (recovery.keptNew ? Widen("its new archive was whole and stays") : Widen("the previous one is back")) +
               Widen("\n"));
  }
  for (const WString& file : recovery.removed) {
    WriteError(Widen("qvbackup: ") + typed_ + Widen(": removed ") + file +
               Widen(", left by a backup that did not end\n"));
  }
  if (!recovery.found && recovery.removed.empty()) return true;
  return remote_.List(&files_) || Fail(Widen("cannot be listed"));
}

// Without the lock, only a half-made replacement is put in order (a reader
// cannot read it otherwise), under a lock taken for that.
bool RemoteReading::PutInOrder(const WString& name) {
  if (lock_ != nullptr) return Recover(name);
  if (std::none_of(files_.begin(), files_.end(),
                   [&](const qv::remote::RemoteFile& file) { return file.name == qv::remote::RecordName(name); })) {
    return true;
  }
  if (!Lock(name)) return false;
  const bool recovered = remote_.List(&files_) && Recover(name);
  lock_.reset();
  return recovered || Fail(Widen("cannot be listed"));
}

bool RemoteReading::Open(const WString& name, const WString& fileName, bool fetchChain) {
  if (!Prepare()) return false;
  if (!remote_.List(&files_)) return Fail(Widen("cannot be listed"));
  if (!PutInOrder(name)) return false;
  if (!fileName.empty() && std::none_of(files_.begin(), files_.end(), [&](const qv::remote::RemoteFile& file) {
        return file.name == fileName;
      })) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    FailBecause(typed_, Widen("no such file on the remote"), ERROR_FILE_NOT_FOUND);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  if (!fetchChain) return true;
  const std::vector<VolumeFile> volumes = RemoteVolumesOf(files_, name);
  const ChainOnDisk chain = DescribeChain(volumes);
  std::vector<std::vector<WString>> order;
  for (DWORD member = 0; member < chain.members; ++member) {
    const std::vector<VolumeFile> files = MemberVolumes(volumes, member, chain.naming);
    order.emplace_back();
    for (const VolumeFile& volume : files) order.back().push_back(volume.fileName);
    std::vector<const VolumeFile*> wanted = {&files.front()};
    if (files.size() > 1) wanted.push_back(&files.back());
    for (const VolumeFile* volume : wanted) {
      if (!remote_.Fetch(volume->fileName, qv::remote::InFolder(work_.path(), volume->fileName))) {
        return Fail(volume->fileName + Widen(" cannot be fetched"));
      }
    }
  }
  volumes_->SetReadingOrder(std::move(order));
  return true;
}

LONGLONG RemoteReading::Callback(DWORD code, ULONGLONG userValue, ULONGLONG volume, LONGLONG pathBuffer) {
  if (code != QVS_PROGRESS_VOLUME_MISSING || userValue == 0 || pathBuffer == 0) return 0;
  auto* self = reinterpret_cast<RemoteReading*>(static_cast<std::uintptr_t>(userValue));
  const LONGLONG answer =
      qv::remote::RemoteVolumes::Callback(code, self->volumes_->UserValue(), volume, pathBuffer);
  if (answer == ERROR_CANCELLED && self->volumes_->error() != 0) {
    SetLastError(self->volumes_->error());
    const WString& said = self->volumes_->reason();
    FailBecause(self->typed_,
                Widen("a volume cannot be fetched") + (said.empty() ? WString() : Widen(": ") + said),
                self->volumes_->error());
  }
  return answer;
}

}  // namespace qvtool
