// CQVBackupFile::RestoreFile: a file recreated from what a callback hands
// back.
#include <vector>

#include "qvbackup/qvbackupfile.h"
#include "services/backup_file_records.h"
#include "services/backup_file_stream.h"
#include "services/replacement_file.h"

using qv::services::CallbackChannel;
using qv::services::FileDescription;

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

}  // namespace

BOOL CQVBackupFile::RestoreFile(QVBF_CALLBACK pfnCallback, ULONGLONG ullFileBytes, ULONGLONG ullUserValue) {
  if (pfnCallback == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (!m_bAttached) return FailWith(ERROR_INVALID_STATE);
  CallbackChannel channel(pfnCallback, ullUserValue);
  FileDescription file;
  ULONGLONG contentBytes = 0;
  DWORD streams = qv::services::opening::kOneStream;
  if (!ReceiveRecords(channel, ullFileBytes, &file, &contentBytes, &streams)) return FALSE;

  // Nothing exists on disk before this point, so a refused record leaves
  // nothing behind; from here the replacement removes itself on failure.
  // Runs are written where they lie: the holes between them stay holes.
  qv::services::ReplacementFile replacement;
  if (!replacement.Create(m_strPath)) return FALSE;
  const bool received = streams == qv::services::opening::kRuns
                            ? qv::services::ReceiveRuns(channel, contentBytes, file.size, replacement.File())
                            : qv::services::ReceiveContent(channel, contentBytes, replacement.File());
  if (!received) return FALSE;
  return replacement.Commit(file) ? TRUE : FALSE;
}
