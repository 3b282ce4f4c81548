#include "remote/remote_names.h"

#include "remote/rclone_remote.h"
#include "remote/remote_commit.h"
#include "storage/volume_names.h"

namespace qv::remote {

namespace {

// A volume file of archive `name` at any stage (storage/volume_names.h):
// the increments tagged "I", the volumes ending in "QVA" (or "exe").
bool ParseVolume(const WString& file, const WString& name, storage::VolumeName* parsed) {
  return storage::ParseVolumeName(file, name, QVT("I"), QVT("QVA"), parsed);
}

}  // namespace

bool IsVolumeOf(const WString& file, const WString& name) {
  storage::VolumeName parsed;
  return ParseVolume(file, name, &parsed) && parsed.stage == storage::VolumeStage::kFinal;
}

bool IsLeftoverOf(const WString& file, const WString& name) {
  WString stem = file;
  const std::size_t part = stem.rfind(platform::Utf8ToUtf16(".qvpart-"));
  const bool sending = part != WString::npos;
  if (sending) stem.resize(part);
  storage::VolumeName parsed;
  if (!ParseVolume(stem, name, &parsed)) return sending && stem == RecordName(name);
  // A volume sent in part, or sent and never renamed into place.
  return sending || parsed.stage == storage::VolumeStage::kMoving;
}

}  // namespace qv::remote
