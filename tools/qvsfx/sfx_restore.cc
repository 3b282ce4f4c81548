#include "sfx_restore.h"

#include <filesystem>
#include <system_error>

namespace qvsfx {

namespace {

// The file the restore makes for the saved path `path` ("C:\a\b.txt")
// below `target`; empty for a path without a drive.
std::wstring RestoredPath(const std::wstring& target, const std::wstring& path) {
  if (path.size() < 4 || path[1] != L':' || path[2] != L'\\') return std::wstring();
  std::wstring base = target;
  while (base.size() > 3 && base.back() == L'\\') base.pop_back();
  if (base.back() != L'\\') base.push_back(L'\\');
  return base + L"Kelvar_" + path[0] + L"\\" + path.substr(3);
}

bool HasSize(const std::wstring& path, ULONGLONG size) {
  std::error_code error;
  const std::filesystem::path file(path);
  if (!std::filesystem::is_regular_file(file, error)) return false;
  const std::uintmax_t actual = std::filesystem::file_size(file, error);
  return !error && actual == size;
}

// Makes `folder` and every missing folder above it.
bool MakeFolders(const std::wstring& folder) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(folder), error);
  return std::filesystem::is_directory(std::filesystem::path(folder), error);
}

// Wipes a password from memory in a way the compiler cannot leave out.
void Wipe(std::wstring* text) {
  for (volatile wchar_t& unit : *text) unit = 0;
}

}  // namespace

OpenStatus OpenCarriedArchive(CQVBackupControl& control, const std::function<bool(std::wstring*)>& askPassword,
                              DWORD* error) {
  CQVStorage& storage = control.GetStorage();
  if (!storage.OpenArchive(nullptr)) {
    *error = storage.GetError();
    if (*error == ERROR_BAD_FORMAT) return OpenStatus::kNoArchive;
    if (*error != ERROR_INVALID_PASSWORD) return OpenStatus::kFailed;
    std::wstring password;
    if (!askPassword(&password) || password.empty()) return OpenStatus::kNoPassword;
    const BOOL opened = storage.OpenSFX(nullptr, 0, password.c_str());
    Wipe(&password);
    if (!opened) {
      *error = storage.GetError();
      return *error == ERROR_INVALID_PASSWORD ? OpenStatus::kWrongPassword : OpenStatus::kFailed;
    }
  }
  if (!control.LoadArchiveIndex()) {
    *error = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_DATA;
    control.EndRestore();
    return OpenStatus::kFailed;
  }
  return OpenStatus::kOpened;
}

RestoreOutcome RestoreEverything(CQVBackupControl& control, const std::wstring& target) {
  RestoreOutcome outcome;
  MakeFolders(target);
  control.SetRestoreRoot(target.c_str());
  control.RestoreAllFiles();
  control.EndRestore();
  // The restore goes on past a file that fails and logs it only: look at
  // what arrived.
  CQVFileArray& index = control.GetIndex();
  DWORD entry = 0;
  HANDLE search = index.FindFirstFileW(entry, nullptr);
  if (search == nullptr) return outcome;
  do {
    if (index.IsDirectory(entry) || index.IsDeleted(entry)) continue;
    _tagQVFA_FILEINFO info;
    if (!index.GetFileInfo(entry, &info)) continue;
    const std::wstring saved = static_cast<LPCWSTR>(index.GetPathName(entry));
    if (HasSize(RestoredPath(target, saved), info.ullSize)) {
      ++outcome.files;
      outcome.bytes += info.ullSize;
    } else {
      outcome.failed.push_back(saved);
    }
  } while (index.FindNextFileW(search, entry));
  index.FindClose(search);
  return outcome;
}

}  // namespace qvsfx
