#include "backup_options.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "remote_archive.h"
#include "report.h"

namespace qvtool {

namespace {

const char kUsage[] =
    "usage: qvbackup backup SOURCE... --to DIR --name NAME [OPTIONS]\n"
    "\n"
    "Saves the files of each SOURCE folder (and below), and each SOURCE file,\n"
    "into the archive NAME in the folder DIR: its first volume is DIR/NAME.QVA\n"
    "(DIR/NAME.1.QVA when split into volumes, DIR/NAME.exe when\n"
    "self-extracting). When DIR already holds an archive NAME, a backup\n"
    "without --incremental or --replace is refused (exit status 2).\n"
    "DIR may be rclone:REMOTE:PATH, a folder of one of your rclone remotes\n"
    "(SFTP, WebDAV, object stores...): the archive is written in a local work\n"
    "folder, split into volumes of 64M unless --volume-size says otherwise,\n"
    "and sent; until the whole of it is there the previous archive stands.\n"
    "rclone is found on the PATH, or given with --rclone PATH.\n"
    "\n"
    "What to save (folders only; a SOURCE file is saved as it is named):\n"
    "  --mask PATTERN         file names to take (* and ?, letter case ignored;\n"
    "                         default *); repeatable: a file is taken when any\n"
    "                         of them matches its name\n"
    "  --ext EXT              only files with this extension (repeatable)\n"
    "  --categories LIST      only files of these categories, comma-separated:\n"
    "                         pictures,music,video,offices,mail,financial\n"
    "                         (their extensions as GpExt.xml lists them; adds\n"
    "                         to --ext)\n"
    "  --exclude PATTERN      leave out what PATTERN matches, and all below a\n"
    "                         folder it matches (repeatable). PATTERN is a name\n"
    "                         matched anywhere below a SOURCE folder\n"
    "                         (node_modules, *.tmp), a path below a SOURCE\n"
    "                         folder (Photos/Summer*; / or \\ between names), or\n"
    "                         a full path (/home/ann/Downloads, E:\\Temp). * and\n"
    "                         ? work in every name; letter case counts where\n"
    "                         the file system's names do (not on Windows)\n"
    "  --exclude-dir PATTERN  the same, matching folders only (repeatable)\n"
    "  --exclude-file PATTERN the same, matching what is not a folder (repeatable)\n"
    "  --exclude-ext EXT      leave out files with this extension (repeatable)\n"
    "                         An exclusion that matched nothing is said on\n"
    "                         standard error, one line each; it is no failure\n"
    "  --dry-run              print what would be saved, one path per line, and\n"
    "                         the total on standard error (with --json:\n"
    "                         {\"files\": [...], \"count\", \"bytes\", \"skipped\"}); write\n"
    "                         nothing at all: no archive, no lock, no folder\n"
    "How to save:\n"
    "  --key-bits N           encryption key size: 128, 160 or 256 (32 and 64 only\n"
    "                         with --allow-weak-key: they can be found by trying)\n"
    "                         (default 256 when a password is given; a password\n"
    "                         is asked for when none is given)\n"
    "  --volume-size SIZE     split into volume files of SIZE bytes (K, M, G\n"
    "                         suffixes; at least 64K)\n"
    "  --block-size N         largest block in bytes, 1000 to 512M (default 256K)\n"
    "  --no-compress          store blocks without compressing them\n"
    "  --level LEVEL          how hard to compress: fast, default (as hard as\n"
    "                         each block pays back) or best (the smallest\n"
    "                         archive, several times slower)\n"
    "  --incremental          add the next increment to the archive NAME,\n"
    "                         holding only the files that are new or whose size\n"
    "                         or last write time changed since they were last\n"
    "                         saved in it (without an archive NAME: save all),\n"
    "                         and which of the others still exist: restoring\n"
    "                         it brings back the files there are now, no\n"
    "                         deleted one (qvbackup merge shortens the chain)\n"
    "  --replace              make a full backup in the place of the archive NAME\n"
    "                         already in DIR: once the new one is whole, the old\n"
    "                         one and all its increments are removed\n"
    "  --sfx                  make a self-extracting archive DIR/NAME.exe\n"
    "  --sfx-stub PATH        the self-extracting program to use (default: qvsfx.exe\n"
    "                         beside qvbackup)\n"
    "  --threads N            threads that compress and encrypt, 1 to 64\n"
    "                         (default: one per processor core; 1 keeps all\n"
    "                         the work on one thread). The archive is the same\n"
    "                         whatever the number\n"
    "Common: --json --quiet --drive L=ROOT[,DEVICE] --password-file F\n"
    "        --password-env VAR (see 'qvbackup --help')\n"
    "\n"
    "Prints the files saved, the bytes read, the archive's bytes, their ratio\n"
    "(archive bytes / bytes read), the time and the speed, and every file that\n"
    "could not be saved with the reason. With --json: one object with the keys\n"
    "files, bytes, archive_bytes, ratio, seconds, mb_per_s, skipped (a list of\n"
    "{path, reason}: files not saved, folders that could not be read), changed\n"
    "(files saved as read while they changed), archive (the first volume's\n"
    "path; null when nothing was written), increment, volumes, unchanged and\n"
    "removed (files of the name removed once the new archive was in place,\n"
    "[{path, reason}]). Exit status 1 when anything was skipped, else 4 when\n"
    "files changed while they were read.\n"
    "\n"
    "The new archive is written under temporary names and takes its place only\n"
    "when it is whole and synced: an archive of the same name stays as it was\n"
    "until then, whatever happens to the run. A run holds the archive's lock\n"
    "(NAME.qvlock) throughout. An increment follows the chain's last finished\n"
    "member, or takes the place of a last one whose run never ended; a chain\n"
    "with a missing member or another archive's is refused. Ctrl-C stops the\n"
    "backup and removes what was written of it. Exit status: 0 saved; 1\n"
    "failed, interrupted, nothing to save, or some files could not be saved\n"
    "(the archive keeps the others); 2 wrong usage, or an archive NAME is\n"
    "there and neither --incremental nor --replace was given; 3 another run is\n"
    "writing the archive (nothing was done).\n";

constexpr ULONGLONG kSmallestVolume = 64 * 1024;
constexpr std::array<DWORD, 5> kKeySizes = {32, 64, 128, 160, 256};
constexpr ULONGLONG kLeastStrongKeyBits = 128;

// The command-line names of the categories and their groups in GpExt.xml.
struct CategoryName {
  const char* option;
  const char* group;
};
constexpr std::array<CategoryName, 6> kCategoryNames = {{
    {"pictures", "Pictures"},
    {"music", "Music"},
    {"video", "Video"},
    {"offices", "Offices"},
    {"mail", "Mail"},
    {"financial", "Financial"},
}};

WCHAR LowerAscii(WCHAR c) { return c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c + 32) : c; }

WString Lowered(WString text) {
  for (WCHAR& c : text) c = LowerAscii(c);
  return text;
}

// An archive name is a file stem: it may hold no folder, no character a
// Windows file name refuses, and no dot (dots separate the increment and
// volume parts of the volume names).
bool IsArchiveName(const WString& name) {
  if (name.empty() || name.size() > 200) return false;
  for (WCHAR c : name) {
    if (c < 0x20 || std::strchr("\\/:*?\"<>|.", c < 0x80 ? static_cast<char>(c) : 'a') != nullptr) return false;
  }
  return true;
}

// An extension as the user may type it (".jpg" or "jpg"), without its dot.
bool ReadExtension(const WString& text, WString* extension) {
  WString bare = !text.empty() && text[0] == '.' ? text.substr(1) : text;
  if (bare.empty()) return false;
  for (WCHAR c : bare) {
    if (c == '\\' || c == '/' || c == '.' || c == ';') return false;
  }
  *extension = bare;
  return true;
}

bool ReadExtensions(const std::vector<WString>& given, std::vector<WString>* out, WString* error) {
  for (const WString& text : given) {
    WString extension;
    if (!ReadExtension(text, &extension)) {
      *error = Widen("not an extension: '") + text + Widen("'");
      return false;
    }
    out->push_back(extension);
  }
  return true;
}

bool ReadCategories(const WString& list, std::vector<WString>* groups, WString* error) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == WString::npos) comma = list.size();
    const WString word = Lowered(list.substr(start, comma - start));
    const CategoryName* found = nullptr;
    for (const CategoryName& category : kCategoryNames) {
      if (word == Widen(category.option)) found = &category;
    }
    if (found == nullptr) {
      *error = Widen("unknown category '") + list.substr(start, comma - start) +
               Widen("' (pictures, music, video, offices, mail, financial)");
      return false;
    }
    groups->push_back(Widen(found->group));
    start = comma + 1;
  }
  return true;
}

