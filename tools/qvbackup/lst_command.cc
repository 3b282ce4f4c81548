// qvbackup lst: writes the list file of a profile-driven backup: the files
// of the chosen categories on the chosen partitions, less the exclusions.
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "commands.h"
#include "json_answer.h"
#include "host_paths.h"
#include "iso_time.h"
#include "options.h"
#include "profile_options.h"
#include "qvbackup/qvbackupengine.h"
#include "report.h"
#include "tool_callback.h"

namespace qvtool {

namespace {

const char kUsage[] =
    "usage: qvbackup lst FILE --partitions LETTERS (--categories LIST | --others) [OPTIONS]\n"
    "\n"
    "Writes the list file FILE (UTF-16 text, sections Parameters, Selected and\n"
    "Include) naming the files a profile-driven backup of the partitions saves.\n"
    "\n"
    "  --partitions LETTERS   the drives to scan (such as CE)\n"
    "  --categories LIST      pictures,music,video,offices,mail,financial (any of them)\n"
    "  --others               every file that is not excluded goes in Include\n"
    "  --since DATE           only files created or written at DATE or later:\n"
    "                         2024-05-01 or 2024-05-01T12:30[:00][Z|+02:00], UTC unless told\n"
    "  --exclude-dir DIR      leave out DIR and all below it (repeatable)\n"
    "  --exclude-file FILE    leave out the file at this path (repeatable)\n"
    "  --exclude-ext EXT      leave out the files with this extension (repeatable)\n"
    "  --groups DIR           read GpExt.xml from DIR instead of the program's folder\n"
    "  --json                 {\"file\", \"selected\", \"include\"}, read back from FILE\n"
    "  --drive L=ROOT[,DEVICE]  map a drive letter to a folder (and a raw device or image)\n";

// Switches on the categories of a comma-separated list. False with the
// reason for a word that names none.
bool ReadCategories(const WString& list, QV_ARCHIVE_PROFILE_BACKUP* profile, WString* why) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == WString::npos) end = list.size();
    WString word = list.substr(start, end - start);
    for (WCHAR& c : word) c = c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c - 'A' + 'a') : c;
    bool known = false;
    for (const CategoryInfo& category : kCategoryTable) {
      if (word == Widen(category.option)) {
        profile->*category.checked = TRUE;
        known = true;
      }
    }
    if (!known) {
      *why = Widen("unknown category '") + word + Widen("' (pictures,music,video,offices,mail,financial)");
      return false;
    }
    start = end + 1;
  }
  return true;
}

// Fills `profile` from the options. A non-zero result is the exit status.
int ReadProfile(const ParsedOptions& options, QV_ARCHIVE_PROFILE_BACKUP* profile) {
  WString why;
  ClearProfile(profile);
  if (!options.Has("partitions")) return UsageError("lst", Widen("--partitions is required"));
  WString letters;
  if (!ParsePartitions(options.Value("partitions"), &letters, &why)) return UsageError("lst", why);
  if (!options.Has("categories") && !options.Has("others")) {
    return UsageError("lst", Widen("choose --categories, --others or both"));
  }
  if (options.Has("categories") && !ReadCategories(options.Value("categories"), profile, &why)) {
    return UsageError("lst", why);
  }
  profile->bOthers = options.Has("others") ? TRUE : FALSE;
  if (options.Has("since")) {
    if (!ParseIsoTime(options.Value("since"), &profile->ftReferenceTime)) {
      return UsageError("lst", Widen("--since takes an ISO 8601 date or date and time, not '") +
                                   options.Value("since") + Widen("'"));
    }
    profile->bReferenceTimeFilter = TRUE;
  }
  for (WCHAR letter : letters) {
    const WString root = WString(1, letter) + Widen(":\\");
    if (DWORD problem = FolderProblem(root)) return Fail(root, problem);
  }
  profile->strPartitionsToScan = CQVString(letters.c_str());
  return 0;
}

struct ListCounts {
  ULONGLONG selected = 0;
  ULONGLONG include = 0;
};

