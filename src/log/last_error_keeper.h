// Keeps the thread's last error across the log's own system calls, so that
// logging between a failure and its report does not change the reason.
#ifndef QVBACKUP_LOG_LAST_ERROR_KEEPER_H_
#define QVBACKUP_LOG_LAST_ERROR_KEEPER_H_

#include "qvbackup/wintypes.h"

namespace qv::log {

class LastErrorKeeper {
 public:
  LastErrorKeeper() : error_(GetLastError()) {}
  ~LastErrorKeeper() { SetLastError(error_); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  DWORD error_;
};

}  // namespace qv::log

#endif  // QVBACKUP_LOG_LAST_ERROR_KEEPER_H_