// Each path as a drive path; false with the path no drive holds and why.
bool ReadPaths(const std::vector<WString>& given, std::vector<WString>* out, WString* unheld, DWORD* error) {
  for (const WString& path : given) {
    WString drivePath = DrivePathOf(path);
    if (drivePath.empty()) {
      *error = GetLastError();
      *unheld = path;
      return false;
    }
    out->push_back(drivePath);
  }
  return true;
}

// The sizes and counts; false with the reason.
bool ReadNumbers(const ParsedOptions& parsed, BackupSettings* settings, WString* error) {
  if (parsed.Has("key-bits")) {
    ULONGLONG bits = 0;
    bool known = ParseNumber(parsed.Value("key-bits"), 1, 256, &bits);
    if (known) known = std::find(kKeySizes.begin(), kKeySizes.end(), bits) != kKeySizes.end();
    if (!known) {
      *error = Widen("--key-bits takes 32, 64, 128, 160 or 256, not '") + parsed.Value("key-bits") + Widen("'");
      return false;
    }
    // 32 and 64 bits are found by a search within reach of anyone: only on
    // request, to read or match archives made with them.
    if (bits < kLeastStrongKeyBits && !parsed.Has("allow-weak-key")) {
      *error = Widen("--key-bits ") + parsed.Value("key-bits") +
               Widen(" gives a key that can be found by trying them all; use 128 or more, or add --allow-weak-key");
      return false;
    }
    settings->keyBits = static_cast<DWORD>(bits);
    settings->keyBitsGiven = true;
  }
  if (parsed.Has("volume-size")) {
    if (!ParseSize(parsed.Value("volume-size"), &settings->volumeSize) || settings->volumeSize < kSmallestVolume) {
      *error = Widen("--volume-size takes a size of at least 64K, not '") + parsed.Value("volume-size") + Widen("'");
      return false;
    }
    settings->volumeSizeGiven = true;
  }
  if (parsed.Has("block-size")) {
    ULONGLONG size = 0;
    if (!ParseSize(parsed.Value("block-size"), &size) || size < QVS_MIN_BLOCK_SIZE || size > QVS_MAX_BLOCK_SIZE) {
      *error = Widen("--block-size takes 1000 to 512M bytes, not '") + parsed.Value("block-size") + Widen("'");
      return false;
    }
    settings->blockSize = static_cast<DWORD>(size);
  }
  return ReadThreadCount(parsed, &settings->threads, error);
}

