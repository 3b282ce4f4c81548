// No pre-installation environment exists outside Windows.
#include "platform/preinstall_env.h"

namespace qv::platform {

bool SystemRunsInPreinstallationEnvironment() { return false; }

}  // namespace qv::platform
