#include "sfx_restore.h"

#include <windows.h>

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
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  return ((static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == size;
}

// Makes `folder` and every missing folder above it.
bool MakeFolders(const std::wstring& folder) {
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::size_t separator = folder.find_last_of(L"\\/");
  if (separator != std::wstring::npos && separator > 2 && !MakeFolders(folder.substr(0, separator))) return false;
  return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
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
    SecureZeroMemory(password.data(), password.size() * sizeof(wchar_t));
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