// The file-name masks. The engine reads ';' in a mask as between two, as
// it always has; the masks given are joined that way.
bool ReadMasks(const ParsedOptions& parsed, BackupSettings* settings, WString* error) {
  settings->masks = parsed.Has("mask") ? parsed.Values("mask") : std::vector<WString>{Widen("*")};
  for (const WString& mask : settings->masks) {
    if (mask.empty()) {
      *error = Widen("--mask needs a pattern");
      return false;
    }
  }
  return true;
}

bool ReadExclusions(const ParsedOptions& parsed, BackupSettings* settings, WString* error) {
  const std::array<std::pair<const char*, ExcludedItems>, 3> kinds = {{
      {"exclude", ExcludedItems::kAny},
      {"exclude-dir", ExcludedItems::kFolders},
      {"exclude-file", ExcludedItems::kFiles},
  }};
  for (const auto& [option, items] : kinds) {
    for (const WString& typed : parsed.Values(option)) {
      ExclusionPattern pattern;
      if (!ReadExclusionPattern(Widen("--") + Widen(option), typed, items, &pattern, error)) return false;
      settings->exclusions.push_back(pattern);
    }
  }
  return true;
}

// What to save and what to leave out; false with the reason.
bool ReadSelection(const ParsedOptions& parsed, BackupSettings* settings, WString* error) {
  if (!ReadMasks(parsed, settings, error)) return false;
  if (!ReadExtensions(parsed.Values("ext"), &settings->extensions, error)) return false;
  if (!ReadExtensions(parsed.Values("exclude-ext"), &settings->excludedExtensions, error)) return false;
  if (parsed.Has("categories") && !ReadCategories(parsed.Value("categories"), &settings->categories, error)) {
    return false;
  }
  return ReadExclusions(parsed, settings, error);
}

