// The list file of a profile-driven backup: every file the checked
// categories select, less the exclusions, and the files the run includes
// besides, written as one INI text through CQVIni.
#include "engine/index_search.h"
#include "log/qv_log.h"
#include "platform/file_ops.h"
#include "qvbackup/qvbackupengine.h"
#include "services/qvini.h"

using qv::engine::FindEveryEntry;
using qv::engine::IsFileEntry;

namespace {

constexpr const WCHAR* kParameters = QVT("Parameters");

bool IsLetter(WCHAR c) { return (c >= QVT('A') && c <= QVT('Z')) || (c >= QVT('a') && c <= QVT('z')); }

// "X:\..." : only a path on a drive letter is walked; on Windows a bare
// "\" would be the whole current drive.
bool IsDrivePath(const CQVString& path) {
  return path.GetLength() >= 3 && IsLetter(path.GetAt(0)) && path.GetAt(1) == QVT(':') &&
         path.GetAt(2) == QVT('\\');
}

CQVString DriveRoot(WCHAR letter) {
  CQVString root;
  root.Format(QVT("%c:\\"), static_cast<int>(letter));
  return root;
}

// Adds section `section` with one item per file of `qvfa`, numbered from 0,
// and the count item `countFormat` to "Parameters".
void AddFileSection(CQVIni& ini, LPCWSTR section, CQVFileArray& qvfa, LPCWSTR countFormat) {
  ini.AddSection(section);
  int count = 0;
  for (DWORD entry : FindEveryEntry(qvfa)) {
    const CQVString path = qvfa.GetPathName(entry);
    if (!IsFileEntry(qvfa, entry, path)) continue;
    CQVString item;
    item.Format(QVT("%d=%s%s"), count, path.GetString(), QVT("|File"));
    // A name the text cannot hold (a line break, allowed on POSIX) is left
    // out; the numbers and the count stay those of the items written.
    if (!ini.AddItem(section, item)) {
      theLog.LogError(QVT("%s cannot be listed"), path.GetString());
      continue;
    }
    ++count;
  }
  CQVString countItem;
  countItem.Format(countFormat, count);
  ini.AddItem(kParameters, countItem);
}

}  // namespace

BOOL CQVBackupEngine::LoadPartition(CQVFileArray& qvfa, const CQVString& strRoot, const CQVString& strWalkFrom,
                                    LPCWSTR pszFallbackLine) {
  if (LoadRawVolume(qvfa, strRoot)) return TRUE;
  theLog.LogError(QVT("::LoadNTFSVolume (%d)"), static_cast<int>(GetLastError()));
  theLog.LogDetail(QVT("%s"), pszFallbackLine);
  // What a failed raw read left is not the partition.
  if (qvfa.RemoveAll() && IsDrivePath(strWalkFrom)) qvfa.AddDirectory(strWalkFrom, 0, 0, nullptr, 0);
  return FALSE;
}

