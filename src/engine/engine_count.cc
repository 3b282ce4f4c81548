// Counts per category: how many files, and how many bytes, each of the six
// categories would save, partition by partition, sent to the host one
// category at a time.
#include <cstdint>

#include "engine/categories.h"
#include "engine/exclusions.h"
#include "engine/index_search.h"
#include "engine/system_file_names.h"
#include "log/qv_log.h"
#include "platform/file_system.h"
#include "qvbackup/qvbackupengine.h"
#include "services/qvpe.h"

using qv::engine::TextView;

namespace {

bool Contains(TextView text, const WCHAR* part) { return text.find(TextView(part)) != TextView::npos; }

WCHAR UpperLetter(WCHAR c) {
  return c >= QVT('a') && c <= QVT('z') ? static_cast<WCHAR>(c - QVT('a') + QVT('A')) : c;
}

// Whether `path` lies on the drive whose root is `root` ("C:\").
bool OnDrive(const CQVString& path, const CQVString& root) {
  return path.GetLength() >= 2 && root.GetLength() >= 2 && path.GetAt(1) == QVT(':') && root.GetAt(1) == QVT(':') &&
         UpperLetter(path.GetAt(0)) == UpperLetter(root.GetAt(0));
}

// The folder the count walks when the partition cannot be read raw: the
// base folder when there is one, else the partition's root. A base folder
// on another drive holds none of the partition's files, as the search of a
// partition read raw finds: nothing is walked then.
CQVString WalkStart(const CQVString& partition, const CQVString& baseFolder) {
  if (baseFolder.IsEmpty()) return partition;
  if (!OnDrive(baseFolder, partition)) return CQVString();
  CQVString start = baseFolder;
  start.TrimRight(QVT("\\"));
  if (start.GetLength() == 2) start += QVT('\\');  // "C:" is the drive's root
  return start;
}

// The rules a found entry passes before it is counted, applied to its
// lowered full path. Exclusions compare whole components and extensions
// without regard to case; desktop files and user hives are recognised by
// the file's own name, never by a folder's.
class CountRules {
 public:
  CountRules(const CQVStringArray& folders, const CQVStringArray& files, const CQVStringArray& extensions)
      : exclusions_(folders, files, extensions), files_(files) {}

  bool Counts(const CQVString& path) const {
    if (!qv::platform::FileExists(path)) return false;
    CQVString lowered = path;
    lowered.MakeLower();
    const TextView view(lowered.GetString(), lowered.GetLength());
    if (exclusions_.ExcludesLowered(view)) return false;
    const TextView name = qv::engine::LastComponent(view);
    if (Contains(name, QVT("desktop.ini"))) {
      theLog.LogDetail(QVT("COUNTS desktop file skip"));
      return false;
    }
    if (Contains(name, QVT("ntuser.dat"))) return false;
    if (qv::engine::IsSystemFileName(name)) return false;
    return !IsExcludedName(name);
  }

 private:
  // An excluded file given by its name alone, in any letter case.
  bool IsExcludedName(TextView loweredName) const {
    for (DWORD i = 0; i < files_.GetSize(); ++i) {
      CQVString excluded = files_.GetAt(i);
      excluded.MakeLower();
      if (loweredName == TextView(excluded.GetString(), excluded.GetLength())) return true;
    }
    return false;
  }

  qv::engine::ExclusionRules exclusions_;
  const CQVStringArray& files_;
};

}  // namespace

