#include "profile_options.h"

#include <fstream>
#include <system_error>

#include "host_paths.h"
#include "qvbackup/qvfilearray.h"
#include "report.h"

namespace qvtool {

const std::array<CategoryInfo, 6> kCategoryTable = {{
    {1, "Pictures", "pictures", &QV_ARCHIVE_PROFILE_BACKUP::bPictures},
    {2, "Music", "music", &QV_ARCHIVE_PROFILE_BACKUP::bMusic},
    {3, "Video", "video", &QV_ARCHIVE_PROFILE_BACKUP::bVideo},
    {4, "Offices", "offices", &QV_ARCHIVE_PROFILE_BACKUP::bOffices},
    {5, "Mail", "mail", &QV_ARCHIVE_PROFILE_BACKUP::bMail},
    {6, "Financial", "financial", &QV_ARCHIVE_PROFILE_BACKUP::bFinancial},
}};

namespace {

constexpr char kGroupFile[] = "GpExt.xml";

bool IsLetter(WCHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
WCHAR Upper(WCHAR c) { return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c; }

bool IsDrivePath(const WString& path) {
  return path.size() >= 2 && IsLetter(path[0]) && path[1] == ':' &&
         (path.size() == 2 || path[2] == '\\' || path[2] == '/');
}

// A native path for a message (on POSIX its bytes as they are, UTF-8 or not).
WString Shown(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return Widen(std::string(text.begin(), text.end()));
}

bool HasSeparator(const WString& text) { return text.find_first_of(Widen("/\\")) != WString::npos; }

// Adds each value of the repeatable option `name` to `list`, through
// `convert`, which returns 0 or the exit status of a value it refuses.
template <typename Convert>
int AddAll(const ParsedOptions& options, const char* name, CQVStringArray* list, Convert convert) {
  for (const WString& value : options.Values(name)) {
    WString converted;
    if (int status = convert(value, &converted)) return status;
    list->Add(CQVString(converted.c_str()));
  }
  return 0;
}

}  // namespace

void ClearProfile(QV_ARCHIVE_PROFILE_BACKUP* profile) {
  for (const CategoryInfo& category : kCategoryTable) profile->*category.checked = FALSE;
  profile->bOthers = FALSE;
  profile->bReferenceTimeFilter = FALSE;
  profile->ftReferenceTime = FILETIME{0, 0};
}

bool ParsePartitions(const WString& text, WString* letters, WString* why) {
  letters->clear();
  for (WCHAR c : text) {
    if (c == ',' || c == ':') continue;
    if (!IsLetter(c)) {
      *why = Widen("--partitions takes drive letters (such as CE), not '") + text + Widen("'");
      return false;
    }
    if (letters->find(Upper(c)) == WString::npos) letters->push_back(Upper(c));
  }
  if (letters->empty()) *why = Widen("--partitions needs at least one drive letter");
  return !letters->empty();
}

bool ToDrivePath(const WString& typed, WString* drivePath, WString* why) {
  if (IsDrivePath(typed)) {
    *drivePath = typed.substr(0, 2) + Widen("\\") + (typed.size() > 3 ? typed.substr(3) : WString());
    (*drivePath)[0] = Upper((*drivePath)[0]);
    for (WCHAR& c : *drivePath) c = c == '/' ? '\\' : c;
    return true;
  }
  *drivePath = DrivePathOf(typed);
  if (drivePath->empty()) *why = Widen("no drive holds '") + typed + Widen("'");
  return !drivePath->empty();
}

DWORD FolderProblem(const WString& path) {
  CQVFileArray index;
  const DWORD entry = index.Add(path.c_str());
  if (entry == 0) {
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_PATH_NOT_FOUND;
  }
  return index.IsDirectory(entry) ? 0 : ERROR_DIRECTORY;
}

int ApplyExclusions(const char* command, const ParsedOptions& options, bool namesAllowed,
                    CQVBackupEngine* engine) {
  CQVStringArray folders(8);
  CQVStringArray files(8);
  CQVStringArray extensions(8);
  auto path = [command](const WString& typed, WString* out) {
    WString why;
    return ToDrivePath(typed, out, &why) ? 0 : FailBecause(Widen(command), why);
  };
  auto file = [command, namesAllowed, &path](const WString& typed, WString* out) {
    if (HasSeparator(typed) || IsDrivePath(typed)) return path(typed, out);
    if (!namesAllowed || typed.empty()) {
      return UsageError(command, Widen("--exclude-file needs a path here, not '") + typed + Widen("'"));
    }
    *out = typed;
    return 0;
  };
  auto extension = [command](const WString& typed, WString* out) {
    *out = !typed.empty() && typed[0] == '.' ? typed.substr(1) : typed;
    if (!out->empty() && !HasSeparator(*out)) return 0;
    return UsageError(command, Widen("bad --exclude-ext '") + typed + Widen("'"));
  };
  if (int status = AddAll(options, "exclude-dir", &folders, path)) return status;
  if (int status = AddAll(options, "exclude-file", &files, file)) return status;
  if (int status = AddAll(options, "exclude-ext", &extensions, extension)) return status;
  // The list file applies folder exclusions to any path at or below them, a
  // file's included: excluded file paths go there too, where they act.
  if (!namesAllowed) {
    for (DWORD i = 0; i < files.GetSize(); ++i) folders.Add(files.GetAt(i));
  }
  engine->SetFoldersExcludedList(folders);
  engine->SetFilesExcludedList(files);
  engine->SetExtensionsExcludedList(extensions);
  return 0;
}

GroupsFolder::~GroupsFolder() {
  if (previous_.empty()) return;
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

bool GroupsFolder::Enter(const ParsedOptions& options, WString* why) {
  const std::filesystem::path folder = options.Has("groups") ? NativePath(options.Value("groups")) : ProgramFolder();
  if (folder.empty()) {
    *why = Widen("cannot tell the folder of the program, where GpExt.xml lies");
    return false;
  }
  if (!std::ifstream(folder / kGroupFile)) {
    *why = Widen("cannot read ") + Shown(folder / kGroupFile);
    return false;
  }
  std::error_code error;
  std::filesystem::path previous = std::filesystem::current_path(error);
  if (!error) std::filesystem::current_path(folder, error);
  if (error) {
    *why = Widen("cannot enter ") + Shown(folder) + Widen(": ") + Widen(error.message());
    return false;
  }
  previous_ = previous;
  return true;
}

}  // namespace qvtool
