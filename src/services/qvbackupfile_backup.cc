// CQVBackupFile::BackupFile: a file's records and content handed to a
// callback.
#include <vector>

#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "qvbackup/qvbackupfile.h"
#include "services/backup_file_records.h"
#include "services/backup_file_stream.h"

using qv::services::CallbackChannel;
using qv::services::FileDescription;

namespace {

BOOL FailWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// The last component of `path`: "C:\a\b.txt" gives "b.txt".
qv::WString NameOf(const CQVString& path) {
  CQVPathString name = CQVPathString(path).FindFileName();
  name.TrimRight(QVT("\\/"));
  return qv::WString(name.GetString(), name.GetLength());
}

FileDescription DescriptionOf(const qv::platform::FileInformation& info, qv::WString name) {
  FileDescription file;
  file.attributes = info.attributes;
  file.size = info.size;
  file.creationTime = info.creationTime;
  file.lastAccessTime = info.lastAccessTime;
  file.lastWriteTime = info.lastWriteTime;
  file.name = std::move(name);
  return file;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

}  // namespace

CQVBackupFile::CQVBackupFile(LPCWSTR pszPath) : CQVFile(pszPath) {}

CQVBackupFile::~CQVBackupFile() = default;

BOOL CQVBackupFile::BackupFile(QVBF_CALLBACK pfnCallback, ULONGLONG ullUserValue) {
  m_bChangedWhileRead = FALSE;
  if (pfnCallback == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (!m_bAttached) return FailWith(ERROR_INVALID_STATE);
  qv::WString name = NameOf(m_strPath);
  // A name that a restore could not take back is not saved at all.
  if (name.size() > qv::services::naming::kLongestName) return FailWith(ERROR_FILENAME_EXCED_RANGE);

  auto source = qv::platform::OpenFile(m_strPath, qv::platform::OpenMode::kReadExisting,
                                       qv::platform::Sharing::kReadWrite);
  if (!source) return FALSE;
  qv::platform::FileInformation info;
  if (!source->Describe(m_strPath, &info)) return FALSE;
  const FileDescription file = DescriptionOf(info, std::move(name));

  // A file with a megabyte or more of holes is saved as its runs of data:
  // the holes are neither read nor stored.
  std::vector<qv::services::DataRun> runs;
  if (!qv::services::FindDataRuns(*source, info.size, &runs)) return FALSE;
  const bool asRuns = qv::services::WorthSavingAsRuns(runs, info.size);

  CallbackChannel channel(pfnCallback, ullUserValue);
  BYTE opening[qv::services::opening::kSize];
  qv::services::EncodeOpeningRecord(file.attributes, opening,
                                    asRuns ? qv::services::opening::kRuns : qv::services::opening::kOneStream);
  if (!channel.Exchange(qv::services::kStageOpening, opening, sizeof(opening))) return FALSE;
  std::vector<BYTE> naming = qv::services::EncodeNamingRecord(file, m_strPath.GetString());
  if (!channel.Exchange(qv::services::kStageNaming, naming.data(), static_cast<DWORD>(naming.size()))) return FALSE;
  bool shortened = false;
  if (asRuns) {
    if (!qv::services::SendRuns(*source, runs, channel, &shortened)) return FALSE;
  } else {
    ULONGLONG sent = 0;
    if (!qv::services::SendContent(*source, file.size, channel, &sent)) return FALSE;
    shortened = sent != info.size;
  }
  // Read from start to end, the file may still have been written meanwhile:
  // it is then no copy of any one moment, and the caller is told.
  qv::platform::FileInformation after;
  m_bChangedWhileRead = shortened || !source->Describe(m_strPath, &after) ||
                        after.size != info.size || !SameTime(after.lastWriteTime, info.lastWriteTime);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
