// qvbackup merge: shortens a chain to its base and N increments.
#include <algorithm>

#include "archive_command.h"
#include "chain_merge.h"
#include "commands.h"
#include "json_answer.h"
#include "report.h"

namespace qvtool {

namespace {

const char kUsage[] =
    "usage: qvbackup merge ARCHIVE --keep N [--json]\n"
    "\n"
    "Folds the oldest members of ARCHIVE's chain into a new base so that N\n"
    "increments remain: the new base holds what restoring the chain as of\n"
    "the member it replaces last gave, and the last N members stay, each\n"
    "restoring as of its time exactly as before (renumbered 1 to N, with\n"
    "their dates). The states of the members folded away are gone. Nothing\n"
    "is read from the files saved: the blocks are copied from the archive.\n"
    "\n"
    "The new chain is written beside the old one, which stays whole and is\n"
    "used until the new one is complete and synced; then the new one takes\n"
    "its place at once. A merge that is stopped, or a machine that goes down\n"
    "during it, leaves the old chain or the new one, never a mix. The chain\n"
    "must be whole (run verify): a damaged or missing member is refused.\n"
    "Self-extracting archives are not merged.\n"
    "\n"
    "  --keep N        the increments to keep (0: one base holding the newest state)\n"
    "  --threads N     threads that compress and encrypt, 1 to 64 (default: one\n"
    "                  per processor core)\n"
    "  --json          {\"members\", \"kept\", \"base_items\", \"copied_bytes\", \"removed\"}\n"
    "  --password-file F, --password-env VAR   the password of an encrypted archive\n"
    "  --drive L=ROOT[,DEVICE]                 map a drive letter first\n";

}  // namespace

int RunMerge(const std::vector<WString>& arguments) {
  ArchiveCommandLine line;
  const int status =
      ReadArchiveCommandLine("merge", kUsage, arguments, {{"keep", true, false}, {"threads", true, false}}, &line,
                             /*takesPatterns=*/false, /*takesRemote=*/false);
  if (status >= 0) return status;
  DWORD threads = 1;
  WString why;
  if (!ReadThreadCount(line.options, &threads, &why)) return UsageError("merge", why);
  ULONGLONG keep = 0;
  if (!line.options.Has("keep")) return UsageError("merge", Widen("--keep N is needed: the increments to keep"));
  if (!ParseNumber(line.options.Value("keep"), 0, 0xFFFF, &keep)) {
    return UsageError("merge", Widen("--keep takes a number of increments: 0, 1, 2..."));
  }
  const WString& typed = line.location.typed;
  if (line.location.extension == Widen("exe") || line.location.extension == Widen("EXE")) {
    return FailBecause(typed, Widen("self-extracting archives are not merged"));
  }
  ArchiveOpener opener(line.location, line.options);
  QVS_ARCHIVE_INFO info = opener.Description();
  // The lock first: no other run may add a member between the reading of
  // the chain and its replacement.
  CQVBackupControl writer;
  writer.SetWorkerThreads(threads);
  if (!writer.GetStorage().LockArchive(&info)) return FailLocking("merge", typed, writer.GetStorage());
  if (!writer.GetStorage().ClearLeftovers(&info)) {
    return Fail(Widen("merge: what a stopped run left of ") + typed + Widen(" cannot be cleared"),
                writer.GetStorage().GetError());
  }
  ArchiveChain chain(opener);
  if (!chain.OpenBase()) {
    FailBecause(typed, chain.reason(), chain.error());
    return ExitForArchiveError(chain.error());
  }
  const ChainVerdict& verdict = chain.verdict();
  if (TellChainVerdict(typed, verdict) || verdict.damaged != 0xFFFFFFFFu || verdict.usable == 0 ||
      !opener.damagedHeaders().empty()) {
    return FailBecause(typed, Widen("the chain is not whole: nothing was merged (verify tells more)"));
  }
  const DWORD members = chain.members();
  for (DWORD member = 0; member < members; ++member) {
    if (!chain.Load(member)) {
      FailBecause(typed, chain.reason() + Widen(": nothing was merged"), chain.error());
      return chain.error() == ERROR_WRONG_PASSWORD || chain.error() == ERROR_INVALID_PASSWORD
                 ? ExitForArchiveError(chain.error())
                 : kExitFailure;
    }
    if (chain.Control(member).GetChainStateError() != 0) {
      return FailBecause(typed, Widen("the record of the selection's state of ") + MemberName(member) +
                                    Widen(" cannot be read: nothing was merged"));
    }
  }
  const bool json = line.options.Has("json");
  if (keep + 1 >= members) {
    const WString said = Widen("the chain has ") + Counted(members - 1, "increment") +
                         Widen(": nothing to merge");
    if (json) {
      AnswerWith(JsonObject()
                     .Add("members", static_cast<ULONGLONG>(members))
                     .Add("kept", static_cast<ULONGLONG>(members - 1))
                     .AddRaw("removed", JsonArray({})));
    } else {
      WriteOut(typed + Widen(": ") + said + Widen("\n"));
    }
    return kExitSuccess;
  }
  CQVStorage& base = chain.Control(0).GetStorage();
  info.pszPassword = opener.password().empty() ? nullptr : opener.password().c_str();
  info.dwEncryptionKeySize = base.GetArchiveKeySize();
  info.dwCompression = base.IsArchiveCompressed() ? 1 : 0;
  info.ullVolumeSize = base.GetVolumeSize();
  DWORD blockSize = 0;
  for (DWORD member = 0; member < members; ++member) {
    blockSize = std::max(blockSize, chain.Control(member).GetStorage().GetArchiveBlockSize());
  }
  info.dwBlockSize = blockSize;
  if (info.pszPassword != nullptr && info.dwEncryptionKeySize == 0) {
    return FailBecause(typed, Widen("the chain's key size cannot be read: nothing was merged"));
  }
  const MergeOutcome outcome = MergeChain(chain, {members, static_cast<DWORD>(keep)}, info, writer);
  writer.GetStorage().UnlockArchive();
  if (!outcome.failure.empty()) {
    FailBecause(typed, outcome.failure + Widen(": nothing was merged, the chain is as it was"), outcome.error);
    return kExitFailure;
  }
  const DWORD folded = members - static_cast<DWORD>(keep);
  if (json) {
    std::vector<WString> removed;
    for (const WString& path : outcome.removed) removed.push_back(JsonString(path));
    AnswerWith(JsonObject()
                   .Add("members", static_cast<ULONGLONG>(members))
                   .Add("kept", keep)
                   .Add("base_items", outcome.baseItems)
                   .Add("copied_bytes", outcome.copiedBytes)
                   .AddRaw("removed", JsonArray(removed)));
  } else {
    WriteOut(typed + Widen(": members 0 to ") + Number(folded - 1) + Widen(" folded into a new base of ") +
             Counted(outcome.baseItems, "item") + Widen("; ") + Counted(keep, "increment") +
             Widen(" kept\n"));
  }
  return kExitSuccess;
}

}  // namespace qvtool
