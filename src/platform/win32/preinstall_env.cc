// The pre-installation environment is recognised by the registry key it
// creates at start-up.
#include "platform/preinstall_env.h"

#include "platform/win32/win32_support.h"

namespace qv::platform {

bool SystemRunsInPreinstallationEnvironment() {
  const DWORD saved = GetLastError();
  HKEY key = nullptr;
  const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\MiniNT", 0,
                                    KEY_QUERY_VALUE, &key);
  if (opened == ERROR_SUCCESS) RegCloseKey(key);
  SetLastError(saved);
  return opened == ERROR_SUCCESS;
}

}  // namespace qv::platform
