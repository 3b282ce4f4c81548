// CQVBackupFile::RestoreFile: a file recreated from what a callback hands
// back.
#include <memory>
#include <vector>

#include "qvbackup/qvbackupfile.h"
#include "services/backup_file_records.h"
#include "services/backup_file_stream.h"
#include "services/file_restore.h"
#include "services/replacement_file.h"

using qv::services::CallbackChannel;
using qv::services::FileDescription;
using qv::WString;
using qv::WStringView;

namespace {

BOOL FailWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Both records, checked; *contentBytes gets what is left of `fileBytes` for
// the content.
bool ReceiveRecords(const CallbackChannel& channel, ULONGLONG fileBytes, FileDescription* file,
                    ULONGLONG* contentBytes, DWORD* streams) {
  namespace opening = qv::services::opening;
  namespace naming = qv::services::naming;
  BYTE openingRecord[opening::kSize] = {};
  if (!channel.Exchange(qv::services::kStageOpening, openingRecord, sizeof(openingRecord))) return false;
  if (!qv::services::CheckOpeningRecord(openingRecord, sizeof(openingRecord), streams)) return false;
  std::vector<BYTE> namingRecord(naming::kRestoreBufferSize, 0);
  if (!channel.Exchange(qv::services::kStageNaming, namingRecord.data(), naming::kRestoreBufferSize)) return false;
  DWORD namingLength = 0;
  if (!qv::services::DecodeNamingRecord(namingRecord.data(), naming::kRestoreBufferSize, file, &namingLength)) {
    return false;
  }
  ULONGLONG recordBytes = opening::kSize + static_cast<ULONGLONG>(namingLength);
  if (fileBytes < recordBytes) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  *contentBytes = fileBytes - recordBytes;
  return true;
}

// "C:\a\b.txt" -> "C:\a\" and "b.txt"; "C:b.txt" -> "C:" and "b.txt"; a
// bare name lies in the current folder.
void SplitFolderAndName(const qv::WString& path, qv::WString* folder, qv::WString* name) {
  std::size_t cut = path.find_last_of(QVT("\\/"));
  if (cut == qv::WString::npos && path.size() >= 2 && path[1] == u':') cut = 1;
  *folder = cut == qv::WString::npos ? qv::WString(QVT(".")) : path.substr(0, cut + 1);
  *name = cut == qv::WString::npos ? path : path.substr(cut + 1);
}

}  // namespace

bool qv::services::RestoreFileInto(const FolderOpener& folder, WStringView name,
                                   const qv::platform::PosixMetadata* metadata, QVBF_CALLBACK callback,
                                   ULONGLONG fileBytes, ULONGLONG userValue, ExistingTarget rule,
                                   RestoreOutcome* outcome) {
  RestoreOutcome ignored;
  if (outcome == nullptr) outcome = &ignored;
  *outcome = RestoreOutcome();
  CallbackChannel channel(callback, userValue);
  FileDescription file;
  ULONGLONG contentBytes = 0;
  DWORD streams = qv::services::opening::kOneStream;
  if (!ReceiveRecords(channel, fileBytes, &file, &contentBytes, &streams)) return false;

  // Nothing exists on disk before this point, so a refused record leaves
  // nothing behind; from here the replacement removes itself on failure.
  // Runs are written where they lie: the holes between them stay holes.
  const qv::platform::ConfinedFolder* held = folder();
  if (held == nullptr) return false;
  qv::services::ReplacementFile replacement(*held, WString(name), rule);
  // An item the rule keeps costs no writing.
  if (replacement.TargetIsKept(file.lastWriteTime)) {
    outcome->leftAlone = true;
    return FailWith(ERROR_FILE_EXISTS) != FALSE;
  }
  if (!replacement.Create()) return false;
  const bool received = streams == qv::services::opening::kRuns
                            ? qv::services::ReceiveRuns(channel, contentBytes, file.size, replacement.File())
                            : qv::services::ReceiveContent(channel, contentBytes, replacement.File());
  if (received && replacement.Commit(file, metadata)) {
    outcome->metadataGiven = replacement.MetadataGiven();
    outcome->metadataNotSet = replacement.MetadataNotSet();
    return true;
  }
  outcome->leftAlone = replacement.LeftAlone();
  return false;
}

BOOL CQVBackupFile::RestoreFile(QVBF_CALLBACK pfnCallback, ULONGLONG ullFileBytes, ULONGLONG ullUserValue) {
  if (pfnCallback == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (!m_bAttached) return FailWith(ERROR_INVALID_STATE);
  qv::WString folderPath;
  qv::WString name;
  SplitFolderAndName(qv::WString(m_strPath.GetString()), &folderPath, &name);
  if (!qv::platform::ConfinedFolder::IsPlainName(name)) return FailWith(ERROR_INVALID_NAME);
  // The folder is the caller's choice, links on its way followed; the file
  // itself is made in it, never through a link.
  std::unique_ptr<qv::platform::ConfinedFolder> folder;
  const auto openFolder = [&]() {
    folder = qv::platform::ConfinedFolder::OpenRoot(folderPath.c_str(), true);
    return folder.get();
  };
  return qv::services::RestoreFileInto(openFolder, name, nullptr, pfnCallback, ullFileBytes, ullUserValue) ? TRUE
                                                                                                         : FALSE;
}
