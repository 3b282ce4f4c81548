// Helpers for the profile-driven tests: profiles with chosen categories,
// extension-group files written where an engine looks for them, and the
// engine pointed at them.
#ifndef QVBACKUP_TESTS_ENGINE_ENGINE_PROFILE_TEST_UTIL_H_
#define QVBACKUP_TESTS_ENGINE_ENGINE_PROFILE_TEST_UTIL_H_

#include <cstring>
#include <fstream>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "platform/preinstall_env.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtest {

// A profile with the categories numbered in `checked` (1 Pictures .. 6
// Financial) switched on, Others and the age filter off, and no partition.
inline QV_ARCHIVE_PROFILE_BACKUP ProfileWith(std::initializer_list<int> checked) {
  QV_ARCHIVE_PROFILE_BACKUP profile;
  BOOL* flags[] = {&profile.bPictures, &profile.bMusic, &profile.bVideo,
                   &profile.bOffices,  &profile.bMail,  &profile.bFinancial};
  for (BOOL* flag : flags) *flag = FALSE;
  for (int number : checked) *flags[number - 1] = TRUE;
  profile.bOthers = FALSE;
  profile.bReferenceTimeFilter = FALSE;
  profile.ftReferenceTime = FILETIME{0, 0};
  return profile;
}

// One group of an extension-group file.
struct Group {
  std::string name;  // written as the "name" attribute; "" writes none
  std::vector<std::string> extensions;
};

// The text of an extension-group file holding `groups` in order.
inline std::string GroupFileText(const std::vector<Group>& groups) {
  std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<gpext>\n";
  for (const Group& group : groups) {
    text += group.name.empty() ? "  <groupe>\n" : "  <groupe name=\"" + group.name + "\">\n";
    for (const std::string& extension : group.extensions) text += "    <extension>" + extension + "</extension>\n";
    text += "  </groupe>\n";
  }
  return text + "</gpext>\n";
}

// Writes "GpExt.xml" with `text` into `folder` and makes `engine` read its
// groups from there.
inline void UseGroupFile(CQVBackupEngine& engine, const TempDir& folder, const std::string& text) {
  std::ofstream(folder.path() / "GpExt.xml", std::ios::binary) << text;
  engine.m_strEnvironementPath = (folder.DrivePath() + W("\\")).c_str();
}

// The live entries of `index` below the folder `root` (no trailing '\'),
// as paths relative to it, files and folders apart, as the index's own
// flat search reports them.
struct LiveEntries {
  std::set<std::string> files, folders;
};

inline LiveEntries LiveBelow(CQVFileArray& index, const WString& root) {
  LiveEntries live;
  QV_FINDFILTER filter;
  std::memset(&filter, 0, sizeof(filter));
  DWORD entry = 0;
  HANDLE search = index.FindFirstFileW(entry, &filter);
  if (search == nullptr || search == INVALID_HANDLE_VALUE) return live;
  const std::string prefix = U8(root) + "\\";
  do {
    const std::string path = U8(index.GetPathName(entry).GetString());
    if (index.IsDeleted(entry) || path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) continue;
    (index.IsDirectory(entry) ? live.folders : live.files).insert(path.substr(prefix.size()));
  } while (index.FindNextFileW(search, entry));
  index.FindClose(search);
  return live;
}


inline FILETIME FileTimeOf(ULONGLONG ticks) {
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// Enters the full path `path`, whose folders `index` already holds, with
// the attributes and the creation and last-write times (UTC ticks) given,
// as a volume reader does. The entry's index, 0 on failure.
inline DWORD EnterWithTimes(CQVFileArray& index, const WString& path, DWORD attributes, ULONGLONG created,
                            ULONGLONG written) {
  QVFA_FILEINFO info;
  std::memset(&info, 0, sizeof(info));
  if (path.size() >= MAX_PATH) return 0;
  info.dwFileAttributes = attributes;
  info.ftCreationTime = FileTimeOf(created);
  info.ftLastWriteTime = info.ftLastAccessTime = info.ftChangeTime = FileTimeOf(written);
  std::memcpy(info.szName, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  return index.Add(nullptr, &info);
}

// Makes the engine believe it runs (or not) in the pre-installation
// environment for the scope.
class PreinstallationEnvironment {
 public:
  explicit PreinstallationEnvironment(bool answer) {
    qv::platform::OverridePreinstallationEnvironmentForTesting(answer);
  }
  ~PreinstallationEnvironment() { qv::platform::OverridePreinstallationEnvironmentForTesting(std::nullopt); }
  PreinstallationEnvironment(const PreinstallationEnvironment&) = delete;
  PreinstallationEnvironment& operator=(const PreinstallationEnvironment&) = delete;
};

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_ENGINE_ENGINE_PROFILE_TEST_UTIL_H_