DWORD CQVBackupEngine::GetCount(CQVString strBaseFolder, QV_ARCHIVE_PROFILE_BACKUP& qvapb) {
  theLog.Enter(QVT("CQVBackupEngine::GetCount"));
  CQVPE pe;
  for (const qv::engine::Category& category : qv::engine::kCategories) {
    CQVStringArray extensions(0);
    theLog.LogDetail(QVT("%s"), category.countingMessage);
    CQVStringArray group(0);
    GroupExt_EnumerateExtensionsInGroup(category.group, group, qvapb);
    for (DWORD i = 0; i < group.GetSize(); ++i) {
      theLog.LogDetail(QVT("Adding extension %s"), group.GetAt(i).GetString());
      extensions.Add(group.GetAt(i));
    }

    LONGLONG totalFiles = 0;
    LONGLONG totalSize = 0;
    if (!pe.IsWinPE(0)) {
      if (m_strMultiplePartScan.empty()) {
        ComputeSizeInformationsOfCategory(QVT("C:\\"), strBaseFolder, extensions, totalFiles, totalSize, qvapb);
      } else {
        for (WCHAR letter : m_strMultiplePartScan) {
          CQVString root;
          root.Format(QVT("%c:\\"), static_cast<int>(letter));
          LONGLONG files = 0;
          LONGLONG size = 0;
          ComputeSizeInformationsOfCategory(root, CQVString(), extensions, files, size, qvapb);
          totalFiles += files;
          totalSize += size;
        }
      }
    } else {
      const CQVString partitions = qvapb.strPartitionsToScan;
      for (DWORD i = 0; i < partitions.GetLength(); ++i) {
        CQVString root;
        root.Format(QVT("%c:\\"), static_cast<int>(partitions.GetAt(i)));
        LONGLONG files = 0;
        LONGLONG size = 0;
        ComputeSizeInformationsOfCategory(root, CQVString(), extensions, files, size, qvapb);
        theLog.LogDetail(QVT("!!!! Type%d i64NbFiles %I64d i64Size %I64d "), static_cast<int>(category.number),
                         files, size);
        totalFiles += files;
        totalSize += size;
      }
    }
    theLog.LogDetail(QVT("i64TotalNbFiles=%I64d"), totalFiles);
    theLog.LogDetail(QVT("i64TotalSize=%I64d"), totalSize);

    DWORD number = category.number;
    Notify(ENGINE_MSG_CATEGORY_COUNT, 0, reinterpret_cast<std::uintptr_t>(&number),
           reinterpret_cast<std::uintptr_t>(&totalFiles), reinterpret_cast<std::uintptr_t>(&totalSize));
  }
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}

DWORD CQVBackupEngine::ComputeSizeInformationsOfCategory(LPCWSTR pszPartition, CQVString strBaseFolder,
                                                         CQVStringArray& straExtensions, LONGLONG& i64NbFiles,
                                                         LONGLONG& i64Size, QV_ARCHIVE_PROFILE_BACKUP& qvapb) {
  const CQVString root = pszPartition != nullptr ? pszPartition : QVT("");
  theLog.Enter(QVT("CQVBackupEngine::ComputeSizeInformationsOfCategory Part:%s"), root.GetString());
  // A partition that cannot be read raw (on Linux, every mounted file
  // system) is walked instead, below the base folder alone when there is
  // one: the count must not come out as nothing.
  LoadPartition(m_qvfaCount, root, WalkStart(root, strBaseFolder), QVT("LoadNTFS impossible"));
  if (qvapb.bReferenceTimeFilter) SubstractFileBeforeReferenceTime(m_qvfaCount, qvapb.ftReferenceTime);

  QV_FINDFILTER filter = qv::engine::EmptyFilter();
  filter.dwFlags = QVFF_RECURSE;
  if (!strBaseFolder.IsEmpty()) filter.pszBasePath = strBaseFolder.GetString();
  const CountRules rules(m_qvsaFoldersExcluded, m_qvsaFilesExcluded, m_qvsaExtensionsExcluded);
  LONGLONG files = 0;
  LONGLONG size = 0;
  for (DWORD i = 0; i < straExtensions.GetSize(); ++i) {
    const CQVString extension = straExtensions.GetAt(i);
    filter.pszExtensionMask = extension.GetString();
    for (DWORD entry : qv::engine::FindAll(m_qvfaCount, filter)) {
      // A folder named like a file of the category ("Album.jpg") is none
      // of its files: the list file never lists folders either.
      const CQVString path = m_qvfaCount.GetPathName(entry);
      if (!qv::engine::IsFileEntry(m_qvfaCount, entry, path) || !rules.Counts(path)) continue;
      WIN32_FIND_DATAW data;
      if (m_qvfaCount.GetFileInfo(entry, &data)) {
        size += static_cast<LONGLONG>((static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
      }
      ++files;
    }
    i64NbFiles = files;
    i64Size = size;
  }
  theLog.LogDetail(QVT("ComputeSizeInformationsOfCategory -> i64NbFiles=%I64d"), i64NbFiles);
  theLog.LogDetail(QVT("ComputeSizeInformationsOfCategory -> i64Size=%I64d"), i64Size);
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}
