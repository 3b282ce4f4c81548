#include "platform/posix/drive_map.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/posix/posix_error.h"

namespace qv::platform::posix {

namespace {

constexpr WCHAR kNativeColonStandIn = 0xF03A;
constexpr WCHAR kNativeBackslashStandIn = 0xF05C;
constexpr char kEnvironmentVariable[] = "QV_DRIVES";

int LetterIndex(WCHAR letter) {
  if (letter >= 'A' && letter <= 'Z') return letter - 'A';
  if (letter >= 'a' && letter <= 'z') return letter - 'a';
  return -1;
}

// Appends the components of `text` (split on any of `separators`) to
// `components`, dropping empty ones and "."; ".." removes the last component
// when there is one, so nothing climbs above where `components` started.
template <typename Char>
void PushComponents(std::basic_string_view<Char> text, std::basic_string_view<Char> separators,
                    std::vector<std::basic_string_view<Char>>* components) {
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find_first_of(separators, pos);
    if (end == std::basic_string_view<Char>::npos) end = text.size();
    std::basic_string_view<Char> part = text.substr(pos, end - pos);
    bool isDot = part.size() == 1 && part[0] == Char('.');
    bool isDotDot = part.size() == 2 && part[0] == Char('.') && part[1] == Char('.');
    if (isDotDot) {
      if (!components->empty()) components->pop_back();
    } else if (!part.empty() && !isDot) {
      components->push_back(part);
    }
    pos = end + 1;
  }
}

std::string JoinNative(const std::vector<std::string_view>& components) {
  if (components.empty()) return "/";
  std::string out;
  for (std::string_view part : components) {
    out.push_back('/');
    out.append(part);
  }
  return out;
}

// True when `root` is `path` or one of its ancestors; both are normalised.
bool RootCovers(const std::string& root, const std::string& path) {
  if (root == "/") return true;
  if (path.compare(0, root.size(), root) != 0) return false;
  return path.size() == root.size() || path[root.size()] == '/';
}

bool NormalisedOrEmpty(std::string_view path, std::string* out) {
  out->clear();
  return path.empty() || AbsoluteNativePath(path, out);
}

}  // namespace

std::string NativeNameOf(WStringView driveName) {
  WString name(driveName);
  for (WCHAR& c : name) {
    if (c == kNativeColonStandIn) c = ':';
    else if (c == kNativeBackslashStandIn) c = '\\';
  }
  return Utf16ToUtf8(name);
}

WString DriveNameOf(std::string_view nativeName) {
  WString name = Utf8ToUtf16(nativeName);
  for (WCHAR& c : name) {
    if (c == ':') c = kNativeColonStandIn;
    else if (c == '\\') c = kNativeBackslashStandIn;
  }
  return name;
}

bool AbsoluteNativePath(std::string_view path, std::string* absolute) {
  std::string currentFolder;
  std::vector<std::string_view> components;
  if (path.empty() || path[0] != '/') {
    char* folder = getcwd(nullptr, 0);
    if (folder == nullptr) return FailWithErrno(errno);
    currentFolder = folder;
    std::free(folder);
    PushComponents<char>(currentFolder, "/", &components);
  }
  PushComponents<char>(path, "/", &components);
  *absolute = JoinNative(components);
  return true;
}

namespace {

// "name" or "sub\name": no drive, no leading separator. Such a path names
// a file below the current folder, as it does on Windows.
bool IsRelativeDrivePath(WStringView path) {
  if (path.empty() || path[0] == '\\' || path[0] == '/') return false;
  return path.find(':') == WStringView::npos;
}

bool RelativeToNative(WStringView drivePath, NativePath* native) {
  std::string joined;
  std::size_t pos = 0;
  while (pos <= drivePath.size()) {
    std::size_t end = drivePath.find_first_of(WStringView(QVT("\\/")), pos);
    if (end == WStringView::npos) end = drivePath.size();
    if (!joined.empty()) joined.push_back('/');
    joined.append(NativeNameOf(drivePath.substr(pos, end - pos)));
    pos = end + 1;
  }
  native->isDriveRoot = false;
  return AbsoluteNativePath(joined, &native->path);
}

}  // namespace

// (assign, not operator=: GCC 12 warns falsely on the inlined copy of "/")
DriveMap::DriveMap() { drives_[static_cast<std::size_t>(LetterIndex('C'))].root.assign(1, '/'); }

void DriveMap::ApplyList(std::string_view list) {
  std::size_t pos = 0;
  while (pos <= list.size()) {
    std::size_t end = list.find(';', pos);
    if (end == std::string_view::npos) end = list.size();
    std::string_view entry = list.substr(pos, end - pos);
    pos = end + 1;
    while (!entry.empty() && entry.front() == ' ') entry.remove_prefix(1);
    if (entry.size() < 2 || entry[1] != '=' || LetterIndex(static_cast<WCHAR>(entry[0])) < 0) continue;
    std::string_view value = entry.substr(2);
    std::size_t comma = value.find(',');
    std::string_view root = value.substr(0, comma);
    std::string_view device = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    Set(static_cast<WCHAR>(entry[0]), root, device);
  }
}

