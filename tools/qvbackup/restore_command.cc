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
#include "progress.h"
#include "report.h"
#include "saved_files.h"

namespace qvtool {

namespace {

const char kUsage[] =
    "usage: qvbackup restore ARCHIVE --to DIR [--as-of N | --increment N] [--json] [--quiet]\n"
    "\n"
    "Recreates the files of ARCHIVE (its first volume file: NAME.QVA, NAME.1.QVA\n"
    "when split into volumes, NAME.exe when self-extracting) below DIR, each at\n"
    "DIR/Kelvar_<drive letter>/<its path after the drive>, with its content,\n"
    "size, last write time and attributes: C:\\Users\\ann\\a.txt comes back as\n"
    "DIR/Kelvar_C/Users/ann/a.txt. Files already there are replaced.\n"
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
    "  --as-of N       restore the chain as it was when member N was made\n"
    "  --increment N   restore only what member N saved (0: the base archive)\n"
    "  --json          {\"ok\", \"archive\", \"target\", \"members\", \"salvaged\", \"interrupted\",\n"
    "                  \"damaged_header\",\n"
    "                  \"files\", \"bytes\", \"failed\": [{\"path\", \"reason\"}]};\n"
    "                  \"salvaged\": whether a member was read without its index\n"
    "  --quiet         no progress bar\n"
    "  --password-file F, --password-env VAR   the password of an encrypted archive\n"
    "  --drive L=ROOT[,DEVICE]                 map a drive letter first\n";

struct Failure {
  WString path;
  WString reason;
};

struct Outcome {
  ULONGLONG files = 0;       // files restored (a further name of one counts)
  ULONGLONG folders = 0;     // empty folders
  ULONGLONG links = 0;       // symbolic links
  ULONGLONG bytes = 0;
  std::vector<Failure> failed;
  bool salvaged = false;     // a member was read without its index
  bool interrupted = false;  // Ctrl-C: the file being written was removed, the rest not tried
  bool brokenChain = false;  // members past a break in the chain were not restored
  bool damagedHeader = false;  // a member's check value was damaged (its data was read all the same)
  WString unsynced;          // why the restored files may not have reached the disk
  ULONGLONG linksLeftOut = 0;  // symbolic links this system cannot hold
  DWORD metadataNotSet = 0;    // kMetadata*NotSet bits of what could not be given back
  bool metadataLost = false;   // a member's metadata table could not be read
};

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

ULONGLONG StoredBytes(const std::vector<SavedFile>& files) {
  ULONGLONG total = 0;
  for (const SavedFile& file : files) total += file.fileBytes;
  return total;
}

// Restores `files` (the view of members first..last) member by member, in
// the order each member saved them.
Outcome RestoreFiles(ArchiveChain& chain, const WString& target, const std::vector<SavedFile>& files, DWORD first,
                     DWORD last, ProgressBar& bar, const volatile BOOL& interrupted) {
  const ULONGLONG total = StoredBytes(files);
  std::vector<std::vector<const SavedFile*>> byMember(last + 1);
  for (const SavedFile& file : files) byMember[file.member].push_back(&file);
  Outcome outcome;
  for (DWORD member = first; member <= last; ++member) outcome.salvaged = outcome.salvaged || chain.IndexLost(member);
  ULONGLONG done = 0;
  for (DWORD member = first; member <= last; ++member) {
    std::vector<const SavedFile*>& saved = byMember[member];
    // Files in the order of the stream: one pass forward through the
    // volumes; then the items without content in the order they were
    // saved, so that a further name of a file finds it restored.
    std::sort(saved.begin(), saved.end(), [](const SavedFile* a, const SavedFile* b) {
      const bool aFile = a->kind == QVBC_ITEM_FILE;
      const bool bFile = b->kind == QVBC_ITEM_FILE;
      if (aFile != bFile) return aFile;
      return aFile ? a->recordOffset < b->recordOffset : a->entry < b->entry;
    });
    CQVBackupControl& control = chain.Control(member);
    control.SetRestoreRoot(target.c_str());
    control.SetCancelFlag(&interrupted);
    for (const SavedFile* file : saved) {
      if (interrupted) {
        outcome.interrupted = true;
        break;
      }
      if (!file->lost.empty()) {
        outcome.failed.push_back({file->path, file->lost});
      } else if (file->fromRecord ? control.RestoreRecord(file->recordOffset, file->contentBytes)
                                  : control.RestoreEntry(file->entry)) {
        ++(file->kind == QVBC_ITEM_FOLDER ? outcome.folders
                                          : file->kind == QVBC_ITEM_LINK ? outcome.links : outcome.files);
        if (file->kind == QVBC_ITEM_FILE || file->kind == QVBC_ITEM_OTHER_NAME) outcome.bytes += file->size;
      } else if (GetLastError() == ERROR_CANCELLED && interrupted) {
        outcome.interrupted = true;
        break;
      } else if (file->kind == QVBC_ITEM_LINK && GetLastError() == ERROR_NOT_SUPPORTED) {
        ++outcome.linksLeftOut;  // a system that holds no symbolic links
      } else {
        outcome.failed.push_back({file->path, ArchiveErrorText(GetLastError())});
      }
      done += file->fileBytes;
      bar.Update(total == 0 ? 100 : static_cast<DWORD>(done * 100 / total));
    }
    // What was restored reaches the disk before the run says so.
    if (!control.FlushRestoredFiles() && outcome.unsynced.empty()) outcome.unsynced = ErrorText(GetLastError());
    outcome.metadataNotSet |= control.GetMetadataNotRestored();
    outcome.metadataLost = outcome.metadataLost || (!chain.IndexLost(member) && control.GetMetadataError() != 0);
    if (outcome.interrupted) break;
  }
  bar.Finish();
  return outcome;
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

int Report(const ArchiveCommandLine& line, DWORD members, const Outcome& outcome) {
  for (const Failure& failure : outcome.failed) FailBecause(failure.path, Widen("not restored: ") + failure.reason);
  if (!outcome.unsynced.empty()) {
    FailBecause(line.options.Value("to"), Widen("the restored files may not have reached the disk: ") + outcome.unsynced);
  }
  if (outcome.interrupted) {
    FailBecause(Widen("restore"), Widen("interrupted: the file being restored was removed; ") +
                                      Number(outcome.files) + Widen(" restored before it are in place"));
  }
  const std::vector<WString> notSet = MetadataNotSet(outcome);
  if (!notSet.empty()) {
    WString what;
    for (const WString& word : notSet) what += (what.empty() ? WString() : Widen(", ")) + word;
    FailBecause(line.options.Value("to"), Widen("some restored items did not get back their ") + what);
  }
  if (outcome.linksLeftOut != 0) {
    WriteError(Widen("qvbackup: restore: ") + Number(outcome.linksLeftOut) +
               Widen(" symbolic links left out: this system does not hold them\n"));
  }
  const bool ok = outcome.failed.empty() && !outcome.salvaged && !outcome.interrupted && !outcome.brokenChain &&
                  !outcome.damagedHeader && outcome.unsynced.empty() && notSet.empty();
  if (line.options.Has("json")) {
    std::vector<WString> failed;
    for (const Failure& failure : outcome.failed) {
      failed.push_back(JsonObject().Add("path", failure.path).Add("reason", failure.reason).Text());
    }
    AnswerWith(JsonObject()
                 .AddBool("ok", ok)
                 .Add("archive", line.location.typed)
                 .Add("target", line.options.Value("to"))
                 .Add("members", static_cast<ULONGLONG>(members))
                 .AddBool("salvaged", outcome.salvaged)
                 .AddBool("interrupted", outcome.interrupted)
                 .AddBool("damaged_header", outcome.damagedHeader)
                 .Add("files", outcome.files)
                 .Add("folders", outcome.folders)
                 .Add("links", outcome.links)
                 .Add("bytes", outcome.bytes)
                 .AddRaw("failed", JsonArray(failed))
                 .AddRaw("metadata_not_restored", JsonArray(JsonStrings(notSet)))
                 .Add("links_left_out", outcome.linksLeftOut));
  } else {
    WString text = Widen("restored ") + Number(outcome.files) + Widen(outcome.files == 1 ? " file" : " files");
    if (outcome.folders != 0) text += Widen(", ") + Number(outcome.folders) + Widen(outcome.folders == 1 ? " empty folder" : " empty folders");
    if (outcome.links != 0) text += Widen(", ") + Number(outcome.links) + Widen(outcome.links == 1 ? " link" : " links");
    text += Widen(" (") + Number(outcome.bytes) + Widen(" bytes) from ") + line.location.typed;
    if (members > 1) text += Widen(" (") + Number(members) + Widen(" members)");
    text += Widen(" below ") + line.options.Value("to") + Widen("\n");
    if (outcome.salvaged) text += Widen("damaged: files restored without their index have no saved times\n");
    if (!outcome.failed.empty()) text += Number(outcome.failed.size()) + Widen(" not restored\n");
    WriteOut(text);
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

}  // namespace

int RunRestore(const std::vector<WString>& arguments) {
  ArchiveCommandLine line;
  const int status =
      ReadArchiveCommandLine("restore", kUsage, arguments, {{"to", true, false}, {"increment", true, false}, {"as-of", true, false}}, &line);
  if (status >= 0) return status;
  if (!line.options.Has("to")) return UsageError("restore", Widen("--to DIR is required"));
  const WString target = TargetFolder(line.options.Value("to"));
  if (target.empty()) return kExitFailure;

  ArchiveOpener opener(line.location, line.options);
  ArchiveChain chain(opener);
  std::vector<SavedFile> view;
  DWORD first = 0;
  DWORD last = 0;
  const auto salvage = [&chain](DWORD member, std::vector<SavedFile>* files) { SalvageInto(chain, member, files); };
  if (!ReadSavedView(line, chain, &view, &first, &last, salvage)) return ExitForArchiveError(chain.error());
  ProgressBar bar(StandardErrorIsTerminal() && !line.options.Has("quiet"), StoredBytes(view));
  volatile BOOL interrupted = FALSE;
  InterruptGuard interrupt(&interrupted);
  Outcome outcome = RestoreFiles(chain, target, view, first, last, bar, interrupted);
  interrupt.Release();
  outcome.brokenChain = !chain.verdict().error.empty() || !chain.stateLost().empty();
  outcome.damagedHeader = !opener.damagedHeaders().empty();
  return Report(line, last - first + 1, outcome);
}

}  // namespace qvtool
