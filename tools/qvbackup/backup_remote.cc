#include "backup_remote.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "progress.h"
#include "qvbackup/qvstorage.h"
#include "remote/remote_commit.h"
#include "remote/remote_upload.h"
#include "report.h"
#include "storage/volume_names.h"

namespace qvtool {

namespace {

// Four at once, as rclone copy sends them, and one more waiting: the
// library waits when it finishes a volume beyond that.
constexpr std::size_t kSenders = 4;
constexpr std::size_t kWaiting = 1;

WString Because(const qv::remote::RemoteUpload& upload, const qv::remote::RcloneRemote& remote) {
  const WString& said = !upload.reason().empty() ? upload.reason() : remote.reason();
  return said.empty() ? WString() : Widen(": ") + said;
}

// Waits for the upload, drawing the bar as the volumes reach the remote.
bool SendAll(qv::remote::RemoteUpload& upload, ULONGLONG total, bool showProgress) {
  ProgressBar bar(showProgress, total);
  while (!upload.Wait(std::chrono::milliseconds(200))) {
    if (total != 0) bar.Update(static_cast<DWORD>(std::min<ULONGLONG>(upload.bytesSent(), total) * 100 / total));
  }
  bar.Finish();
  return upload.Finish();
}

WString InterruptedText(const MemberSending& sending, const WString& where) {
  return Widen("interrupted while sending: nothing of it was kept on ") + where + Widen("; ") + sending.name() +
         Widen(" is as it was");
}

}  // namespace

std::vector<WString> OldArchiveFiles(const std::vector<qv::remote::RemoteFile>& files, const WString& name) {
  std::vector<VolumeFile> volumes = RemoteVolumesOf(files, name);
  const ChainOnDisk chain = DescribeChain(volumes);
  std::vector<WString> old;
  if (chain.hasBase) {
    const std::vector<VolumeFile> base = MemberVolumes(volumes, 0, chain.naming);
    old.push_back(base.front().fileName);
  }
  for (const VolumeFile& volume : volumes) {
    if (old.empty() || volume.fileName != old.front()) old.push_back(volume.fileName);
  }
  return old;
}

MemberSending::MemberSending(RemoteReading& remote, WString name, const volatile BOOL* cancel)
    : remote_(remote),
      name_(std::move(name)),
      cancel_(cancel),
      // The senders run rclone through copies of the remote, made here:
      // the cancel word must be set first.
      upload_((remote.remote().SetCancelFlag(cancel), remote.remote()), kWaiting, kSenders) {}

MemberSending::~MemberSending() {
  // What was sent and not put in place is removed even after Ctrl-C.
  remote_.remote().SetCancelFlag(nullptr);
  upload_.Abandon();
}

ULONGLONG MemberSending::LocalRoom(ULONGLONG volumeSize) { return (kSenders + kWaiting + 3) * volumeSize; }

DWORD MemberSending::Taken(ULONGLONG userValue, DWORD, LPCWSTR path) {
  if (userValue == 0 || path == nullptr) return QVS_VOLUME_LEFT;
  return reinterpret_cast<MemberSending*>(static_cast<std::uintptr_t>(userValue))->Take(path);
}

DWORD MemberSending::Take(LPCWSTR path) {
  const WString local(path);
  const std::size_t slash = local.find_last_of(Widen("\\/"));
  WString fileName = slash == WString::npos ? local : local.substr(slash + 1);
  const WString suffix(qv::storage::kWritingSuffix);
  if (fileName.size() > suffix.size() && fileName.compare(fileName.size() - suffix.size(), suffix.size(), suffix) == 0) {
    fileName.resize(fileName.size() - suffix.size());
  }
  VolumeFile volume;
  // Only the member's own volumes go; anything else stays with the library.
  if (!ParseVolumeName(fileName, name_, &volume)) return QVS_VOLUME_LEFT;
  volume.fileName = fileName;
  const ULONGLONG bytes = VolumeFileSize(remote_.nativeFolder(), local.substr(slash + 1));
  if (!upload_.Queue(local, fileName)) {
    const DWORD error = upload_.error();
    return error != 0 ? error : ERROR_GEN_FAILURE;
  }
  taken_.push_back(volume);
  takenBytes_ += bytes;
  remote_.NoteSent(fileName);
  return QVS_VOLUME_TAKEN;
}

bool MemberSending::WaitForSent(bool showProgress) { return SendAll(upload_, takenBytes_, showProgress); }

int FailSending(MemberSending& sending) {
  qv::remote::RcloneRemote& rclone = sending.remote().remote();
  const WString where = RemoteText(rclone.folder());
  rclone.SetCancelFlag(nullptr);
  if (sending.cancel() != nullptr && *sending.cancel()) return FailBecause(Widen("backup"), InterruptedText(sending, where));
  return FailBecause(Widen("backup: ") + sending.name(),
                     Widen("cannot be sent to ") + where + Because(sending.upload(), rclone) + Widen(" (") +
                         sending.name() + Widen(" there is as it was)"),
                     sending.upload().error());
}

int SendMember(MemberSending& sending, const MemberToSend& member) {
  RemoteReading& remote = sending.remote();
  qv::remote::RcloneRemote& rclone = remote.remote();
  qv::remote::RemoteUpload& upload = sending.upload();
  const WString where = RemoteText(rclone.folder());
  const WString what = Widen("backup: ") + sending.name();
  const WString unchanged = Widen(" (") + sending.name() + Widen(" there is as it was)");
  if (member.volumes.empty()) return FailBecause(what, Widen("nothing was written to send"));
  // The first volume goes last: until it is in place, the member is not.
  std::vector<WString> order;
  for (std::size_t i = 1; i < member.volumes.size(); ++i) order.push_back(member.volumes[i].fileName);
  order.push_back(member.volumes.front().fileName);

  // What the library did not hand over while it wrote (the first volume,
  // the last) goes now.
  ULONGLONG total = sending.takenBytes();
  bool queued = true;
  for (const WString& name : order) {
    if (sending.WasTaken(name)) continue;
    total += VolumeFileSize(remote.nativeFolder(), name);
    queued = queued && upload.Queue(qv::remote::InFolder(remote.folder(), name), name);
  }
  if (!queued || !SendAll(upload, total, member.showProgress)) return FailSending(sending);
  // Once every volume is there, the renames are not interrupted: they are
  // few and quick, and a run that stops among them leaves its record.
  rclone.SetCancelFlag(nullptr);
  bool placed = false;
  bool replacing = false;
  if (member.increment) {
    // Volumes of this member number already there are what a run that
    // died among its renames left (the member's first volume is not there:
    // it would be the chain's next member otherwise).
    for (const qv::remote::RemoteFile& file : remote.files()) {
      if (std::find(order.begin(), order.end(), file.name) == order.end()) continue;
      if (!rclone.Remove(file.name)) {
        const DWORD error = GetLastError();
        return FailBecause(what, Widen("cannot remove ") + file.name + Widen(" from ") + where +
                                     Because(upload, rclone) + unchanged,
                           error);
      }
      WriteError(Widen("qvbackup: ") + what + Widen(": removed ") + file.name +
                 Widen(", left by a backup that did not end\n"));
    }
    placed = upload.Commit(order);
  } else {
    const std::vector<WString> old = OldArchiveFiles(remote.files(), sending.name());
    replacing = !old.empty();
    placed = !replacing ? upload.Commit(order)
                        : qv::remote::Replace(rclone, upload, sending.name(), old, order, remote.folder());
  }
  if (!placed) {
    const DWORD error = upload.error() != 0 ? upload.error() : GetLastError();
    return FailBecause(what, Widen("cannot be put in place on ") + where + Because(upload, rclone) +
                                 (replacing ? Widen(" (the next backup or read of it puts back the archive that was "
                                                    "whole)")
                                            : unchanged),
                       error);
  }
  return -1;
}

}  // namespace qvtool