bool DriveMap::Set(WCHAR letter, std::string_view root, std::string_view device) {
  int index = LetterIndex(letter);
  if (index < 0) return FailWith(ERROR_INVALID_PARAMETER);
  Drive drive;
  if (!NormalisedOrEmpty(root, &drive.root) || !NormalisedOrEmpty(device, &drive.device)) return false;
  drives_[static_cast<std::size_t>(index)] = std::move(drive);
  return true;
}

bool DriveMap::ToNative(WStringView drivePath, NativePath* native) const {
  if (IsRelativeDrivePath(drivePath)) return RelativeToNative(drivePath, native);
  if (drivePath.size() < 2 || drivePath[1] != ':') return FailWith(ERROR_PATH_NOT_FOUND);
  if (drivePath.size() > 2 && drivePath[2] != '\\' && drivePath[2] != '/') return FailWith(ERROR_PATH_NOT_FOUND);
  int index = LetterIndex(drivePath[0]);
  if (index < 0 || drives_[static_cast<std::size_t>(index)].root.empty()) return FailWith(ERROR_PATH_NOT_FOUND);

  static constexpr WCHAR kSeparators[] = {'\\', '/', 0};
  std::vector<WStringView> components;
  PushComponents<WCHAR>(drivePath.substr(2), kSeparators, &components);
  native->path = drives_[static_cast<std::size_t>(index)].root;
  native->isDriveRoot = components.empty();
  for (WStringView part : components) {
    if (native->path.back() != '/') native->path.push_back('/');
    native->path.append(NativeNameOf(part));
  }
  return true;
}

bool DriveMap::ToDrive(std::string_view nativePath, WString* drivePath) const {
  std::string absolute;
  if (!AbsoluteNativePath(nativePath, &absolute)) return false;
  int best = -1;
  for (std::size_t i = 0; i < drives_.size(); ++i) {
    const std::string& root = drives_[i].root;
    if (root.empty() || !RootCovers(root, absolute)) continue;
    if (best < 0 || root.size() > drives_[static_cast<std::size_t>(best)].root.size()) best = static_cast<int>(i);
  }
  if (best < 0) return FailWith(ERROR_PATH_NOT_FOUND);

  const std::string& root = drives_[static_cast<std::size_t>(best)].root;
  std::vector<std::string_view> components;
  PushComponents<char>(std::string_view(absolute).substr(root.size()), "/", &components);
  drivePath->assign({static_cast<WCHAR>('A' + best), ':', '\\'});
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (i > 0) drivePath->push_back('\\');
    drivePath->append(DriveNameOf(components[i]));
  }
  return true;
}

bool DriveMap::Device(WCHAR letter, std::string* device) const {
  int index = LetterIndex(letter);
  if (index < 0) return FailWith(ERROR_INVALID_PARAMETER);
  const std::string& mapped = drives_[static_cast<std::size_t>(index)].device;
  if (mapped.empty()) return FailWith(ERROR_FILE_NOT_FOUND);
  *device = mapped;
  return true;
}

namespace {

struct ProcessDriveMap {
  std::mutex mutex;
  DriveMap map;
};

// Never destroyed: the log and other objects with static lifetime may still
// resolve paths while the process exits.
ProcessDriveMap& TheDriveMap() {
  static ProcessDriveMap* const instance = [] {
    auto* created = new ProcessDriveMap;
    if (const char* list = std::getenv(kEnvironmentVariable)) created->map.ApplyList(list);
    return created;
  }();
  return *instance;
}

}  // namespace

bool SetDriveMapping(WCHAR letter, std::string_view root, std::string_view device) {
  ProcessDriveMap& drives = TheDriveMap();
  std::lock_guard<std::mutex> lock(drives.mutex);
  return drives.map.Set(letter, root, device);
}

bool NativePathOf(WStringView drivePath, NativePath* native) {
  ProcessDriveMap& drives = TheDriveMap();
  std::lock_guard<std::mutex> lock(drives.mutex);
  return drives.map.ToNative(drivePath, native);
}

bool DrivePathOf(std::string_view nativePath, WString* drivePath) {
  ProcessDriveMap& drives = TheDriveMap();
  std::lock_guard<std::mutex> lock(drives.mutex);
  return drives.map.ToDrive(nativePath, drivePath);
}

bool DriveDeviceOf(WCHAR letter, std::string* device) {
  ProcessDriveMap& drives = TheDriveMap();
  std::lock_guard<std::mutex> lock(drives.mutex);
  return drives.map.Device(letter, device);
}

}  // namespace qv::platform::posix