// How to save; false with the reason.
bool ReadArchiveForm(const ParsedOptions& parsed, BackupSettings* settings, WString* error) {
  settings->targetFolder = parsed.Value("to");
  settings->name = parsed.Value("name");
  if (!parsed.Has("to") || settings->targetFolder.empty()) {
    *error = Widen("--to DIR is needed: the folder of the archive");
    return false;
  }
  if (!parsed.Has("name") || !IsArchiveName(settings->name)) {
    *error = parsed.Has("name") ? Widen("--name takes a file stem without dots or folders, not '") +
                                      settings->name + Widen("'")
                                : Widen("--name NAME is needed: the name of the archive");
    return false;
  }
  settings->compress = !parsed.Has("no-compress");
  if (parsed.Has("level")) {
    const WString level = parsed.Value("level");
    if (level == Widen("fast")) {
      settings->effort = QVS_EFFORT_FAST;
    } else if (level == Widen("best")) {
      settings->effort = QVS_EFFORT_BEST;
    } else if (level != Widen("default")) {
      *error = Widen("--level takes fast, default or best, not '") + level + Widen("'");
      return false;
    }
    if (!settings->compress) {
      *error = Widen("--level sets how hard to compress: it does not go with --no-compress");
      return false;
    }
  }
  settings->incremental = parsed.Has("incremental");
  settings->replace = parsed.Has("replace");
  settings->dryRun = parsed.Has("dry-run");
  if (settings->incremental && settings->replace) {
    *error = Widen("--incremental adds to the archive, --replace takes its place: give one of them");
    return false;
  }
  settings->selfExtracting = parsed.Has("sfx");
  if (parsed.Has("sfx-stub") && !settings->selfExtracting) {
    *error = Widen("--sfx-stub goes with --sfx");
    return false;
  }
  if (settings->selfExtracting && settings->incremental) {
    *error = Widen("--sfx and --incremental do not go together: increments are not self-extracting");
    return false;
  }
  return ReadNumbers(parsed, settings, error);
}

}  // namespace

const char* BackupUsage() { return kUsage; }

int ReadBackupSettings(const std::vector<WString>& arguments, ParsedOptions* parsed, BackupSettings* settings) {
  WString error;
  if (!ParseOptions(arguments,
                    {{"to", true, false},
                     {"name", true, false},
                     {"key-bits", true, false},
                     {"allow-weak-key", false, false},
                     {"volume-size", true, false},
                     {"block-size", true, false},
                     {"no-compress", false, false},
                     {"level", true, false},
                     {"mask", true, true},
                     {"ext", true, true},
                     {"categories", true, false},
                     {"exclude", true, true},
                     {"exclude-dir", true, true},
                     {"exclude-file", true, true},
                     {"exclude-ext", true, true},
                     {"incremental", false, false},
                     {"replace", false, false},
                     {"dry-run", false, false},
                     {"sfx", false, false},
                     {"sfx-stub", true, false},
                     {"threads", true, false}},
                    parsed, &error)) {
    return UsageError("backup", error);
  }
  if (parsed->Has("help")) return ShowUsage(kUsage);
  if (!ApplyDriveOptions(*parsed, &error)) return UsageError("backup", error);
  if (parsed->positionals.empty()) return UsageError("backup", Widen("no SOURCE to save"));
  settings->sources = parsed->positionals;
  settings->json = parsed->Has("json");
  settings->quiet = parsed->Has("quiet");
  if (!ReadArchiveForm(*parsed, settings, &error) || !ReadSelection(*parsed, settings, &error)) {
    return UsageError("backup", error);
  }
  WString unheld;
  DWORD failure = ERROR_SUCCESS;
  std::vector<WString> folder;
  std::vector<WString> stub;
  const bool remote = IsRemoteForm(settings->targetFolder, &settings->remoteFolder);
  if ((!remote && !ReadPaths({settings->targetFolder}, &folder, &unheld, &failure)) ||
      (parsed->Has("sfx-stub") && !ReadPaths({parsed->Value("sfx-stub")}, &stub, &unheld, &failure))) {
    return Fail(Widen("backup: no drive holds '") + unheld + Widen("'"), failure);
  }
  if (!remote) settings->targetDrivePath = folder[0];
  if (!stub.empty()) settings->sfxStub = stub[0];
  return -1;
}

}  // namespace qvtool
