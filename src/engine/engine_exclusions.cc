// The host's exclusions and the removals of a profile-driven run: the three
// lists and their setters, moving them to another drive, and the operations
// that delete excluded, metafile and older entries from an index.
#include <array>
#include <cstdint>

#include "engine/exclusions.h"
#include "engine/index_search.h"
#include "log/qv_log.h"
#include "platform/system_info.h"
#include "qvbackup/qvbackupengine.h"

using qv::engine::FindAll;
using qv::engine::FindEveryEntry;
using qv::engine::IsFileEntry;
using qv::engine::TextView;

namespace {

// The NTFS metafiles, each used as a file mask; only the first entry each
// finds is removed.
constexpr std::array<const WCHAR*, 17> kMetafileNames = {
    QVT("$UpCase"),  QVT("$Secure"), QVT("$BadClus"),
    QVT("$Boot"),    QVT("$Bitmap"), QVT("$AttrDef"),
    QVT("$Volume"),  QVT("$LogFile"), QVT("$MFTMirr"),
    QVT("$Reparse"), QVT("$ObjId"),  QVT("$Quota"),
    QVT("$MFT"),     QVT("$Extend\\$ObjId"), QVT("$TxfLog.blf"),
    QVT("$TxfLogContainer00000000000000000002"), QVT("$TxfLogContainer00000000000000000001"),
};

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

ULONGLONG TicksOf(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::int64_t UnixSecondsOf(const FILETIME& time) {
  return static_cast<std::int64_t>(TicksOf(time) / kTicksPerSecond) - kSecondsFrom1601To1970;
}

// The text lowered and without trailing separators, as a path prefix is
// compared.
CQVString LoweredPrefix(LPCWSTR path) {
  CQVString prefix = path != nullptr ? path : QVT("");
  prefix.MakeLower();
  prefix.TrimRight(QVT("\\"));
  return prefix;
}

// Replaces the drive of every element that begins with one ("X:" in its
// first three code units) by `newRoot`, wherever that text recurs.
void MoveToRoot(CQVStringArray& list, LPCWSTR newRoot) {
  for (DWORD i = 0; i < list.GetSize(); ++i) {
    CQVString element = list.GetAt(i);
    const CQVString head = element.Left(3);
    DWORD colon = 0;
    if (!head.Find(QVT(":"), &colon)) continue;
    element.Replace(head, newRoot != nullptr ? newRoot : QVT(""));
    list.SetAt(i, element);
  }
}

}  // namespace

DWORD CQVBackupEngine::SetFoldersExcludedList(CQVStringArray& qvsaFolders) {
  m_qvsaFoldersExcluded.Copy(qvsaFolders);
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}

DWORD CQVBackupEngine::SetFilesExcludedList(CQVStringArray& qvsaFiles) {
  m_qvsaFilesExcluded.Copy(qvsaFiles);
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}

DWORD CQVBackupEngine::SetExtensionsExcludedList(CQVStringArray& qvsaExtensions) {
  m_qvsaExtensionsExcluded.Copy(qvsaExtensions);
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}

void CQVBackupEngine::UpdateExcludeList(LPCWSTR pszNewRoot) {
  MoveToRoot(m_qvsaFoldersExcluded, pszNewRoot);
  MoveToRoot(m_qvsaFilesExcluded, pszNewRoot);
}

LONG CQVBackupEngine::BuildExclusionsList(QV_ARCHIVE_PROFILE_BACKUP&) {
  return theLog.Returned(static_cast<LONG>(0), QVT(""));
}

DWORD CQVBackupEngine::SubstractSystemExtensions(QV_ARCHIVE_PROFILE_BACKUP&) {
  theLog.Enter(QVT("CQVBackupEngine::SubstractSystemExtensions"));
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}

// Whole components are compared: C:\Temp removes C:\TEMP\a.doc but not
// C:\Temporary\a.doc. Folders go only once their files have gone, which in
// image order (a folder before what it holds) is never: they stay, empty.
DWORD CQVBackupEngine::SubstractOnePath(CQVFileArray& qvfa, LPCWSTR pszPath) {
  const CQVString prefix = LoweredPrefix(pszPath);
  const TextView prefixView(prefix.GetString(), prefix.GetLength());
  for (DWORD entry : FindEveryEntry(qvfa)) {
    CQVString path = qvfa.GetPathName(entry);
    if (path.IsEmpty() || path.GetAt(path.GetLength() - 1) == QVT('\\')) continue;
    path.MakeLower();
    if (qv::engine::IsAtOrBelow(TextView(path.GetString(), path.GetLength()), prefixView)) {
      qvfa.DeleteItem(entry, QVFA_DEL_IFEMPTY);
    }
  }
  return 0;
}

DWORD CQVBackupEngine::SubstractExcludedPathFromXML(CQVFileArray& qvfa) {
  for (DWORD i = 0; i < m_qvsaFoldersExcluded.GetSize(); ++i) SubstractOnePath(qvfa, m_qvsaFoldersExcluded.GetAt(i));
  return 0;
}

// Read as the file list and the counts read the list: a leading dot is
// dropped, and an element left empty names nothing (as a mask it would take
// every file without an extension).
DWORD CQVBackupEngine::SubstractExcludedExtensionsFromXML(CQVFileArray& qvfa) {
  for (DWORD i = 0; i < m_qvsaExtensionsExcluded.GetSize(); ++i) {
    const CQVString element = m_qvsaExtensionsExcluded.GetAt(i);
    const WCHAR* extension = element.GetString();
    if (extension[0] == QVT('.')) ++extension;
    if (extension[0] != 0) SubstractOneExtension(qvfa, extension);
  }
  return 0;
}

DWORD CQVBackupEngine::SubstractAllMFTEntry() {
  for (const WCHAR* name : kMetafileNames) SubstractOneMFTEntry(&m_qvfaGroup, name);
  return 0;
}

DWORD CQVBackupEngine::SubstractOneMFTEntry(CQVFileArray*, LPCWSTR pszName) {
  QV_FINDFILTER filter = qv::engine::EmptyFilter();
  filter.pszFileMask = pszName;
  DWORD entry = 0;
  HANDLE search = m_qvfaGroup.FindFirstFileW(entry, &filter);
  if (search == nullptr || search == INVALID_HANDLE_VALUE) return 0;
  m_qvfaGroup.FindClose(search);
  m_qvfaGroup.DeleteItem(entry, QVFA_DEL_IFEMPTY);
  return 0;
}

// The index holds its times in UTC, and so does the reference: they are
// compared as they are. The local form is only traced.
DWORD CQVBackupEngine::SubstractFileBeforeReferenceTime(CQVFileArray& qvfa, FILETIME& ftReference) {
  theLog.Enter(QVT("CQVBackupEngine::SubstractFileBeforeReferenceTime"));
  const FILETIME reference = ftReference;
  SYSTEMTIME shown;
  if (qv::platform::UtcTimeOf(UnixSecondsOf(reference), &shown)) {
    theLog.LogDetail(QVT("Time filtered : %02d-%02d-%02d %02d:%02d"), shown.wDay, shown.wMonth, shown.wYear,
                     shown.wHour, shown.wMinute);
  }
  if (qv::platform::LocalTimeOf(UnixSecondsOf(reference), &shown)) {
    theLog.LogDetail(QVT("Time filtered Local : %02d-%02d-%02d %02d:%02d"), shown.wDay, shown.wMonth,
                     shown.wYear, shown.wHour, shown.wMinute);
  }
  const ULONGLONG cut = TicksOf(reference);
  for (DWORD entry : FindAll(qvfa, qv::engine::EmptyFilter())) {
    if (!IsFileEntry(qvfa, entry, qvfa.GetPathName(entry))) continue;
    WIN32_FIND_DATAW data;
    if (!qvfa.GetFileInfo(entry, &data)) continue;
    if (TicksOf(data.ftCreationTime) < cut && TicksOf(data.ftLastWriteTime) < cut) {
      qvfa.DeleteItem(entry, QVFA_DEL_IFEMPTY);
    }
  }
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}
