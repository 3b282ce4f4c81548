#include "backup_archive.h"

#include "qvbackup/host.h"

namespace qvtool {

namespace {

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

std::unique_ptr<CQVBackupControl> ReadMemberIndex(const ArchiveForm& form, DWORD increment, ULONGLONG* volumeSize) {
  QVS_ARCHIVE_INFO info = form.Describe(increment);
  auto control = std::make_unique<CQVBackupControl>();
  if (!control->GetStorage().OpenArchive(&info, form.progress, form.progressValue)) {
    SetLastError(control->GetStorage().GetError());
    return nullptr;
  }
  if (volumeSize != nullptr) *volumeSize = control->GetStorage().GetVolumeSize();
  const bool loaded = control->LoadArchiveIndex() != FALSE;
  const DWORD error = GetLastError();
  // Closed as read: closing it as a restore would write its header again,
  // and reading a chain (for a dry run too) must change nothing on disk.
  control->GetStorage().AbandonArchive();
  SetLastError(loaded ? ERROR_SUCCESS : (error != ERROR_SUCCESS ? error : ERROR_INVALID_DATA));
  return loaded ? std::move(control) : nullptr;
}

DWORD ExactNames() { return QVFileNamesIgnoreCase() ? 0 : QVFA_ADD_EXACT_CASE; }

DWORD FindSavedEntry(CQVBackupControl& member, LPCWSTR path) {
  const DWORD entry = member.GetIndex().Add(path, nullptr, QVFA_ADD_LOOKUP | ExactNames());
  return entry != 0 && member.GetItemKind(entry) != QVBC_ITEM_NONE ? entry : 0;
}

}  // namespace qvtool
