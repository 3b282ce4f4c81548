#include "saved_files.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "archive_layout.h"
#include "qvbackup/host.h"

namespace qvtool {

namespace {

constexpr ULONGLONG kTicksPerSecond = 10000000;
constexpr long long kSecondsFrom1601To1970 = 11644473600LL;

ULONGLONG Ticks(const FILETIME& time) {
  return static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// Windows compares paths with a-z as A-Z; a file system that tells case
// apart holds "a.txt" and "A.txt" as two files, each with its versions.
WCHAR Folded(WCHAR c) { return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c; }

bool ByPath(const SavedFile& a, const SavedFile& b) {
  static const bool ignoreCase = QVFileNamesIgnoreCase() != FALSE;
  if (!ignoreCase) return a.path < b.path;
  return std::lexicographical_compare(a.path.begin(), a.path.end(), b.path.begin(), b.path.end(),
                                      [](WCHAR x, WCHAR y) { return Folded(x) < Folded(y); });
}

}  // namespace

bool ReadSavedFile(CQVBackupControl& control, DWORD entry, DWORD member, SavedFile* file) {
  CQVFileArray& index = control.GetIndex();
  file->kind = control.GetItemKind(entry);
  if (file->kind == QVBC_ITEM_NONE) return false;
  DWORD size = 0;
  const BYTE* userData = index.GetUserData(entry, &size);
  if (file->kind == QVBC_ITEM_FILE) {
    if (userData == nullptr || size < layout::userdata::kSize) return false;
    file->fileBytes = layout::Qword(userData, layout::userdata::kFileBytes);
    file->recordOffset = layout::Qword(userData, layout::userdata::kRecordOffset);
    file->lengthMayDiffer = layout::userdata::LengthMayDiffer(layout::Word(userData, layout::userdata::kFlags));
  }
  _tagQVFA_FILEINFO info;
  if (!index.GetFileInfo(entry, &info)) return false;
  file->member = member;
  file->entry = entry;
  file->path = static_cast<LPCWSTR>(index.GetPathName(entry));
  file->size = info.ullSize;
  const FILETIME lastWrite = info.ftLastWriteTime;
  file->lastWrite = Ticks(lastWrite);
  file->attributes = info.dwFileAttributes;
  return true;
}

std::vector<SavedFile> SavedFilesOf(CQVBackupControl& control, DWORD member) {
  std::vector<SavedFile> files;
  CQVFileArray& index = control.GetIndex();
  DWORD entry = 0;
  HANDLE search = index.FindFirstFileW(entry, nullptr);
  if (search == nullptr) return files;
  do {
    SavedFile file;
    if (ReadSavedFile(control, entry, member, &file)) files.push_back(std::move(file));
  } while (index.FindNextFileW(search, entry));
  index.FindClose(search);
  return files;
}

void MergeNewerVersions(std::vector<SavedFile>& view, std::vector<SavedFile> newer) {
  std::stable_sort(newer.begin(), newer.end(), ByPath);
  std::vector<SavedFile> merged;
  merged.reserve(view.size() + newer.size());
  auto older = view.begin();
  for (SavedFile& file : newer) {
    while (older != view.end() && ByPath(*older, file)) merged.push_back(std::move(*older++));
    if (older != view.end() && !ByPath(file, *older)) ++older;  // the same path: the newer one wins
    merged.push_back(std::move(file));
  }
  std::move(older, view.end(), std::back_inserter(merged));
  view = std::move(merged);
}

void SortByPath(std::vector<SavedFile>& files) { std::stable_sort(files.begin(), files.end(), ByPath); }

const SavedFile* FindInView(const std::vector<SavedFile>& view, const WString& path) {
  SavedFile probe;
  probe.path = path;
  auto found = std::lower_bound(view.begin(), view.end(), probe, ByPath);
  return found != view.end() && !ByPath(probe, *found) ? &*found : nullptr;
}

WString IsoTime(ULONGLONG ticks) {
  using namespace std::chrono;
  const long long unixSeconds = static_cast<long long>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
  const sys_seconds time{seconds(unixSeconds)};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss<seconds> clock{time - day};
  char text[40];
  std::snprintf(text, sizeof(text), "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return Widen(text);
}

}  // namespace qvtool
