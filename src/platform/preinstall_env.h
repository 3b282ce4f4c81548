// Whether the process runs under the Windows pre-installation environment,
// a minimal system started from removable media, where the installed
// Windows is an ordinary data drive.
#ifndef QVBACKUP_PLATFORM_PREINSTALL_ENV_H_
#define QVBACKUP_PLATFORM_PREINSTALL_ENV_H_

#include <optional>

namespace qv::platform {

// Windows: true when HKLM\SYSTEM\CurrentControlSet\Control\MiniNT exists,
// the key that system sets. POSIX: always false. Leaves the last error as
// it was.
bool RunsInPreinstallationEnvironment();

// For tests of the code that behaves differently there: makes
// RunsInPreinstallationEnvironment answer `answer` on every thread until it
// is called again; std::nullopt asks the system again.
void OverridePreinstallationEnvironmentForTesting(std::optional<bool> answer);

// What the system itself says (the answer when no override is set).
bool SystemRunsInPreinstallationEnvironment();

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_PREINSTALL_ENV_H_
