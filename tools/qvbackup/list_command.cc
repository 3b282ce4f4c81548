// qvbackup list: the files an archive holds, as its index records them.
#include <cstdio>

#include "archive_command.h"
#include "commands.h"
#include "json_answer.h"
#include "path_patterns.h"
#include "report.h"
#include "saved_files.h"

namespace qvtool {

namespace {

const char kUsage[] =
    "usage: qvbackup list ARCHIVE [PATTERN...] [--as-of N | --increment N] [--json]\n"
    "\n"
    "One line per saved file, sorted by path: the path it was saved from, its\n"
    "size in bytes, its last write time (UTC) and its attributes, separated by\n"
    "tabs. ARCHIVE is the archive's first volume file (NAME.QVA, NAME.1.QVA\n"
    "when split into volumes, NAME.exe when self-extracting).\n"
    "\n"
    "PATTERNs choose what is listed (everything when none is given): a folder\n"
    "(everything below it), a file, or a wildcard, as a saved path\n"
    "(C:\\Data\\*.txt; '/' separates too) or the path of the same place here\n"
    "(/home/ann/*.txt, through the drive map that --drive changes). '*' and '?'\n"
    "match within one name and never across a separator. A PATTERN without a\n"
    "drive or leading separator (*.txt, Docs/letter.txt) matches those names\n"
    "anywhere in a path. Case counts as paths compare here (ignored on\n"
    "Windows). A PATTERN that matches nothing is said on standard error and\n"
    "the exit status is then 1.\n"
    "\n"
    "For an archive with increments the list shows what restoring the whole\n"
    "chain brings back: the files that existed when its newest member was\n"
    "made, each in its version of that time (with --as-of N, when member N\n"
    "was made). Increments written before they recorded which files existed\n"
    "add what they saved to what the members before them hold, so files\n"
    "deleted in their time are still listed.\n"
    "\n"
    "  --as-of N       what restoring the chain as of member N brings back\n"
    "  --increment N   list only what member N saved (0: the base archive)\n"
    "  --json          {\"files\": [{\"path\", \"size\", \"mtime\", \"attributes\",\n"
    "                  \"increment\"}, ...]} (mtime in ISO 8601 UTC, attributes a number)\n"
    "  --password-file F, --password-env VAR   the password of an encrypted archive\n"
    "  --drive L=ROOT[,DEVICE]                 map a drive letter first\n";

WString Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%x", static_cast<unsigned>(value));
  return Widen(text);
}

void PrintText(const std::vector<SavedFile>& files) {
  WString text;
  for (const SavedFile& file : files) {
    text += file.path + QVT('\t') + Number(file.size) + QVT('\t') + IsoTime(file.lastWrite) + QVT('\t') +
            Hex(file.attributes) + QVT('\n');
  }
  WriteOut(text);
}

void PrintJson(const std::vector<SavedFile>& files) {
  std::vector<WString> items;
  items.reserve(files.size());
  for (const SavedFile& file : files) {
    items.push_back(JsonObject()
                        .Add("path", file.path)
                        .Add("size", file.size)
                        .Add("mtime", IsoTime(file.lastWrite))
                        .Add("attributes", static_cast<ULONGLONG>(file.attributes))
                        .Add("increment", static_cast<ULONGLONG>(file.member))
                        .Text());
  }
  AnswerWith(JsonObject().AddRaw("files", JsonArray(items)));
}

}  // namespace

int RunList(const std::vector<WString>& arguments) {
  ArchiveCommandLine line;
  const int status =
      ReadArchiveCommandLine("list", kUsage, arguments, {{"increment", true, false}, {"as-of", true, false}}, &line, true);
  if (status >= 0) return status;
  std::vector<PathPattern> patterns;
  int patternStatus = 0;
  if (!ReadPatterns("list", line.patterns, &patterns, &patternStatus)) return patternStatus;
  ArchiveOpener opener(line.location, line.options);
  ArchiveChain chain(opener);
  std::vector<SavedFile> view;
  DWORD first = 0;
  DWORD last = 0;
  if (!ReadSavedView(line, chain, &view, &first, &last)) return ExitForArchiveError(chain.error());
  const bool unmatched = SelectOrSay(patterns, line.location.typed, &view);
  if (line.options.Has("json")) {
    PrintJson(view);
  } else {
    PrintText(view);
  }
  const bool sound = chain.verdict().error.empty() && chain.stateLost().empty() && opener.damagedHeaders().empty();
  return sound && !unmatched ? kExitSuccess : kExitFailure;
}

}  // namespace qvtool
