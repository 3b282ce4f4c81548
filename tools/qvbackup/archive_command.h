// The command line that list, restore and verify share: one ARCHIVE (the
// first volume file), --increment N for one member of a chain, and the
// options every command takes.
#ifndef QVBACKUP_TOOLS_ARCHIVE_COMMAND_H_
#define QVBACKUP_TOOLS_ARCHIVE_COMMAND_H_

#include <functional>
#include <initializer_list>
#include <vector>

#include "archive_chain.h"
#include "archive_open.h"
#include "options.h"
#include "saved_files.h"

namespace qvtool {

struct ArchiveCommandLine {
  ParsedOptions options;
  ArchiveLocation location;
  bool oneMember = false;  // --increment given
  DWORD member = 0;        // its value
  bool asOf = false;       // --as-of given: the chain's state when that member was made
  DWORD asOfMember = 0;    // its value
  std::vector<WString> patterns;  // what follows ARCHIVE, for commands that take patterns
};

// Parses `arguments` of `command` with its own `rules` (which list
// "increment" and "as-of" when the command takes them; with
// `takesPatterns`, the arguments after ARCHIVE are patterns), applies the
// --drive mappings and locates ARCHIVE. Returns -1 when
// the command should go on; otherwise the exit status to end with, after
// printing `usage` (--help), why the command line is wrong (kExitUsage) or
// why ARCHIVE cannot be an archive (kExitFailure). A remote ARCHIVE
// (rclone:REMOTE:PATH/FILE, for commands `takesRemote`) is opened: its
// chain's first and last volumes are fetched into its work folder.
int ReadArchiveCommandLine(const char* command, const char* usage, const std::vector<WString>& arguments,
                           std::initializer_list<OptionRule> rules, ArchiveCommandLine* line,
                           bool takesPatterns = false, bool takesRemote = true);

// Says on standard error what `verdict` tells of the chain of `typed`:
// its notes, and why members past the usable ones are not used. True when
// that is an error (a gap, a member of another archive, an unfinished
// member others follow).
bool TellChainVerdict(const WString& typed, const ChainVerdict& verdict);

// The members the command works on: all of the chain, the one --increment
// names, or the base up to the one --as-of names. False, after printing why, when the chain has no such
// member.
bool SelectMembers(const ArchiveCommandLine& line, const ArchiveChain& chain, DWORD* first, DWORD* last);

// Opens the chain of the command line's archive (telling its verdict) and gathers, from the
// members it selects (`first` to `last`), the newest saved version of each
// file into `view`.
// Without every selected member's index the newest version of a file is
// unknown: false, after printing why. With `onLostIndex`, a member that
// opens but whose index cannot be loaded is said so on standard error and
// handed to it with the view so far, which it folds that member's files
// into.
using LostIndexHandler = std::function<void(DWORD member, std::vector<SavedFile>* view)>;
bool ReadSavedView(const ArchiveCommandLine& line, ArchiveChain& chain, std::vector<SavedFile>* view, DWORD* first,
                   DWORD* last, const LostIndexHandler& onLostIndex = nullptr);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_ARCHIVE_COMMAND_H_
