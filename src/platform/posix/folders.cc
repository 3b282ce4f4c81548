#include "platform/folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/posix/drive_map.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {

namespace {

using posix::FailWith;
using posix::FailWithErrno;

// One folder of the chain: there already (following links, as Windows
// follows junctions), or made now. Another process making it between the
// look and the mkdir is not a failure.
bool EnsureFolder(const std::string& folder) {
  struct stat status;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (::stat(folder.c_str(), &status) == 0) {
      return S_ISDIR(status.st_mode) || FailWith(ERROR_ALREADY_EXISTS);
    }
    if (errno != ENOENT) return FailWithErrno(errno);
    if (::mkdir(folder.c_str(), 0777) == 0) return true;
    if (errno != EEXIST) return FailWithErrno(errno);
  }
  return FailWith(ERROR_ALREADY_EXISTS);
}

}  // namespace

bool CreateFolderTree(const WCHAR* path) {
  if (path == nullptr || path[0] == 0) return FailWith(ERROR_INVALID_PARAMETER);
  posix::NativePath native;
  if (!posix::NativePathOf(path, &native)) return false;
  // Restores ask for the same few folders thousands of times: one look at
  // the whole path answers them, the chain is walked only when it is missing.
  struct stat status;
  if (::stat(native.path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return true;
  // The drive's root is never created: a drive whose folder is missing does
  // not exist, as on Windows.
  const WCHAR rootPath[] = {path[0], ':', '\\', 0};
  posix::NativePath root;
  if (!posix::NativePathOf(rootPath, &root)) return false;
  if (::stat(root.path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return FailWith(ERROR_PATH_NOT_FOUND);
  // Both paths are absolute and clean ("/a/b"); each '/' past the root ends
  // one folder of the chain.
  const std::string& full = native.path;
  if (full.size() <= root.path.size()) return true;
  std::size_t start = root.path == "/" ? 1 : root.path.size() + 1;
  for (std::size_t slash = full.find('/', start); slash != std::string::npos; slash = full.find('/', slash + 1)) {
    if (!EnsureFolder(full.substr(0, slash))) return false;
  }
  return EnsureFolder(full);
}

bool CreateWorkFolder(const char* prefix, WString* path) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = base != nullptr && base[0] == '/' ? base : "/tmp";
  while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
  pattern += std::string("/") + prefix + "XXXXXX";
  // mkdtemp makes the folder with mode 0700.
  if (::mkdtemp(pattern.data()) == nullptr) return FailWithErrno(errno);
  if (!posix::DrivePathOf(pattern, path)) {
    const DWORD error = GetLastError();
    ::rmdir(pattern.c_str());
    return FailWith(error != 0 ? error : ERROR_PATH_NOT_FOUND);
  }
  return true;
}

bool RemoveFolderTree(const WCHAR* path) {
  posix::NativePath native;
  if (path == nullptr || !posix::NativePathOf(path, &native)) return false;
  std::error_code error;
  std::filesystem::remove_all(native.path, error);
  return !error || FailWithErrno(error.value());
}

}  // namespace qv::platform
