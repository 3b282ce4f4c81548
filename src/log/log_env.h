// Everything the trace log asks of the system, behind one class, so that a
// test can give the log its own folders, clock and file (see QV_LOG).
#ifndef QVBACKUP_LOG_LOG_ENV_H_
#define QVBACKUP_LOG_LOG_ENV_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/file_ops.h"
#include "qvbackup/qvstring.h"
#include "qvbackup/wintypes.h"

namespace qv::log {

// The real system's answers. A test derives from it and replaces what it
// needs; every member may be called at any time from the log's thread.
class LogEnv {
 public:
  virtual ~LogEnv();

  // The folders searched in order for the configuration file, each ending
  // with '\': the roots of the drives C to Z ("C:\" ... "Z:\").
  virtual std::vector<CQVString> ConfigurationRoots();

  // The drive type of a root folder, numbered as GetDriveTypeW numbers it
  // (5: CD-ROM, whose roots the search skips).
  virtual UINT DriveTypeOf(const WCHAR* root);

  // The current folder, the last place searched. False when it is unknown.
  virtual bool CurrentFolder(CQVString* folder);

  // The time now in seconds since 1970 UTC.
  virtual std::int64_t Now();

  // The local time of `seconds`; false when it cannot be shown.
  virtual bool ToLocalTime(std::int64_t seconds, SYSTEMTIME* local);

  // Creates the log file for writing, shared for reading and writing: a new
  // file only, so that nothing already at the name (a file, or a symbolic
  // link to one) is ever opened. Null with the last error on failure.
  virtual std::unique_ptr<qv::platform::WritableFile> CreateLogFile(const WCHAR* path);
};

}  // namespace qv::log

#endif  // QVBACKUP_LOG_LOG_ENV_H_