DWORD CQVBackupEngine::BuildLSTFile(LPCWSTR pszLstFileName, QV_ARCHIVE_PROFILE_BACKUP& qvapb) {
  theLog.Enter(QVT("CQVBackupEngine::BuildLSTFile"));
  const CQVString partitions = qvapb.strPartitionsToScan;
  theLog.LogDetail(QVT("partition to scan %s "), partitions.GetString());

  CQVFileArray selected;
  CQVFileArray gathered;
  CQVIni ini;
  m_pLstIni = &ini;

  CQVString listPath;
  listPath.Format(QVT("%s%s"), m_strEnvironementPath.GetString(), pszLstFileName != nullptr ? pszLstFileName : QVT(""));
  theLog.LogDetail(QVT("strLSTFilenamePath %s "), listPath.GetString());
  // A run that stops early must not leave the last run's list behind.
  if (!qv::platform::RemoveFile(listPath)) theLog.LogError(QVT("delete of LST File Failed"));
  LSTFile_BuildHeader(listPath);
  m_qvfaGroup.RemoveAll();
  // The volume index is reused here: a file-list search that follows must
  // load its volume again.
  m_bVolumeLoaded = FALSE;

  // First pass: the files of the checked categories, partition by
  // partition, gathered into one index.
  for (DWORD i = 0; i < partitions.GetLength(); ++i) {
    const CQVString root = DriveRoot(partitions.GetAt(i));
    LoadPartition(m_qvfaGroup, root, root, QVT("Sequential parsing method begin!!"));
    BuildSelectedList(selected, qvapb);
    if (qvapb.bReferenceTimeFilter) SubstractFileBeforeReferenceTime(selected, qvapb.ftReferenceTime);
    SubstractExcludedPathFromXML(selected);
    SubstractExcludedExtensionsFromXML(selected);
    Copy_qvfaFromTo(selected, gathered);
    selected.RemoveAll();
    m_qvfaGroup.RemoveAll();
  }
  LSTFile_BuildSelectedSection(gathered, listPath);
  if (!qvapb.bOthers) {
    theLog.LogDetail(QVT("Others non selected"));
    LSTFile_BuildIncludedSection(listPath, &gathered);
  }
  gathered.RemoveAll();
  m_qvfaGroup.RemoveAll();

  // Second pass, with Others: every file of the partitions that is not
  // excluded, whatever its category.
  if (qvapb.bOthers) {
    for (DWORD i = 0; i < partitions.GetLength(); ++i) {
      const CQVString root = DriveRoot(partitions.GetAt(i));
      theLog.LogDetail(QVT("strLetterToScan %s"), root.GetString());
      if (!LoadPartition(m_qvfaGroup, root, root, QVT("Old School parsing method begin!!"))) {
        theLog.LogDetail(QVT("after adddirectory!!"));
      }
      theLog.LogDetail(QVT("categorie others Checked !"));
      SubstractAllMFTEntry();
      if (qvapb.bReferenceTimeFilter) SubstractFileBeforeReferenceTime(m_qvfaGroup, qvapb.ftReferenceTime);
      SubstractSystemExtensions(qvapb);
      SubstractExcludedPathFromXML(m_qvfaGroup);
      SubstractExcludedExtensionsFromXML(m_qvfaGroup);
      Copy_qvfaFromTo(m_qvfaGroup, gathered);
      m_qvfaGroup.RemoveAll();
    }
    LSTFile_BuildIncludedSection(listPath, &gathered);
    gathered.RemoveAll();
  }

  m_qvfaGroup.RemoveAll();
  selected.RemoveAll();
  ini.Store(listPath, 1);
  m_pLstIni = nullptr;
  ClearFilters();
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}

DWORD CQVBackupEngine::LSTFile_BuildHeader(CQVString strLSTFilenamePath) {
  theLog.Enter(QVT("CQVBackupEngine::LSTFile_BuildHeader (CQVString strLSTFilenamePath = %s)"),
               strLSTFilenamePath.GetString());
  theLog.LogDetail(QVT("strLSTFilenamePath %s "), strLSTFilenamePath.GetString());
  if (m_pLstIni != nullptr) {
    m_pLstIni->AddSection(kParameters);
    m_pLstIni->AddItem(kParameters, QVT("Newerfiles=1"));
  }
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}

DWORD CQVBackupEngine::LSTFile_BuildSelectedSection(CQVFileArray& qvfa, CQVString) {
  theLog.Enter(QVT("CQVBackupEngine::LSTFile_BuildSelectedSection"));
  if (m_pLstIni != nullptr) AddFileSection(*m_pLstIni, QVT("Selected"), qvfa, QVT("Selected=%d"));
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}

DWORD CQVBackupEngine::LSTFile_BuildIncludedSection(CQVString, CQVFileArray* pqvfa) {
  theLog.Enter(QVT("CQVBackupEngine::LSTFile_BuildIncludedSection"));
  if (m_pLstIni != nullptr && pqvfa != nullptr) AddFileSection(*m_pLstIni, QVT("Include"), *pqvfa, QVT("include=%d"));
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}

DWORD CQVBackupEngine::DebugShowAll(CQVFileArray& qvfa) {
  theLog.Enter(QVT("CQVBackupEngine::DebugShowAll"));
  for (DWORD entry : FindEveryEntry(qvfa)) {
    theLog.LogDetail(QVT("strName %s"), qvfa.GetPathName(entry).GetString());
  }
  return theLog.Returned(static_cast<DWORD>(0), QVT(""));
}
