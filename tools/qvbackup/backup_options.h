// The command line of qvbackup backup, checked and turned into settings:
// what to save (sources, masks, extensions, categories, exclusions) and how
// (archive folder and name, password and key size, volume and block sizes,
// compression, increment, self-extracting program).
#ifndef QVBACKUP_TOOLS_BACKUP_OPTIONS_H_
#define QVBACKUP_TOOLS_BACKUP_OPTIONS_H_

#include <vector>

#include "console.h"
#include "exclusion_patterns.h"
#include "options.h"
#include "qvbackup/qvstorage.h"

namespace qvtool {

struct BackupSettings {
  std::vector<WString> sources;       // as typed
  WString targetFolder;               // --to, as typed
  WString targetDrivePath;            // --to as a drive path
  // --to rclone:REMOTE:PATH: "REMOTE:PATH"; the two above then name the
  // local work folder the archive is written in before it is sent.
  WString remoteFolder;
  WString name;                       // --name: the archive's file stem
  bool keyBitsGiven = false;
  DWORD keyBits = 256;                // with a password only
  ULONGLONG volumeSize = QVS_NO_VOLUME_LIMIT;
  bool volumeSizeGiven = false;
  DWORD blockSize = QVS_DEFAULT_BLOCK_SIZE;
  bool compress = true;
  DWORD effort = QVS_EFFORT_DEFAULT;  // --level
  std::vector<WString> masks;         // --mask: a file is taken when any matches its name
  std::vector<WString> extensions;    // --ext, without their dots
  std::vector<WString> categories;    // group names of the extension groups ("Pictures")
  std::vector<ExclusionPattern> exclusions;  // --exclude, then --exclude-dir, then --exclude-file
  std::vector<WString> excludedExtensions;   // without their dots
  bool incremental = false;
  bool replace = false;               // a full backup may take the place of an archive of the name
  bool dryRun = false;                // list what would be saved, write nothing
  bool selfExtracting = false;
  WString sfxStub;                    // --sfx-stub as a drive path; empty: the one beside the program
  DWORD threads = 1;
  bool json = false;
  bool quiet = false;
};

// The usage text of the command (--help).
const char* BackupUsage();

// Parses and checks `arguments`, applies the --drive mappings and fills
// `settings` (and `parsed`, for the password options). Returns -1 when the
// command should go on; otherwise the exit status to end with, after
// printing the usage (--help: kExitSuccess) or why the command line is
// wrong (kExitUsage) or a path no drive holds (kExitFailure).
int ReadBackupSettings(const std::vector<WString>& arguments, ParsedOptions* parsed, BackupSettings* settings);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_BACKUP_OPTIONS_H_
