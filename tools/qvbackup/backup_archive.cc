#include "backup_archive.h"

#include "qvbackup/host.h"

namespace qvtool {

namespace {

// The user data of a saved file's entry starts with the bytes saved for it
// (little-endian); 0 means nothing was saved.
constexpr DWORD kSavedBytesOffset = 0;
constexpr DWORD kSavedBytesWidth = 8;

const WCHAR* TextOrNull(const WString& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

QVS_ARCHIVE_INFO ArchiveForm::Describe(DWORD increment) const {
  QVS_ARCHIVE_INFO info = {};
  info.dwSize = sizeof(info);
  info.pszFolder = folder.c_str();
  info.pszName = name.c_str();
  info.pszSFXStub = TextOrNull(sfxStub);
  info.pszPassword = TextOrNull(password);
  info.dwEncryptionKeySize = keyBits;
  info.dwCompression = compress ? 1 : 0;
  info.dwBlockSize = blockSize;
  info.ullVolumeSize = volumeSize;
  info.dwIncrementToOpen = increment;
  return info;
}

std::unique_ptr<CQVFileArray> ReadMemberIndex(const ArchiveForm& form, DWORD increment, ULONGLONG* volumeSize) {
  QVS_ARCHIVE_INFO info = form.Describe(increment);
  CQVBackupControl control;
  if (!control.GetStorage().OpenArchive(&info)) {
    SetLastError(control.GetStorage().GetError());
    return nullptr;
  }
  if (volumeSize != nullptr) *volumeSize = control.GetStorage().GetVolumeSize();
  const bool loaded = control.LoadArchiveIndex() != FALSE;
  const DWORD error = GetLastError();
  std::unique_ptr<CQVFileArray> index = loaded ? std::make_unique<CQVFileArray>(control.GetIndex()) : nullptr;
  control.EndRestore();
  SetLastError(loaded ? ERROR_SUCCESS : (error != ERROR_SUCCESS ? error : ERROR_INVALID_DATA));
  return index;
}

DWORD ExactNames() { return QVFileNamesIgnoreCase() ? 0 : QVFA_ADD_EXACT_CASE; }

DWORD FindSavedEntry(CQVFileArray& index, LPCWSTR path) {
  const DWORD entry = index.Add(path, nullptr, QVFA_ADD_LOOKUP | ExactNames());
  if (entry == 0 || index.IsDeleted(entry) || index.IsDirectory(entry)) return 0;
  DWORD size = 0;
  const BYTE* userData = index.GetUserData(entry, &size);
  if (userData == nullptr || size < kSavedBytesOffset + kSavedBytesWidth) return 0;
  ULONGLONG savedBytes = 0;
  for (DWORD i = kSavedBytesWidth; i-- > 0;) savedBytes = (savedBytes << 8) | userData[kSavedBytesOffset + i];
  return savedBytes != 0 ? entry : 0;
}

}  // namespace qvtool
