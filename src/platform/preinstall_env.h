// Whether the process runs under the Windows pre-installation environment,
// a minimal system started from removable media, where the installed
// Windows is an ordinary data drive.
#ifndef QVBACKUP_PLATFORM_PREINSTALL_ENV_H_
#define QVBACKUP_PLATFORM_PREINSTALL_ENV_H_

namespace qv::platform {

// Windows: true when HKLM\SYSTEM\CurrentControlSet\Control\MiniNT exists,
// the key that system sets. POSIX: always false. Leaves the last error as
// it was.
bool RunsInPreinstallationEnvironment();

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_PREINSTALL_ENV_H_
