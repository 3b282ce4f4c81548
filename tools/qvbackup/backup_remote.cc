#include "backup_remote.h"

#include <algorithm>
#include <chrono>

#include "progress.h"
#include "remote/remote_commit.h"
#include "remote/remote_upload.h"
#include "report.h"

namespace qvtool {

namespace {

constexpr std::size_t kSenders = 4;

WString Because(const qv::remote::RemoteUpload& upload, const qv::remote::RcloneRemote& remote) {
  const WString& said = !upload.reason().empty() ? upload.reason() : remote.reason();
  return said.empty() ? WString() : Widen(": ") + said;
}

// Waits for the upload, drawing the bar as the volumes reach the remote.
bool SendAll(qv::remote::RemoteUpload& upload, ULONGLONG total, bool showProgress) {
  ProgressBar bar(showProgress, total);
  while (!upload.Wait(std::chrono::milliseconds(200))) {
    if (total != 0) bar.Update(static_cast<DWORD>(upload.bytesSent() * 100 / total));
  }
  bar.Finish();
  return upload.Finish();
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

int SendMember(RemoteReading& remote, const MemberToSend& member, const volatile BOOL* cancel) {
  qv::remote::RcloneRemote& rclone = remote.remote();
  const WString where = RemoteText(rclone.folder());
  const WString what = Widen("backup: ") + member.name;
  const WString unchanged = Widen(" (") + member.name + Widen(" there is as it was)");
  if (member.volumes.empty()) return FailBecause(what, Widen("nothing was written to send"));
  // The first volume goes last: until it is in place, the member is not.
  std::vector<WString> order;
  for (std::size_t i = 1; i < member.volumes.size(); ++i) order.push_back(member.volumes[i].fileName);
  order.push_back(member.volumes.front().fileName);

  rclone.SetCancelFlag(cancel);
  // Four at once, as rclone copy sends them.
  qv::remote::RemoteUpload upload(rclone, order.size(), kSenders);
  ULONGLONG total = 0;
  for (const WString& name : order) {
    const auto volume = std::find_if(member.volumes.begin(), member.volumes.end(),
                                     [&](const VolumeFile& v) { return v.fileName == name; });
    total += VolumeFileSize(remote.nativeFolder(), volume->fileName);
    upload.Queue(qv::remote::InFolder(remote.folder(), name), name);
  }
  if (!SendAll(upload, total, member.showProgress)) {
    const DWORD error = upload.error();
    rclone.SetCancelFlag(nullptr);
    if (cancel != nullptr && *cancel) {
      return FailBecause(Widen("backup"), Widen("interrupted while sending: nothing of it was kept on ") + where +
                                              Widen("; ") + member.name + Widen(" is as it was"));
    }
    return FailBecause(what, Widen("cannot be sent to ") + where + Because(upload, rclone) + unchanged, error);
  }
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
    const std::vector<WString> old = OldArchiveFiles(remote.files(), member.name);
    replacing = !old.empty();
    placed = !replacing ? upload.Commit(order)
                        : qv::remote::Replace(rclone, upload, member.name, old, order, remote.folder());
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
