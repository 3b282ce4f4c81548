#include "archive_command.h"

#include <map>

#include "chain_state.h"
#include "report.h"

namespace qvtool {

namespace {

constexpr ULONGLONG kMaxIncrement = 0xFFFF;  // increment numbers are 16-bit

}  // namespace

int ReadArchiveCommandLine(const char* command, const char* usage, const std::vector<WString>& arguments,
                           std::initializer_list<OptionRule> rules, ArchiveCommandLine* line, bool takesPatterns,
                           bool takesRemote) {
  WString why;
  const bool parsed = ParseOptions(arguments, rules, &line->options, &why);
  if (!parsed) return UsageError(command, why);
  if (line->options.Has("help")) return ShowUsage(usage);
  const std::vector<WString>& positionals = line->options.positionals;
  if (positionals.empty()) return UsageError(command, Widen("no ARCHIVE given"));
  if (positionals.size() > 1 && !takesPatterns) return UsageError(command, Widen("one ARCHIVE at a time"));
  line->patterns.assign(positionals.begin() + 1, positionals.end());
  for (const WString& pattern : line->patterns) {
    if (pattern.empty()) return UsageError(command, Widen("an empty PATTERN matches nothing"));
  }
  if (line->options.Has("increment")) {
    ULONGLONG member = 0;
    if (!ParseNumber(line->options.Value("increment"), 0, kMaxIncrement, &member)) {
      return UsageError(command, Widen("--increment takes a member number: 0 for the base, 1, 2... for increments"));
    }
    line->oneMember = true;
    line->member = static_cast<DWORD>(member);
  }
  if (line->options.Has("as-of")) {
    if (line->oneMember) return UsageError(command, Widen("--as-of and --increment exclude each other"));
    ULONGLONG member = 0;
    if (!ParseNumber(line->options.Value("as-of"), 0, kMaxIncrement, &member)) {
      return UsageError(command, Widen("--as-of takes a member number: 0 for the base, 1, 2... for increments"));
    }
    line->asOf = true;
    line->asOfMember = static_cast<DWORD>(member);
  }
  if (!ApplyDriveOptions(line->options, &why)) return UsageError(command, why);
  const WString& typed = positionals[0];
  if (!LocateArchive(typed, &line->location, &why)) return FailBecause(typed, why);
  WString folder;
  WString fileName;
  if (SplitRemoteFile(typed, &folder, &fileName)) {
    if (!takesRemote) {
      return FailBecause(typed, Widen(command) + Widen(" rewrites an archive in its folder, and works on archives of "
                                                       "this machine only: fetch it (rclone copy), ") +
                                    Widen(command) + Widen(" it there, and back it up again"));
    }
    WString program;
    if (!FindRclone(line->options, command, &program)) return kExitFailure;
    auto remote = std::make_shared<RemoteReading>(program, folder, typed);
    if (!remote->Open(line->location.name, fileName)) {
      return GetLastError() == ERROR_BUSY ? kExitBusy : kExitFailure;
    }
    line->location.folder = remote->folder();
    line->location.remote = std::move(remote);
  }
  return -1;
}

bool TellChainVerdict(const WString& typed, const ChainVerdict& verdict) {
  for (const WString& note : verdict.notes) WriteError(Widen("qvbackup: ") + typed + Widen(": ") + note + Widen("\n"));
  if (verdict.error.empty()) return false;
  FailBecause(typed, verdict.error);
  return true;
}

bool SelectMembers(const ArchiveCommandLine& line, const ArchiveChain& chain, DWORD* first, DWORD* last) {
  if (!line.oneMember && !line.asOf) {
    *first = 0;
    *last = chain.members() - 1;
    return true;
  }
  const DWORD member = line.oneMember ? line.member : line.asOfMember;
  if (member >= chain.members()) {
    FailBecause(line.location.typed, Widen("no increment ") + Number(member) + Widen(" (the chain holds ") +
                                         Number(chain.members()) + Widen(chain.members() == 1 ? " member)" : " members)"));
    return false;
  }
  *first = line.oneMember ? member : 0;
  *last = member;
  return true;
}

namespace {

// What `state` (a recorded one) keeps of a member whose index is lost
// cannot be named: in its place go the files that member's blocks prove
// whole, where the state holds nothing newer of their path. A file deleted
// before may come back so; none is lost.
void FoldSalvaged(const std::map<DWORD, std::vector<SavedFile>>& salvaged, std::vector<SavedFile>* state) {
  if (salvaged.empty()) return;
  std::erase_if(*state, [&](const SavedFile& file) { return !file.lost.empty() && salvaged.count(file.member) != 0; });
  for (const auto& [member, files] : salvaged) {
    std::vector<SavedFile> older;
    for (const SavedFile& file : files) {
      if (FindInView(*state, file.path) == nullptr) older.push_back(file);
    }
    MergeNewerVersions(*state, std::move(older));
  }
}

}  // namespace

bool ReadSavedView(const ArchiveCommandLine& line, ArchiveChain& chain, std::vector<SavedFile>* view, DWORD* first,
                   DWORD* last, const LostIndexHandler& onLostIndex) {
  if (!chain.OpenBase()) {
    FailBecause(line.location.typed, chain.reason(), chain.error());
    return false;
  }
  TellChainVerdict(line.location.typed, chain.verdict());
  if (!SelectMembers(line, chain, first, last)) return false;
  const MemberIndex index = [&chain](DWORD member) {
    return member < chain.members() && chain.Load(member) ? &chain.Control(member) : nullptr;
  };
  // The newest member that records the state of the selection gives it
  // with the items it keeps from the members before it: those are read
  // only for that.
  const DWORD from = line.oneMember ? *first : NewestRecordingMember(*first, *last, index);
  // The members whose index is lost, with the files their blocks prove
  // whole.
  std::map<DWORD, std::vector<SavedFile>> salvaged;
  const auto lost = [&](DWORD member, std::vector<SavedFile>* into) {
    const bool handled = onLostIndex && chain.IndexLost(member);
    FailBecause(line.location.typed,
                chain.reason() + (handled ? Widen("; restoring the files its blocks prove whole") : WString()),
                chain.error());
    if (!handled) return false;
    onLostIndex(member, into);
    return true;
  };
  for (DWORD member = *first; member < from; ++member) {
    if (!chain.Load(member) && !lost(member, &salvaged[member])) return false;
  }
  for (DWORD member = from; member <= *last; ++member) {
    if (!chain.Load(member)) {
      if (!lost(member, view)) return false;
      continue;
    }
    CQVBackupControl& control = chain.Control(member);
    if (line.oneMember) {
      MergeNewerVersions(*view, SavedFilesOf(control, member));
      continue;
    }
    if (control.GetChainStateError() != 0) {
      chain.NoteStateLost(member);
      FailBecause(line.location.typed,
                  Widen("the record of which files existed when ") + MemberName(member) +
                      Widen(" was made cannot be read: files deleted before it may come back"),
                  control.GetChainStateError());
    }
    const bool recorded = member != 0 && control.HasChainState();
    AdvanceState(control, member, index, view);
    if (recorded) FoldSalvaged(salvaged, view);
  }
  return true;
}

}  // namespace qvtool
