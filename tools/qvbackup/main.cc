#include "commands.h"
#include "console.h"
#include "json_answer.h"
#include "qvbackup/host.h"
#include "report.h"

namespace qvtool {

namespace {

const char kUsage[] =
    "usage: qvbackup COMMAND [OPTIONS] ...\n"
    "\n"
    "commands:\n"
    "  backup SOURCE... --to DIR --name NAME   save folders and files into an archive\n"
    "  restore ARCHIVE --to DIR                 recreate an archive's files below DIR\n"
    "  list ARCHIVE                             one line per saved file\n"
    "  members ARCHIVE                          the members of a chain: dates, sizes, states\n"
    "  merge ARCHIVE --keep N                   fold a chain's oldest members into its base\n"
    "  verify ARCHIVE                           read and check every block of an archive\n"
    "  scan PATH|DRIVE:\\                        index a folder or a volume and summarise it\n"
    "  count                                    files and bytes per category\n"
    "  lst FILE                                 write the list file of a profile\n"
    "\n"
    "options every command takes:\n"
    "  --help                 the command's own usage\n"
    "  --json                 one JSON object on standard output instead of text, also\n"
    "                         when the command fails: it then holds \"error\":\n"
    "                         {\"message\", \"code\"} (the first failure said on standard\n"
    "                         error, its Windows error number or null) and \"exit\"\n"
    "  --quiet                no progress bar\n"
    "  --drive L=ROOT[,DEVICE]  map drive letter L to a folder (and a raw device or image)\n"
    "  --password-file F      the archive's password: first line of F\n"
    "  --password-env VAR     the archive's password: the environment variable VAR\n"
    "  (without either, the password is asked for when standard input is a terminal)\n"
    "\n"
    "'qvbackup COMMAND --help' tells more. Exit status: 0 success, 1 failure or\n"
    "damage found, 2 wrong usage, 3 the archive is in use by another run, 4 a\n"
    "backup of files that changed while read, 5 a wrong or missing password.\n";

// The line the library's trace log has for the user (a configuration it
// ignored, a log it would not write), shown once before anything else.
void ShowLogNotice() {
  WCHAR notice[8192];
  const DWORD length = QVGetLogNotice(notice, static_cast<DWORD>(sizeof(notice) / sizeof(notice[0])));
  if (length != 0) WriteError(Widen("qvbackup: ") + WString(notice, length) + Widen("\n"));
}

int RunCommand(const std::vector<WString>& arguments) {
  const WString& command = arguments[0];
  std::vector<WString> rest(arguments.begin() + 1, arguments.end());
  if (command == Widen("backup")) return RunBackup(rest);
  if (command == Widen("restore")) return RunRestore(rest);
  if (command == Widen("list")) return RunList(rest);
  if (command == Widen("verify")) return RunVerify(rest);
  if (command == Widen("scan")) return RunScan(rest);
  if (command == Widen("count")) return RunCount(rest);
  if (command == Widen("lst")) return RunLst(rest);
  if (command == Widen("members")) return RunMembers(rest);
  if (command == Widen("merge")) return RunMerge(rest);
  if (command == Widen("--help") || command == Widen("-h") || command == Widen("help")) return ShowUsage(kUsage);
  if (command == Widen("--version")) {
    if (AnswersInJson()) {
      AnswerWith(JsonObject().Add("version", Widen(QV_VERSION_TEXT)));
    } else {
      WriteOut(Widen("qvbackup " QV_VERSION_TEXT "\n"));
    }
    return kExitSuccess;
  }
  const WString message = Widen("unknown command '") + command + Widen("'");
  WriteError(Widen("qvbackup: ") + message + Widen("\nTry 'qvbackup --help'.\n"));
  NoteFailure(message, 0);
  return kExitUsage;
}

}  // namespace

int RunQvbackup(const std::vector<WString>& arguments) {
  ShowLogNotice();
  if (arguments.empty()) {
    WriteError(Widen(kUsage));
    return kExitUsage;
  }
  StartAnswer(arguments);
  return FinishAnswer(RunCommand(arguments));
}

}  // namespace qvtool

extern "C" QVBACKUP_API int QVRunQvbackup(DWORD count, const LPCWSTR* arguments) {
  std::vector<qvtool::WString> line;
  for (DWORD i = 0; i < count; ++i) if (arguments[i] != nullptr) line.emplace_back(arguments[i]);
  return qvtool::RunQvbackup(line);
}
