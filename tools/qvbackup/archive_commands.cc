// qvbackup backup / restore: a folder saved into an archive through the
// engine (filters, file list, backup run), and an archive restored below a
// folder.
#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtool {

namespace {

const char kBackupUsage[] = "usage: qvbackup backup [--password TEXT] FOLDER ARCHIVE_FOLDER NAME\n";
const char kRestoreUsage[] = "usage: qvbackup restore [--password TEXT] ARCHIVE_FOLDER NAME TARGET_FOLDER\n";

// What the engine told: the last message that ends a run, and progress.
class ToolCallback : public CQVEngineCallback {
 public:
  void OnEngineMessage(DWORD dwCode, ULONGLONG ullValue1, ULONGLONG ullValue2, ULONGLONG, ULONGLONG) override {
    if (dwCode == ENGINE_MSG_PROGRESS && ullValue1 == 2 && ullValue2 != 0) {
      percent = *reinterpret_cast<const DWORD*>(static_cast<std::uintptr_t>(ullValue2));
    } else if (dwCode != ENGINE_MSG_SCAN_BEGIN) {
      outcome = dwCode;
    }
  }
  DWORD outcome = 0;
  DWORD percent = 0;
};

struct Options {
  WString password;
  std::vector<WString> paths;  // each as a drive path
};

// Splits the arguments: three of them, the one at `nameAt` an archive name
// and the others paths. False (after printing why) when they do not fit.
bool ParseOptions(const std::vector<WString>& arguments, std::size_t nameAt, const char* usage,
                  Options* options) {
  std::vector<WString> given;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == Widen("--password") && i + 1 < arguments.size()) {
      options->password = arguments[++i];
    } else {
      given.push_back(arguments[i]);
    }
  }
  if (given.size() != 3) {
    WriteError(Widen(usage));
    return false;
  }
  for (std::size_t i = 0; i < given.size(); ++i) {
    WString path = i == nameAt ? given[i] : DrivePathOf(given[i]);
    if (path.empty()) {
      WriteError(Widen("qvbackup: no drive holds '") + given[i] + Widen("'\n"));
      return false;
    }
    options->paths.push_back(path);
  }
  return true;
}

QVS_ARCHIVE_INFO ArchiveInfo(const Options& options, const WString& folder, const WString& name) {
  QVS_ARCHIVE_INFO info = {};
  info.dwSize = sizeof(info);
  info.pszFolder = folder.c_str();
  info.pszName = name.c_str();
  info.pszPassword = options.password.empty() ? nullptr : options.password.c_str();
  info.dwEncryptionKeySize = 256;
  info.dwCompression = 1;
  info.dwBlockSize = QVS_DEFAULT_BLOCK_SIZE;
  info.ullVolumeSize = QVS_NO_VOLUME_LIMIT;
  return info;
}

WString Number(ULONGLONG value) { return Widen(std::to_string(value)); }

}  // namespace

int RunBackup(const std::vector<WString>& arguments) {
  Options options;
  if (!ParseOptions(arguments, 2, kBackupUsage, &options)) return 2;
  const WString& source = options.paths[0];
  QVS_ARCHIVE_INFO info = ArchiveInfo(options, options.paths[1], options.paths[2]);

  ToolCallback callback;
  CQVBackupEngine engine(&callback);
  engine.CreateFilters(QVT("qvbackup"), CQVString(source.c_str()), QVT(""), QVFF_RECURSE, QVT("*"));
  engine.MakeFileList();
  ULONGLONG files = engine.m_setFileToBackup.size();
  ULONGLONG bytes = static_cast<ULONGLONG>(engine.m_i64SizeOfBackup);
  engine.BackupControl(&info);
  switch (callback.outcome) {
    case 0:
      WriteOut(Widen("saved ") + Number(files) + Widen(" files, ") + Number(bytes) + Widen(" bytes, from ") +
               source + Widen(" into ") + options.paths[1] + Widen("\\") + options.paths[2] + Widen("\n"));
      return 0;
    case ENGINE_MSG_NO_FILES:
      WriteError(Widen("qvbackup: nothing to save in ") + source + Widen("\n"));
      return 1;
    case ENGINE_MSG_NO_SPACE:
      WriteError(Widen("qvbackup: not enough free space in ") + options.paths[1] + Widen("\n"));
      return 1;
    case ENGINE_MSG_CANCELLED:
      WriteError(Widen("qvbackup: the backup was cancelled\n"));
      return 1;
    default:
      WriteError(Widen("qvbackup: the archive could not be created in ") + options.paths[1] + Widen("\n"));
      return 1;
  }
}

int RunRestore(const std::vector<WString>& arguments) {
  Options options;
  if (!ParseOptions(arguments, 1, kRestoreUsage, &options)) return 2;
  QVS_ARCHIVE_INFO info = ArchiveInfo(options, options.paths[0], options.paths[1]);
  {
    // The engine's restore reports to its log only: say here, plainly,
    // when the archive cannot be opened (missing, damaged, wrong password).
    CQVBackupControl probe;
    if (!probe.GetStorage().OpenArchive(&info) || !probe.LoadArchiveIndex()) {
      DWORD error = GetLastError();
      WriteError(Widen("qvbackup: cannot open the archive ") + options.paths[0] + Widen("\\") +
                 options.paths[1] + Widen(" (error ") + Number(error) + Widen(")\n"));
      return 1;
    }
    probe.EndRestore();
  }
  CQVBackupEngine engine;
  engine.SetRestoreRoot(options.paths[2].c_str());
  engine.RestoreFile(&info);
  WriteOut(Widen("restored ") + options.paths[0] + Widen("\\") + options.paths[1] + Widen(" below ") +
           options.paths[2] + Widen("\n"));
  return 0;
}

}  // namespace qvtool
