// qvbackup members: the members of a chain, one line each: when each was
// made, what it saved, what it takes on disk, and whether it can be used.
#include "archive_command.h"
#include "commands.h"
#include "json_answer.h"
#include "report.h"
#include "saved_files.h"

namespace qvtool {

namespace {

const char kUsage[] =
    "usage: qvbackup members ARCHIVE [--json]\n"
    "\n"
    "One line per member of the archive's chain, the base (0) first: its\n"
    "number, when its backup began (UTC), how many items it saved (files,\n"
    "and links and empty folders where they are kept), the bytes its volume\n"
    "files take, and its state, separated by tabs. '-' stands for what\n"
    "cannot be known: the time of a member written before members recorded\n"
    "it, the items of one whose index cannot be read or that is not there.\n"
    "\n"
    "States: complete; incomplete (its backup never ended: it is left out);\n"
    "missing (no file, though later members exist: they cannot be used);\n"
    "damaged (its header or closing record cannot be read); foreign (another\n"
    "archive's file under this name); replaced (left over from an archive\n"
    "this one replaced). The exit status is 1 when a member the chain needs\n"
    "is missing, damaged or foreign, or its index cannot be read.\n"
    "\n"
    "  --json          {\"members\": [{\"number\", \"time\", \"items\", \"bytes\",\n"
    "                  \"state\"}, ...]} (time in ISO 8601 UTC; null where unknown)\n"
    "  --password-file F, --password-env VAR   the password of an encrypted archive\n"
    "                  (the items are counted from its index)\n"
    "  --drive L=ROOT[,DEVICE]                 map a drive letter first\n";

const char* StateWord(DWORD state) {
  switch (state) {
    case QVS_MEMBER_COMPLETE: return "complete";
    case QVS_MEMBER_INCOMPLETE: return "incomplete";
    case QVS_MEMBER_DAMAGED: return "damaged";
    case QVS_MEMBER_MISSING: return "missing";
    case QVS_MEMBER_FOREIGN: return "foreign";
    case QVS_MEMBER_REPLACED: return "replaced";
  }
  return "unknown";
}

struct MemberLine {
  DWORD number = 0;
  DWORD state = QVS_MEMBER_MISSING;
  bool timeKnown = false;
  LONGLONG time = 0;  // seconds since 1970 UTC
  bool itemsKnown = false;
  ULONGLONG items = 0;
  bool bytesKnown = false;
  ULONGLONG bytes = 0;
};

WString TimeText(LONGLONG seconds) {
  // 100 ns ticks since 1601, as the saved files' times are shown.
  const ULONGLONG ticks = (static_cast<ULONGLONG>(seconds) + 11644473600ULL) * 10000000ULL;
  return IsoTime(ticks);
}

void PrintText(const std::vector<MemberLine>& lines) {
  WString text;
  const WString unknown = Widen("-");
  for (const MemberLine& line : lines) {
    text += Number(line.number) + QVT('\t') + (line.timeKnown ? TimeText(line.time) : unknown) + QVT('\t') +
            (line.itemsKnown ? Number(line.items) : unknown) + QVT('\t') +
            (line.bytesKnown ? Number(line.bytes) : unknown) + QVT('\t') + Widen(StateWord(line.state)) +
            QVT('\n');
  }
  WriteOut(text);
}

void PrintJson(const std::vector<MemberLine>& lines) {
  std::vector<WString> items;
  for (const MemberLine& line : lines) {
    JsonObject member;
    member.Add("number", static_cast<ULONGLONG>(line.number));
    if (line.timeKnown) {
      member.Add("time", TimeText(line.time));
    } else {
      member.AddRaw("time", Widen("null"));
    }
    if (line.itemsKnown) {
      member.Add("items", line.items);
    } else {
      member.AddRaw("items", Widen("null"));
    }
    if (line.bytesKnown) {
      member.Add("bytes", line.bytes);
    } else {
      member.AddRaw("bytes", Widen("null"));
    }
    member.Add("state", Widen(StateWord(line.state)));
    items.push_back(member.Text());
  }
  AnswerWith(JsonObject().AddRaw("members", JsonArray(items)));
}

}  // namespace

int RunMembers(const std::vector<WString>& arguments) {
  ArchiveCommandLine line;
  const int status = ReadArchiveCommandLine("members", kUsage, arguments, {}, &line);
  if (status >= 0) return status;
  ArchiveOpener opener(line.location, line.options);
  ArchiveChain chain(opener);
  if (!chain.OpenBase()) {
    FailBecause(line.location.typed, chain.reason(), chain.error());
    return ExitForArchiveError(chain.error());
  }
  const bool chainBroken = TellChainVerdict(line.location.typed, chain.verdict());
  bool sound = !chainBroken && opener.damagedHeaders().empty();
  std::vector<MemberLine> lines;
  for (const MemberState& member : opener.Members()) {
    MemberLine out;
    out.number = member.increment;
    out.state = member.state;
    const bool readable = member.increment < chain.members() &&
                          (member.state == QVS_MEMBER_COMPLETE || member.state == QVS_MEMBER_DAMAGED);
    if (readable) {
      const bool loaded = chain.Load(member.increment);
      if (loaded) {
        out.itemsKnown = true;
        out.items = SavedFilesOf(chain.Control(member.increment), member.increment).size();
      } else if (chain.error() == ERROR_WRONG_PASSWORD || chain.error() == ERROR_INVALID_PASSWORD) {
        FailBecause(line.location.typed, chain.reason(), chain.error());
        return ExitForArchiveError(chain.error());
      } else {
        sound = false;
        WriteError(Widen("qvbackup: ") + line.location.typed + Widen(": ") + chain.reason() + Widen("\n"));
      }
      if (loaded || chain.IndexLost(member.increment)) {
        CQVStorage& storage = chain.Control(member.increment).GetStorage();
        const LONGLONG time = storage.GetMemberTime();
        out.timeKnown = time != 0;
        out.time = time;
        const ULONGLONG bytes = storage.GetArchiveSize(1);
        out.bytesKnown = bytes != QVS_INVALID_OFFSET;
        out.bytes = bytes;
      }
    }
    lines.push_back(out);
  }
  if (line.options.Has("json")) {
    PrintJson(lines);
  } else {
    PrintText(lines);
  }
  return sound ? kExitSuccess : kExitFailure;
}

}  // namespace qvtool
