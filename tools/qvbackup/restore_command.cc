// qvbackup restore: an archive's files recreated below a folder, each file
// of a chain in its newest saved version.
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "archive_command.h"
#include "archive_salvage.h"
#include "commands.h"
#include "json_answer.h"
#include "host_paths.h"
#include "path_patterns.h"
#include "progress.h"
#include "restore_run.h"
#include "restore_space.h"
#include "report.h"
#include "saved_files.h"

namespace qvtool {

namespace {

const char kUsage[] =
    "usage: qvbackup restore ARCHIVE (--to DIR | --original) [PATTERN...]\n"
    "                [--overwrite never|older|always] [--as-of N | --increment N] [--threads N]\n"
    "                [--json] [--quiet]\n"
    "\n"
    "Recreates the files of ARCHIVE (its first volume file: NAME.QVA, NAME.1.QVA\n"
    "when split into volumes, NAME.exe when self-extracting) below DIR, each at\n"
    "DIR/Kelvar_<drive letter>/<its path after the drive>, with its content,\n"
    "size, last write time and attributes: C:\\Users\\ann\\a.txt comes back as\n"
    "DIR/Kelvar_C/Users/ann/a.txt. With --original each goes back to the path\n"
    "it was saved from instead (C:\\Users\\ann\\a.txt to /Users/ann/a.txt where\n"
    "the drive C is /, or below the folder --drive gives its letter).\n"
    "\n"
    "PATTERNs choose what is restored (everything when none is given), as for\n"
    "qvbackup list: a folder (everything below it), a file, or a wildcard, as a\n"
    "saved path (C:\\Data\\*.txt) or the path of the same place here\n"
    "(/home/ann/*.txt, through the drive map); '*' and '?' match within one\n"
    "name and never across a separator; a PATTERN without a drive or leading\n"
    "separator (*.txt, Docs/letter.txt) matches those names anywhere in a\n"
    "path. Case counts as paths compare here (ignored on Windows). Only the\n"
    "blocks of the files chosen are read. A PATTERN that matches nothing is\n"
    "said on standard error and the exit status is then 1.\n"
    "\n"
    "An item already where one is restored is left alone by default and said\n"
    "so (a local edit is never lost); --overwrite older replaces a file or\n"
    "link only when its last write time is older than the saved one, and\n"
    "--overwrite always replaces every file and link (a folder in the way of a\n"
    "file is never removed: that file fails). Folders already there get the\n"
    "saved metadata only with --overwrite always.\n"
    "\n"
    "Before anything is written the free space is checked: each file counts\n"
    "its saved size rounded up to 4 KiB where nothing is, what it grows by\n"
    "where it replaces a file, plus once the largest replaced file (old and new\n"
    "copies exist together while it is written); files left alone count\n"
    "nothing. When that does not fit, nothing is restored. A target that cannot\n"
    "be written at all (a full disk, a read-only file system, no permission\n"
    "before anything could be written) ends the run at the first such error\n"
    "with one message; the items not restored are counted, not listed. A\n"
    "volume file that is missing is asked for on a terminal (its path, or\n"
    "Enter to try again); otherwise the run ends naming it.\n"
    "\n"
    "For an archive with increments the chain is restored as it was when its\n"
    "newest member was made (with --as-of N, when member N was made): the\n"
    "files that existed then, each in its version of that time, written once\n"
    "from the member that saved that version. Increments written before they\n"
    "recorded which files existed add what they saved to what the members\n"
    "before them hold, so files deleted in their time come back too.\n"
    "A file that cannot be restored is named on standard error and the others\n"
    "go on; the exit status is then 1.\n"
    "\n"
    "A member whose index cannot be read (a damaged index or closing record, an\n"
    "archive cut short) is said so on standard error, then its blocks are\n"
    "walked: each file is found from its record, and restored only when its\n"
    "data blocks are all read back whole and provably end where its content\n"
    "ends (the next record or the index follows intact, or the last block is\n"
    "one only a file's end can make). Such files come back with normal\n"
    "attributes and the time of restoring (the index held the saved ones);\n"
    "every other file found is named with the reason, files whose records\n"
    "are lost cannot be named, and the exit status is 1. In a chain, a file\n"
    "of an earlier member is restored past a damaged member only when every\n"
    "record of that member could be read (a newer version may be lost\n"
    "otherwise; --increment N restores member N's own versions).\n"
    "\n"
    "  --to DIR        the folder to restore below (made when missing)\n"
    "  --original      restore to the paths the items were saved from (not with --to)\n"
    "  --overwrite M   never (the default): leave an existing item alone;\n"
    "                  older: replace it when it is older than the saved one;\n"
    "                  always: replace it\n"
    "  --as-of N       restore the chain as it was when member N was made\n"
    "  --increment N   restore only what member N saved (0: the base archive)\n"
    "  --threads N     threads that decrypt, inflate and check the blocks read ahead\n"
    "                  while the files are written (1 to 64; default: one per processor)\n"
    "  --json          {\"ok\", \"archive\", \"target\", \"members\", \"salvaged\", \"interrupted\",\n"
    "                  \"damaged_header\", \"stopped\", \"files\", \"bytes\",\n"
    "                  \"counts\": {\"restored\", \"left_alone\", \"failed\"},\n"
    "                  \"left_alone\": [PATH], \"failed\": [{\"path\", \"reason\"}]};\n"
    "                  \"salvaged\": whether a member was read without its index;\n"
    "                  \"failed\" counts the items not tried after a stop too\n"
    "  --quiet         no progress bar\n"
    "  --password-file F, --password-env VAR   the password of an encrypted archive\n"
    "  --drive L=ROOT[,DEVICE]                 map a drive letter first\n";

// DIR as a drive path; empty after printing why it cannot be restored to.
WString TargetFolder(const WString& typed) {
  const WString drivePath = DrivePathOf(typed);
  if (drivePath.empty()) {
    FailBecause(typed, Widen("no drive holds it"));
    return WString();
  }
  std::error_code error;
  const std::filesystem::path native = NativePath(typed);
  if (std::filesystem::exists(native, error) && !std::filesystem::is_directory(native, error)) {
    Fail(typed, ERROR_DIRECTORY);
    return WString();
  }
  return drivePath;
}

// What the restore could not give back of the items' metadata, in words.
std::vector<WString> MetadataNotSet(const Outcome& outcome) {
  std::vector<WString> words;
  if (outcome.metadataLost) words.push_back(Widen("metadata (the table that keeps it cannot be read)"));
  if (outcome.metadataNotSet & QVBC_METADATA_OWNER_NOT_SET) words.push_back(Widen("owners"));
  if (outcome.metadataNotSet & QVBC_METADATA_MODE_NOT_SET) words.push_back(Widen("modes"));
  if (outcome.metadataNotSet & QVBC_METADATA_ATTRIBUTES_NOT_SET) words.push_back(Widen("extended attributes"));
  if (outcome.metadataNotSet & QVBC_METADATA_TIMES_NOT_SET) words.push_back(Widen("times"));
  return words;
}

std::vector<WString> JsonStrings(const std::vector<WString>& texts) {
  std::vector<WString> strings;
  for (const WString& text : texts) strings.push_back(JsonString(text));
  return strings;
}

// What the run was asked, for its report.
struct Request {
  WString where;            // DIR as typed, or "their original paths"
  WString target;           // DIR as typed; empty with --original
  bool unmatched = false;   // a PATTERN matched nothing
  WString missingVolume;    // the volume file given up on
};

// The one line that says why the run ended early.
void TellStop(const Request& request, const Outcome& outcome) {
  switch (outcome.stop) {
    case Stop::kNone:
      return;
    case Stop::kInterrupted:
      FailBecause(Widen("restore"), Widen("interrupted: the file being restored was removed; ") +
                                        Number(outcome.files) + Widen(" restored before it are in place"));
      return;
    case Stop::kMissingVolume:
      FailBecause(request.missingVolume, Widen("this volume file is missing: the restore stopped"), ERROR_CANCELLED);
      return;
    case Stop::kTarget:
      FailBecause(request.target.empty() ? outcome.stopPath : request.target,
                  Widen("cannot be written: ") + ErrorText(outcome.stopError) + Widen("; the restore stopped"),
                  outcome.stopError);
      return;
  }
}

void TellTrouble(const Request& request, const Outcome& outcome, const std::vector<WString>& notSet) {
  for (const Failure& failure : outcome.failed) FailBecause(failure.path, Widen("not restored: ") + failure.reason);
  const WString where = request.target.empty() ? Widen("restore") : request.target;
  if (!outcome.unsynced.empty()) {
    FailBecause(where, Widen("the restored files may not have reached the disk: ") + outcome.unsynced);
  }
  TellStop(request, outcome);
  if (!notSet.empty()) {
    WString what;
    for (const WString& word : notSet) what += (what.empty() ? WString() : Widen(", ")) + word;
    FailBecause(where, Widen("some restored items did not get back their ") + what);
  }
  if (outcome.linksLeftOut != 0) {
    WriteError(Widen("qvbackup: restore: ") + Number(outcome.linksLeftOut) +
               Widen(" symbolic links left out: this system does not hold them\n"));
  }
}

void AnswerInJson(const ArchiveCommandLine& line, const Request& request, DWORD members, const Outcome& outcome,
                  const std::vector<WString>& notSet, bool ok) {
  std::vector<WString> failed;
  for (const Failure& failure : outcome.failed) {
    failed.push_back(JsonObject().Add("path", failure.path).Add("reason", failure.reason).Text());
  }
  const ULONGLONG restored = outcome.files + outcome.folders + outcome.links;
  const JsonObject counts = JsonObject()
                                .Add("restored", restored)
                                .Add("left_alone", static_cast<ULONGLONG>(outcome.leftAlone.size()))
                                .Add("failed", static_cast<ULONGLONG>(outcome.failed.size()) + outcome.notTried);
  AnswerWith(JsonObject()
               .AddBool("ok", ok)
               .Add("archive", line.location.typed)
               .Add("target", request.target)
               .AddBool("original", request.target.empty())
               .Add("members", static_cast<ULONGLONG>(members))
               .AddBool("salvaged", outcome.salvaged)
               .AddBool("interrupted", outcome.stop == Stop::kInterrupted)
               .AddBool("stopped", outcome.stop != Stop::kNone)
               .AddBool("damaged_header", outcome.damagedHeader)
               .Add("files", outcome.files)
               .Add("folders", outcome.folders)
               .Add("links", outcome.links)
               .Add("bytes", outcome.bytes)
               .AddRaw("counts", counts.Text())
               .AddRaw("left_alone", JsonArray(JsonStrings(outcome.leftAlone)))
               .AddRaw("failed", JsonArray(failed))
               .AddRaw("metadata_not_restored", JsonArray(JsonStrings(notSet)))
               .Add("links_left_out", outcome.linksLeftOut));
}

void AnswerInText(const ArchiveCommandLine& line, const Request& request, DWORD members, const Outcome& outcome) {
  WString text;
  for (const WString& path : outcome.leftAlone) text += Widen("left alone (already there): ") + path + Widen("\n");
  text += Widen("restored ") + Number(outcome.files) + Widen(outcome.files == 1 ? " file" : " files");
  if (outcome.folders != 0) text += Widen(", ") + Number(outcome.folders) + Widen(outcome.folders == 1 ? " empty folder" : " empty folders");
  if (outcome.links != 0) text += Widen(", ") + Number(outcome.links) + Widen(outcome.links == 1 ? " link" : " links");
  text += Widen(" (") + Counted(outcome.bytes, "byte") + Widen(") from ") + line.location.typed;
  if (members > 1) text += Widen(" (") + Number(members) + Widen(" members)");
  text += (request.target.empty() ? Widen(" to ") : Widen(" below ")) + request.where + Widen("\n");
  if (!outcome.leftAlone.empty()) text += Number(outcome.leftAlone.size()) + Widen(" left alone\n");
  if (outcome.salvaged) text += Widen("damaged: files restored without their index have no saved times\n");
  const ULONGLONG notRestored = outcome.failed.size() + outcome.notTried;
  if (notRestored != 0) text += Number(notRestored) + Widen(" not restored\n");
  WriteOut(text);
}

int Report(const ArchiveCommandLine& line, const Request& request, DWORD members, const Outcome& outcome) {
  const std::vector<WString> notSet = MetadataNotSet(outcome);
  TellTrouble(request, outcome, notSet);
  const bool ok = outcome.failed.empty() && !outcome.salvaged && outcome.stop == Stop::kNone && !outcome.brokenChain &&
                  !outcome.damagedHeader && outcome.unsynced.empty() && notSet.empty() && !request.unmatched;
  if (line.options.Has("json")) {
    AnswerInJson(line, request, members, outcome, notSet, ok);
  } else {
    AnswerInText(line, request, members, outcome);
  }
  return ok ? kExitSuccess : kExitFailure;
}

// Files of members before `member` in `view` may have a newer version in
// it that was lost with its index: none is restored as if it were newest.
void MarkOlderVersionsUnsure(std::vector<SavedFile>& view, DWORD member) {
  const WString reason = Widen("a newer version may be lost in the damaged ") + MemberName(member) +
                         Widen(" (--increment N restores what member N saved)");
  for (SavedFile& file : view) {
    if (file.lost.empty()) file.lost = reason;
  }
}

// Folds into `view` the files of `member`, whose index is lost, found
// from their records.
void SalvageInto(ArchiveChain& chain, DWORD member, std::vector<SavedFile>* view) {
  SalvagedMember salvaged = SalvageMember(chain.Control(member).GetStorage(), member);
  if (!salvaged.allRecordsSeen) MarkOlderVersionsUnsure(*view, member);
  MergeNewerVersions(*view, std::move(salvaged.files));
}


// --overwrite as the control's mode; false for another word.
bool OverwriteMode(const ParsedOptions& options, DWORD* mode) {
  const WString word = options.Has("overwrite") ? options.Value("overwrite") : Widen("never");
  if (word == Widen("never")) {
    *mode = QVBC_OVERWRITE_NEVER;
  } else if (word == Widen("older")) {
    *mode = QVBC_OVERWRITE_OLDER;
  } else if (word == Widen("always")) {
    *mode = QVBC_OVERWRITE_ALWAYS;
  } else {
    return false;
  }
  return true;
}

// Whether what will be written fits; false after saying where it does not.
bool RoomFor(ArchiveChain& chain, const std::vector<SavedFile>& view, DWORD mode, const WString& target,
             const Request& request) {
  for (const auto& [folder, need] : MeasureNeeds(chain, view, mode, target)) {
    ULONGLONG freeBytes = 0;
    if (!FreeSpaceOf(folder, &freeBytes)) continue;  // unknown: the writes will tell
    if (need.Total() <= freeBytes) continue;
    FailBecause(request.target.empty() ? folder : request.target,
                Widen("not enough free space: the restore needs ") + Counted(need.Total(), "byte") + Widen(", ") +
                    Number(freeBytes) + Widen(" are free; nothing was restored"),
                ERROR_DISK_FULL);
    return false;
  }
  return true;
}

}  // namespace

int RunRestore(const std::vector<WString>& arguments) {
  ArchiveCommandLine line;
  const int status = ReadArchiveCommandLine(
      "restore", kUsage, arguments,
      {{"to", true, false}, {"original", false, false}, {"overwrite", true, false}, {"increment", true, false},
       {"as-of", true, false}, {"threads", true, false}},
      &line, true);
  if (status >= 0) return status;
  DWORD threads = 1;
  WString why;
  if (!ReadThreadCount(line.options, &threads, &why)) return UsageError("restore", why);
  const bool original = line.options.Has("original");
  if (original && line.options.Has("to")) return UsageError("restore", Widen("--to and --original exclude each other"));
  if (!original && !line.options.Has("to")) return UsageError("restore", Widen("--to DIR is required"));
  DWORD mode = QVBC_OVERWRITE_NEVER;
  if (!OverwriteMode(line.options, &mode)) {
    return UsageError("restore", Widen("--overwrite takes never, older or always"));
  }
  std::vector<PathPattern> patterns;
  int patternStatus = 0;
  if (!ReadPatterns("restore", line.patterns, &patterns, &patternStatus)) return patternStatus;
  Request request;
  request.target = original ? WString() : line.options.Value("to");
  request.where = original ? Widen("their original paths") : request.target;
  const WString target = original ? WString() : TargetFolder(request.target);
  if (!original && target.empty()) return kExitFailure;

  ArchiveOpener opener(line.location, line.options);
  ArchiveChain chain(opener);
  std::vector<SavedFile> view;
  DWORD first = 0;
  DWORD last = 0;
  const auto salvage = [&chain](DWORD member, std::vector<SavedFile>* files) { SalvageInto(chain, member, files); };
  if (!ReadSavedView(line, chain, &view, &first, &last, salvage)) return ExitForArchiveError(chain.error());
  request.unmatched = SelectOrSay(patterns, line.location.typed, &view);
  for (DWORD member = first; member <= last; ++member) {
    CQVBackupControl& control = chain.Control(member);
    if (original) {
      control.SetOriginalPaths(TRUE);
    } else {
      control.SetRestoreRoot(target.c_str());
    }
    control.SetOverwriteMode(mode);
    control.SetWorkerThreads(threads);
  }
  if (!RoomFor(chain, view, mode, target, request)) return kExitFailure;
  ProgressBar bar(StandardErrorIsTerminal() && !line.options.Has("quiet"), StoredBytes(view));
  volatile BOOL interrupted = FALSE;
  InterruptGuard interrupt(&interrupted);
  Outcome outcome = RestoreFiles(chain, view, first, last, bar, interrupted, opener);
  interrupt.Release();
  outcome.brokenChain = !chain.verdict().error.empty() || !chain.stateLost().empty();
  outcome.damagedHeader = !opener.damagedHeaders().empty();
  request.missingVolume = opener.missingVolume();
  return Report(line, request, last - first + 1, outcome);
}

}  // namespace qvtool
