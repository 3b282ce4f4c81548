#include "log/log_trust.h"

#include "platform/file_ops.h"

namespace qv::log {

namespace {

constexpr WCHAR kPreviousLogSuffix[] = QVT(".bak");

// What an item that is no regular file is, in words.
const WCHAR* Naming(platform::PathKind kind) {
  switch (kind) {
    case platform::PathKind::kFolder: return QVT("a folder");
    case platform::PathKind::kLink: return QVT("a symbolic link");
    case platform::PathKind::kOther: return QVT("a device, FIFO or socket");
    case platform::PathKind::kNothing:
    case platform::PathKind::kFile: break;
  }
  return QVT("");
}

}  // namespace

// The file's owner must be the user running (or the administrator, whose
// files the user trusts anyway), and nobody else may write it: whoever can
// write it chooses where the log goes. That holds for the file's group as
// for everybody: a group-writable configuration would let every member of
// the group pick a file of this user's to replace, so it is refused too.
//
// The folder counts as well: in a folder others can write (and that is not
// the user's own), anybody may put a file of their own under the name, or
// move one there, between two runs. The owner check refuses their own files;
// the folder check leaves no room for anything else placed there (a hard
// link to some file the user owns, one of the user's files renamed). A
// sticky /tmp is no exception: the bit keeps others from moving the user's
// files, not from placing theirs, and a user who runs from /tmp with a
// configuration there has it refused rather than second-guessed. The
// administrator owns /tmp, so a run as root from there takes only a
// configuration that root owns and nobody else may write.
//
// The file is examined through the descriptor it is read from, so nothing
// swapped in after the check is what gets read.
CQVString DistrustOf(platform::ProfileOpening opening, const platform::CheckedProfile& profile) {
  switch (opening) {
    case platform::ProfileOpening::kSymbolicLink: return QVT("a symbolic link");
    case platform::ProfileOpening::kTooLarge: return QVT("larger than any configuration");
    case platform::ProfileOpening::kMissing: return QVT("not found");
    case platform::ProfileOpening::kOpened: break;
  }
  const platform::WriteAccess& file = profile.File();
  const platform::WriteAccess& folder = profile.Folder();
  if (!file.known) return CQVString();
  if (!file.regularFile) return QVT("not a regular file");
  if (!file.ownedByUser && !file.ownedBySystem) return QVT("owned by another user");
  if (file.othersWritable) return QVT("writable by others");
  if (file.groupWritable) return QVT("writable by its group");
  if (!folder.ownedByUser && folder.othersWritable) return QVT("its folder is writable by others");
  if (!folder.ownedByUser && folder.groupWritable) return QVT("its folder is writable by its group");
  return CQVString();
}

CQVString MakeRoomForLog(const CQVString& name) {
  const platform::PathKind kind = platform::KindOfPath(name);
  if (kind == platform::PathKind::kNothing) return CQVString();
  if (kind != platform::PathKind::kFile) return CQVString(Naming(kind)) + QVT(" is there");
  const CQVString previous = name + kPreviousLogSuffix;
  const platform::PathKind previousKind = platform::KindOfPath(previous);
  if (previousKind != platform::PathKind::kNothing && previousKind != platform::PathKind::kFile) {
    return CQVString(Naming(previousKind)) + QVT(" is at ") + platform::PathForMessages(previous).c_str() +
           QVT(", where the previous log would go");
  }
  if (previousKind == platform::PathKind::kFile) platform::RemoveFile(previous);
  platform::RenameFile(name, previous);
  // Still there when it could not be moved: a read-only file left by
  // someone else must not keep the log from starting.
  if (platform::KindOfPath(name) == platform::PathKind::kFile) {
    platform::MakeWritable(name);
    platform::RemoveFile(name);
  }
  return CQVString();
}

}  // namespace qv::log