// The text of a UTF-16LE file that starts with its byte order mark.
bool ReadUtf16File(const std::filesystem::path& path, WString* text) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.size() < 2 || bytes.size() % 2 != 0 || bytes[0] != '\xFF' || bytes[1] != '\xFE') return false;
  text->clear();
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text->push_back(static_cast<WCHAR>(static_cast<unsigned char>(bytes[i]) |
                                       (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return true;
}

// The counts "Selected=N" and "include=N" of the section [Parameters].
bool ReadCounts(const WString& text, ListCounts* counts) {
  bool inParameters = false;
  bool sawSelected = false;
  bool sawInclude = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == WString::npos) end = text.size();
    WString line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inParameters = line == Widen("[Parameters]");
      continue;
    }
    if (!inParameters) continue;
    const std::size_t equals = line.find('=');
    if (equals == WString::npos) continue;
    const WString key = line.substr(0, equals);
    ULONGLONG value = 0;
    if (!ParseNumber(line.substr(equals + 1), 0, ~0ULL, &value)) continue;
    if (key == Widen("Selected")) {
      counts->selected = value;
      sawSelected = true;
    } else if (key == Widen("include")) {
      counts->include = value;
      sawInclude = true;
    }
  }
  return sawSelected && sawInclude;
}

}  // namespace

int RunLst(const std::vector<WString>& arguments) {
  ParsedOptions options;
  WString why;
  if (!ParseOptions(arguments,
                    {{"partitions", true, false},
                     {"categories", true, false},
                     {"others", false, false},
                     {"since", true, false},
                     {"exclude-dir", true, true},
                     {"exclude-file", true, true},
                     {"exclude-ext", true, true},
                     {"groups", true, false}},
                    &options, &why)) {
    return UsageError("lst", why);
  }
  if (options.Has("help")) return ShowUsage(kUsage);
  if (options.positionals.size() != 1) return UsageError("lst", Widen("give the list file to write"));
  if (!ApplyDriveOptions(options, &why)) return UsageError("lst", why);
  const WString& typed = options.positionals[0];
  // The file is written through its drive path and read back through its
  // native one: both name the same file only when the typed path is native.
  const WString listPath = DrivePathOf(typed);
  if (listPath.empty()) return FailBecause(Widen("lst"), Widen("no drive holds '") + typed + Widen("'"));
  const WString folder = listPath.substr(0, listPath.rfind('\\') + 1);
  if (DWORD problem = FolderProblem(folder)) return Fail(folder, problem);
  if (listPath.size() == folder.size()) return UsageError("lst", Widen("'") + typed + Widen("' names no file"));
  if (FolderProblem(listPath) == 0) return Fail(listPath, ERROR_DIRECTORY);

  QV_ARCHIVE_PROFILE_BACKUP profile;
  if (int status = ReadProfile(options, &profile)) return status;
  ToolCallback callback;
  CQVBackupEngine engine(&callback);
  if (int status = ApplyExclusions("lst", options, false, &engine)) return status;
  std::error_code ignored;
  const std::filesystem::path nativeList = std::filesystem::absolute(NativePath(typed), ignored);
  {
    GroupsFolder groups;
    if (!groups.Enter(options, &why)) return FailBecause(Widen("lst"), why);
    // GpExt.xml is read from the current folder and the list file is
    // written to this base folder followed by the name: an empty base and
    // the full path put each where it belongs.
    engine.m_strEnvironementPath = CQVString();
    engine.BuildLSTFile(listPath.c_str(), profile);
  }
  WString text;
  ListCounts counts;
  if (!ReadUtf16File(nativeList, &text) || !ReadCounts(text, &counts)) {
    return FailBecause(listPath, Widen("the list file was not written"));
  }
  if (options.Has("json")) {
    AnswerWith(JsonObject().Add("file", listPath).Add("selected", counts.selected).Add("include", counts.include));
  } else {
    WriteOut(Widen("Wrote ") + listPath + Widen(": ") + Counted(counts.selected, "file") + Widen(" selected, ") +
             Number(counts.include) + Widen(" included\n"));
  }
  return kExitSuccess;
}

}  // namespace qvtool
