// qvbackup verify: every block of every member and volume read back and
// checked, and each saved file's record and data accounted for.
#include <memory>
#include <vector>

#include "archive_check.h"
#include "archive_command.h"
#include "commands.h"
#include "json_answer.h"
#include "progress.h"
#include "report.h"

namespace qvtool {

namespace {

const char kUsage[] =
    "usage: qvbackup verify ARCHIVE [--increment N] [--json] [--quiet]\n"
    "\n"
    "Reads every block of every member and volume of ARCHIVE (its first volume\n"
    "file: NAME.QVA, NAME.1.QVA when split into volumes, NAME.exe when\n"
    "self-extracting) and checks the headers, each block's lengths, checksum,\n"
    "decompression and (with a password) decryption tag, the index, and for\n"
    "every saved file its record, the chain of data blocks after it, and that\n"
    "the content they hold is the size the index gives (a file that changed\n"
    "while it was read may differ; one saved as runs around its holes must\n"
    "end within it).\n"
    "Prints each damaged file with what is wrong, then damage that belongs to\n"
    "no one file. Nothing is written to the archive.\n"
    "\n"
    "Exit status: 0 when the archive is sound, 1 when damage was found or the\n"
    "archive cannot be read at all, 2 wrong usage.\n"
    "\n"
    "  --increment N   check only member N of a chain (0: the base archive)\n"
    "  --json          {\"ok\", \"members\", \"volumes\", \"blocks\", \"files\",\n"
    "                  \"damaged\": [{\"path\", \"reason\"}], \"errors\": [...]}, with\n"
    "                  \"error\" and \"exit\" when not sound (see qvbackup --help)\n"
    "  --quiet         no progress bar\n"
    "  --password-file F, --password-env VAR   the password of an encrypted archive\n"
    "  --drive L=ROOT[,DEVICE]                 map a drive letter first\n";

// The stream bytes of each member first..last (0 for one that cannot be
// opened), so that the progress bar counts bytes over the whole chain.
std::vector<ULONGLONG> MeasureMembers(ArchiveOpener& opener, CQVStorage& base, DWORD first, DWORD last) {
  std::vector<ULONGLONG> sizes;
  for (DWORD member = first; member <= last; ++member) {
    CQVStorage other;
    CQVStorage& storage = member == 0 ? base : other;
    const bool open = member == 0 || opener.Open(member, other);
    const ULONGLONG size = open ? storage.Seek(0, 2, FALSE) : QVS_INVALID_OFFSET;
    sizes.push_back(size == QVS_INVALID_OFFSET ? 0 : size);
  }
  return sizes;
}

bool IsDamage(DWORD error) { return error == ERROR_BAD_FORMAT || error == ERROR_INVALID_DATA; }

// "N damaged files, M other problems".
WString DamageCounts(const VerifyFindings& findings) {
  return Counted(findings.damaged.size(), "damaged file") + Widen(", ") +
         Counted(findings.errors.size(), "other problem");
}

int Report(const ArchiveCommandLine& line, const VerifyFindings& findings) {
  const bool ok = findings.damaged.empty() && findings.errors.empty();
  if (line.options.Has("json")) {
    if (!ok) FailInJsonAnswer(line.location.typed, DamageCounts(findings));
    std::vector<WString> damaged;
    for (const Damage& damage : findings.damaged) {
      damaged.push_back(JsonObject().Add("path", damage.path).Add("reason", damage.reason).Text());
    }
    std::vector<WString> errors;
    for (const WString& error : findings.errors) errors.push_back(JsonString(error));
    AnswerWith(JsonObject()
                 .AddBool("ok", ok)
                 .Add("members", static_cast<ULONGLONG>(findings.members))
                 .Add("volumes", findings.volumes)
                 .Add("blocks", findings.blocks)
                 .Add("files", findings.files)
                 .AddRaw("damaged", JsonArray(damaged))
                 .AddRaw("errors", JsonArray(errors)));
    return ok ? kExitSuccess : kExitFailure;
  }
  WString text;
  for (const Damage& damage : findings.damaged) text += Widen("damaged: ") + damage.path + Widen(": ") + damage.reason + Widen("\n");
  for (const WString& error : findings.errors) text += Widen("error: ") + error + Widen("\n");
  text += line.location.typed + Widen(": ") + Counted(findings.members, "member") + Widen(", ") +
          Counted(findings.volumes, "volume") + Widen(", ") + Counted(findings.blocks, "block") + Widen(", ") +
          Counted(findings.files, "file") + Widen(": ");
  if (ok) {
    text += Widen("sound\n");
  } else {
    text += DamageCounts(findings) + Widen("\n");
  }
  WriteOut(text);
  return ok ? kExitSuccess : kExitFailure;
}

}  // namespace

int RunVerify(const std::vector<WString>& arguments) {
  ArchiveCommandLine line;
  const int status = ReadArchiveCommandLine("verify", kUsage, arguments, {{"increment", true, false}}, &line);
  if (status >= 0) return status;
  ArchiveOpener opener(line.location, line.options);
  VerifyFindings findings;
  auto base = std::make_unique<CQVBackupControl>();
  if (!opener.Open(0, base->GetStorage())) {
    if (!IsDamage(opener.error())) {
      FailBecause(line.location.typed, opener.reason(), opener.error());
      return ExitForArchiveError(opener.error());
    }
    findings.members = 1;
    findings.errors.push_back(opener.reason());
    return Report(line, findings);
  }
  const ChainVerdict verdict = opener.JudgeMembers();
  TellChainVerdict(line.location.typed, verdict);
  // A member that never ended, or one past a break in the chain, is not
  // sound whatever the members before it are.
  if (!verdict.error.empty()) findings.errors.push_back(verdict.error);
  if (verdict.unfinishedLast) findings.errors.push_back(verdict.notes.back());
  const DWORD members = ArchiveOpener::MembersToRead(verdict);
  if (line.oneMember && line.member >= members) {
    return FailBecause(line.location.typed, Widen("no increment ") + Number(line.member) + Widen(" (the chain holds ") +
                                               Number(members) + Widen(members == 1 ? " member)" : " members)"));
  }
  const DWORD first = line.oneMember ? line.member : 0;
  const DWORD last = line.oneMember ? line.member : members - 1;
  Identifier baseIdentifier{};
  ReadIdentifier(base->GetStorage(), &baseIdentifier);
  const std::vector<ULONGLONG> sizes = MeasureMembers(opener, base->GetStorage(), first, last);
  ULONGLONG total = 0;
  for (ULONGLONG size : sizes) total += size;
  ProgressBar bar(StandardErrorIsTerminal() && !line.options.Has("quiet"), total);
  ULONGLONG done = 0;
  for (DWORD member = first; member <= last; ++member) {
    const WString label = members > 1 ? MemberName(member) : WString();
    std::unique_ptr<CQVBackupControl> control = member == 0 ? std::move(base) : std::make_unique<CQVBackupControl>();
    if (member != 0 && !opener.Open(member, control->GetStorage())) {
      ++findings.members;
      findings.errors.push_back(label + Widen(": ") + opener.reason());
      continue;
    }
    const ULONGLONG size = sizes[member - first];
    MemberCheck(*control, member, label).Run(&baseIdentifier, [&](double share) {
      if (total != 0) bar.Update(static_cast<DWORD>((done + share * size) * 100 / total));
    }, &findings);
    done += size;
  }
  bar.Finish();
  for (const WString& said : opener.damagedHeaders()) findings.errors.push_back(said);
  return Report(line, findings);
}

}  // namespace qvtool
