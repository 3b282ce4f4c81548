#include "backup_selection.h"

#include <utility>

#include "backup_volumes.h"
#include "exclusion_patterns.h"
#include "report.h"

namespace qvtool {

namespace {

const WCHAR kFilterName[] = QVT("qvbackup");

CQVStringArray ArrayOf(const std::vector<WString>& texts) {
  CQVStringArray array(static_cast<DWORD>(texts.size()));
  for (const WString& text : texts) array.Add(CQVString(text.c_str()));
  return array;
}

// The extensions of every category asked for, as the extension groups
// list them. A group that lists none means the groups file is missing or
// damaged: saving nothing for it would look like success.
bool CategoryExtensions(CQVBackupEngine& engine, const std::vector<WString>& groups,
                        std::vector<WString>* extensions, WString* error) {
  for (const WString& group : groups) {
    CQVStringArray found(16);
    QV_ARCHIVE_PROFILE_BACKUP profile;
    engine.GroupExt_EnumerateExtensionsInGroup(group.c_str(), found, profile);
    if (found.GetSize() == 0) {
      *error = Widen("no extensions for the category ") + group + Widen(" in ") +
               WString(engine.m_strEnvironementPath.GetString()) + Widen("GpExt.xml");
      return false;
    }
    for (DWORD i = 0; i < found.GetSize(); ++i) extensions->push_back(found.GetAt(i).GetString());
  }
  return true;
}

// The engine leaves out the excluded extensions; folders and files are
// the tool's patterns, applied to the list it makes.
void SetExclusions(CQVBackupEngine& engine, const BackupSettings& settings) {
  CQVStringArray folders(0);
  CQVStringArray files(0);
  CQVStringArray extensions = ArrayOf(settings.excludedExtensions);
  engine.SetFoldersExcludedList(folders);
  engine.SetFilesExcludedList(files);
  engine.SetExtensionsExcludedList(extensions);
}

WCHAR LowerAscii(WCHAR c) { return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c + 32) : c; }

bool SameFolder(const WString& a, const WString& b) {
  WString left = a;
  WString right = b;
  while (left.size() > 3 && left.back() == '\\') left.pop_back();
  while (right.size() > 3 && right.back() == '\\') right.pop_back();
  if (left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (LowerAscii(left[i]) != LowerAscii(right[i])) return false;
  }
  return true;
}

// A backup into a folder it saves must not read the volumes it is
// rewriting, nor the files the library keeps beside them.
void DropOwnVolumes(CQVBackupEngine& engine, const BackupSettings& settings) {
  for (auto it = engine.m_setFileToBackup.begin(); it != engine.m_setFileToBackup.end();) {
    const WString path = it->GetString();
    const std::size_t slash = path.rfind('\\');
    const bool own = slash != WString::npos && SameFolder(path.substr(0, slash + 1), settings.targetDrivePath) &&
                     IsArchiveFile(path.substr(slash + 1), settings.name);
    it = own ? engine.m_setFileToBackup.erase(it) : std::next(it);
  }
}

// The masks as one file mask of the engine's filters, which reads ';'
// between masks.
WString JoinedMasks(const std::vector<WString>& masks) {
  WString joined;
  for (const WString& mask : masks) joined += (joined.empty() ? WString() : Widen(";")) + mask;
  return joined;
}

bool IsFolderOnDisk(const WString& drivePath) {
  CQVFileArray probe;
  const DWORD entry = probe.Add(drivePath.c_str());
  return entry != 0 && probe.IsDirectory(entry) != 0;
}

// Takes out of the list what the exclusions match, and the folders that
// could not be read below an excluded one (nothing of them was wanted);
// then says which exclusions matched nothing.
void ApplyExclusions(CQVBackupEngine& engine, const BackupSettings& settings, const std::vector<SourcePath>& sources,
                     std::vector<std::pair<DWORD, WString>>* unreadFolders) {
  std::vector<WString> folders;
  for (const SourcePath& source : sources) {
    if (source.folder) folders.push_back(source.drivePath);
  }
  ExclusionMatcher matcher(settings.exclusions, folders, IsFolderOnDisk);
  if (matcher.empty()) return;
  for (auto it = engine.m_setFileToBackup.begin(); it != engine.m_setFileToBackup.end();) {
    it = matcher.Excludes(it->GetString()) ? engine.m_setFileToBackup.erase(it) : std::next(it);
  }
  if (unreadFolders != nullptr) {
    std::vector<std::pair<DWORD, WString>> kept;
    for (auto& folder : *unreadFolders) {
      if (!matcher.ExcludesFolder(folder.second)) kept.push_back(std::move(folder));
    }
    *unreadFolders = std::move(kept);
  }
  for (const WString& line : matcher.Unmatched()) WriteError(Widen("qvbackup: backup: ") + line + Widen("\n"));
}

}  // namespace

int ReadSources(const std::vector<WString>& typed, std::vector<SourcePath>* sources) {
  for (const WString& path : typed) {
    SourcePath source;
    source.typed = path;
    source.drivePath = DrivePathOf(path);
    if (source.drivePath.empty()) {
      const DWORD error = GetLastError();
      return Fail(Widen("backup: no drive holds '") + path + Widen("'"), error);
    }
    // The index reads the path from the file system: a missing source
    // fails here with the system's reason.
    CQVFileArray probe;
    DWORD entry = probe.Add(source.drivePath.c_str());
    if (entry == 0) {
      const DWORD error = GetLastError();
      return Fail(Widen("backup: ") + path, error);
    }
    source.folder = probe.IsDirectory(entry) != 0;
    sources->push_back(source);
  }
  return -1;
}

bool BuildFileList(CQVBackupEngine& engine, const BackupSettings& settings, const std::vector<SourcePath>& sources,
                   std::vector<std::pair<DWORD, WString>>* unreadFolders, WString* error) {
  std::vector<WString> extensions = settings.extensions;
  if (!CategoryExtensions(engine, settings.categories, &extensions, error)) return false;
  if (extensions.empty()) extensions.emplace_back();  // any extension
  SetExclusions(engine, settings);
  const WString mask = JoinedMasks(settings.masks);
  for (const SourcePath& source : sources) {
    if (!source.folder) continue;
    for (const WString& extension : extensions) {
      engine.CreateFilters(kFilterName, CQVString(source.drivePath.c_str()), extension.c_str(), QVFF_RECURSE,
                           mask.c_str());
    }
  }
  engine.MakeFileList();
  ApplyExclusions(engine, settings, sources, unreadFolders);
  for (const SourcePath& source : sources) {
    if (!source.folder) engine.InsertElement(source.drivePath.c_str());
  }
  DropOwnVolumes(engine, settings);
  RecountFileList(engine);
  return true;
}

void RecountFileList(CQVBackupEngine& engine) {
  engine.m_i64SizeOfBackup = 0;
  engine.SizeOfBackup();
  engine.m_qvbc.SetTotalBytes(static_cast<ULONGLONG>(engine.m_i64SizeOfBackup));
}

}  // namespace qvtool
