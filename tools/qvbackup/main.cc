#include "commands.h"
#include "console.h"

namespace qvtool {

namespace {

const char kUsage[] =
    "usage: qvbackup COMMAND [OPTIONS] ...\n"
    "\n"
    "commands:\n"
    "  scan [--list] PATH   index the folder PATH and print a summary, or with\n"
    "                       --list one line per entry: path, d|f, size in bytes,\n"
    "                       last write time (FILETIME), attributes (hex)\n"
    "  backup [--password TEXT] FOLDER ARCHIVE_FOLDER NAME\n"
    "                       save FOLDER and everything below it into the\n"
    "                       archive NAME.QVA in ARCHIVE_FOLDER\n"
    "  restore [--password TEXT] ARCHIVE_FOLDER NAME TARGET_FOLDER\n"
    "                       recreate the archive's files below TARGET_FOLDER,\n"
    "                       as TARGET_FOLDER\\Kelvar_<drive>\\<path>\n";

}  // namespace

int RunQvbackup(const std::vector<WString>& arguments) {
  if (arguments.empty()) {
    WriteError(Widen(kUsage));
    return 2;
  }
  const WString& command = arguments[0];
  std::vector<WString> rest(arguments.begin() + 1, arguments.end());
  if (command == Widen("scan")) return RunScan(rest);
  if (command == Widen("backup")) return RunBackup(rest);
  if (command == Widen("restore")) return RunRestore(rest);
  if (command == Widen("--help") || command == Widen("-h") || command == Widen("help")) {
    WriteOut(Widen(kUsage));
    return 0;
  }
  WriteError(Widen("qvbackup: unknown command '") + command + Widen("'\n\n") + Widen(kUsage));
  return 2;
}

}  // namespace qvtool
