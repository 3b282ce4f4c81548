// CQVPE: facts about the running executable image and the system it runs
// on.
#ifndef QVBACKUP_SERVICES_QVPE_H_
#define QVBACKUP_SERVICES_QVPE_H_

#include "qvbackup/wintypes.h"

class CQVPE {
 public:
  CQVPE() = default;
  virtual ~CQVPE() = default;

  // Non-zero when the process runs under the Windows pre-installation
  // environment (so the installed Windows is an ordinary drive, and this
  // program's folder is not where the installed programs live). Always
  // FALSE on other systems. `dwReserved` must be 0; it is not read. The
  // last error is left as it was.
  virtual BOOL IsWinPE(DWORD dwReserved);
};

#endif  // QVBACKUP_SERVICES_QVPE_H_
