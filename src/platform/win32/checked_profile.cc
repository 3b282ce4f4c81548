#include "platform/checked_profile.h"

#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/profile.h"

namespace qv::platform {

struct CheckedProfile::State {
  WriteAccess file;    // not known: Windows keeps no such bits
  WriteAccess folder;
  WString path;        // empty until a file was found
};

CheckedProfile::CheckedProfile() : state_(std::make_unique<State>()) {}
CheckedProfile::~CheckedProfile() = default;

// The lookup of old: the file exists (or opens for reading and writing),
// and its values are read by its path.
ProfileOpening CheckedProfile::Open(const WCHAR* path, bool readWrite) {
  *state_ = State();
  if (path == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return ProfileOpening::kMissing;
  }
  const bool found = readWrite ? CanOpenForReadWrite(path) : FileExists(path);
  if (!found) return ProfileOpening::kMissing;
  state_->path = path;
  return ProfileOpening::kOpened;
}

const WriteAccess& CheckedProfile::File() const { return state_->file; }
const WriteAccess& CheckedProfile::Folder() const { return state_->folder; }

// Nothing found: the defaults, as the system gives them for a missing file
// (a null path would make the system read its own win.ini instead).
DWORD CheckedProfile::ReadString(const WCHAR* section, const WCHAR* key, const WCHAR* defaultValue, DWORD capacity,
                                 WString* value) const {
  if (!state_->path.empty()) {
    return ReadProfileString(state_->path.c_str(), section, key, defaultValue, capacity, value);
  }
  return ProfileDefaultString(defaultValue, capacity, value);
}

UINT CheckedProfile::ReadInt(const WCHAR* section, const WCHAR* key, INT defaultValue) const {
  if (state_->path.empty()) return static_cast<UINT>(defaultValue);
  return ReadProfileInt(state_->path.c_str(), section, key, defaultValue);
}

}  // namespace qv::platform
