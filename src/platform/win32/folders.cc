#include "platform/folders.h"

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "platform/win32/win32_support.h"

namespace qv::platform {

namespace {

bool FailWith(DWORD error) {
  SetLastError(error);
  return false;
}

bool IsSeparator(WCHAR c) { return c == L'\\' || c == L'/'; }

// Where the first folder that may need creating starts: after "C:\", after
// "\\server\share\" or "\\?\C:\" (which name existing roots), or at 0 for a
// relative path.
std::size_t FirstCreatableOffset(const std::wstring& path) {
  if (path.size() >= 2 && path[1] == L':') return path.size() > 2 && IsSeparator(path[2]) ? 3 : 2;
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return 0;
  // "\\server\share\" or "\\?\C:\": skip two components after the prefix.
  std::size_t offset = 2;
  for (int component = 0; component < 2 && offset < path.size(); ++component) {
    std::size_t next = path.find_first_of(L"\\/", offset);
    if (next == std::wstring::npos) return path.size();
    offset = next + 1;
  }
  return offset;
}

// One folder of the chain: there already, or made now. Another process
// making it between the look and the creation is not a failure.
bool EnsureFolder(const std::wstring& folder) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || FailWith(ERROR_ALREADY_EXISTS);
    }
    if (CreateDirectoryW(folder.c_str(), nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return FailWith(ERROR_ALREADY_EXISTS);
}

}  // namespace

bool CreateFolderTree(const WCHAR* path) {
  if (path == nullptr || path[0] == 0) return FailWith(ERROR_INVALID_PARAMETER);
  std::wstring full(path);
  while (full.size() > 1 && IsSeparator(full.back())) full.pop_back();
  // Restores ask for the same few folders thousands of times: one look at
  // the whole path answers them, the chain is walked only when it is missing.
  DWORD existing = GetFileAttributesW(full.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  std::size_t start = FirstCreatableOffset(full);
  if (start >= full.size()) {
    // Only a root: it exists or the drive does not.
    DWORD attributes = GetFileAttributesW((full + L"\\").c_str());
    return attributes != INVALID_FILE_ATTRIBUTES || FailWith(ERROR_PATH_NOT_FOUND);
  }
  for (std::size_t separator = full.find_first_of(L"\\/", start); separator != std::wstring::npos;
       separator = full.find_first_of(L"\\/", separator + 1)) {
    if (separator > start && !EnsureFolder(full.substr(0, separator))) return false;
  }
  return EnsureFolder(full);
}

bool CreateWorkFolder(const char* prefix, WString* path) {
  WCHAR base[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) return FailWith(length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE);
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    WString folder(base, length);
    if (!folder.empty() && !IsSeparator(folder.back())) folder.push_back(L'\\');
    for (const char* c = prefix; *c != 0; ++c) folder.push_back(static_cast<WCHAR>(*c));
    for (unsigned value = random(), i = 0; i < 8; ++i, value >>= 4) folder.push_back(L"0123456789abcdef"[value & 0xF]);
    if (CreateDirectoryW(folder.c_str(), nullptr)) {
      *path = folder;
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return FailWith(ERROR_ALREADY_EXISTS);
}

bool RemoveFolderTree(const WCHAR* path) {
  if (path == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  std::error_code error;
  std::filesystem::remove_all(std::filesystem::path(path), error);
  return !error || FailWith(static_cast<DWORD>(error.value()));
}

}  // namespace qv::platform
