#include "services/qvpe.h"

#include "platform/preinstall_env.h"

BOOL CQVPE::IsWinPE(DWORD /*dwReserved*/) { return qv::platform::RunsInPreinstallationEnvironment() ? TRUE : FALSE; }
