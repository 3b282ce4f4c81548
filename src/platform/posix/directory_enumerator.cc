#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_system.h"
#include "platform/posix/directory_stream.h"
#include "platform/posix/drive_map.h"
#include "platform/posix/file_status.h"
#include "platform/posix/posix_error.h"
#include "platform/wildcard.h"

namespace qv::platform {

using posix::FailWith;
using posix::FailWithErrno;
using posix::ItemKind;
using posix::ItemStatus;

namespace {

// The tags FindFirstFileW leaves in dwReserved0 for reparse points.
constexpr DWORD kReparseTagSymbolicLink = 0xA000000C;
constexpr DWORD kReparseTagMountPoint = 0xA0000003;

void FillFindData(const ItemStatus& status, DWORD attributes, WStringView name, WIN32_FIND_DATAW* data) {
  FileInformation info = posix::InformationOf(status, attributes);
  *data = WIN32_FIND_DATAW{};
  data->dwFileAttributes = info.attributes;
  data->ftCreationTime = info.creationTime;
  data->ftLastAccessTime = info.lastAccessTime;
  data->ftLastWriteTime = info.lastWriteTime;
  data->nFileSizeHigh = static_cast<DWORD>(info.size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(info.size & 0xFFFFFFFFu);
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    data->dwReserved0 = status.kind == ItemKind::kSymbolicLink ? kReparseTagSymbolicLink : kReparseTagMountPoint;
  }
  // Native names hold at most 255 bytes, so this only guards the record.
  std::size_t units = std::min<std::size_t>(name.size(), MAX_PATH - 1);
  std::copy_n(name.data(), units, data->cFileName);
  data->cFileName[units] = 0;
}

bool IsDotOrDotDot(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

}  // namespace

struct DirectoryEnumerator::State {
  posix::DirectoryStream folder;
  WString mask;
  std::uint64_t folderDevice = 0;
  bool isDriveRoot = false;

  // Fills `data` with the next item that matches the mask and is something
  // the library reports. False with ERROR_NO_MORE_FILES at the end, or the
  // read error.
  bool ReadMatching(WIN32_FIND_DATAW* data) {
    while (const dirent* item = folder.Read()) {
      if (Describe(item->d_name, data)) return true;
    }
    return errno != 0 ? FailWithErrno(errno) : FailWith(ERROR_NO_MORE_FILES);
  }

  bool Describe(const char* nativeName, WIN32_FIND_DATAW* data) const {
    bool isDots = IsDotOrDotDot(nativeName);
    // Windows lists "." and ".." in every folder but a volume's root.
    if (isDots && isDriveRoot) return false;
    WString name = posix::DriveNameOf(nativeName);
    if (!PathMatchSpec(name.c_str(), mask.c_str())) return false;
    ItemStatus status;
    // An item that vanished since the listing was read is not reported.
    if (!posix::QueryItem(folder.Descriptor(), nativeName, &status) || status.kind == ItemKind::kOther) return false;
    bool isMountPoint = !isDots && status.kind == ItemKind::kFolder && status.device != folderDevice;
    FillFindData(status, posix::AttributesOf(status, nativeName, isMountPoint), name, data);
    return true;
  }
};

DirectoryEnumerator::DirectoryEnumerator() = default;

DirectoryEnumerator::~DirectoryEnumerator() = default;

bool DirectoryEnumerator::First(const WCHAR* pattern, WIN32_FIND_DATAW* data) {
  Close();
  if (pattern == nullptr || data == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  WStringView text(pattern);
  static constexpr WCHAR kSeparators[] = {'\\', '/', 0};
  std::size_t split = text.find_last_of(kSeparators);
  if (split == WStringView::npos) return FailWith(ERROR_PATH_NOT_FOUND);

  posix::NativePath native;
  if (!posix::NativePathOf(text.substr(0, split), &native)) return false;
  auto state = std::make_unique<State>();
  struct stat folderStatus;
  if (!state->folder.Open(native.path, true) || fstat(state->folder.Descriptor(), &folderStatus) != 0) {
    // The folder itself is missing: Windows calls that a missing path.
    return errno == ENOENT ? FailWith(ERROR_PATH_NOT_FOUND) : FailWithErrno(errno);
  }
  state->mask = WString(text.substr(split + 1));
  state->folderDevice = static_cast<std::uint64_t>(folderStatus.st_dev);
  state->isDriveRoot = native.isDriveRoot;
  if (!state->ReadMatching(data)) {
    return GetLastError() == ERROR_NO_MORE_FILES ? FailWith(ERROR_FILE_NOT_FOUND) : false;
  }
  state_ = std::move(state);
  return true;
}

bool DirectoryEnumerator::Next(WIN32_FIND_DATAW* data) {
  if (state_ == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  if (data == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  return state_->ReadMatching(data);
}

void DirectoryEnumerator::Close() { state_.reset(); }

}  // namespace qv::platform
