// Reads back what the engine writes to theLog: for its lifetime, theLog is
// rebuilt over a QV_LOG.INI in a temporary folder (errors, trace and
// details), and rebuilt as the real system configures it afterwards, as if
// the library were loaded again.
#ifndef QVBACKUP_TESTS_ENGINE_ENGINE_LOG_CAPTURE_H_
#define QVBACKUP_TESTS_ENGINE_ENGINE_LOG_CAPTURE_H_

#include <memory>
#include <new>
#include <vector>

#include "log/log_test_util.h"

namespace qvtest {

class CapturedLog {
 public:
  CapturedLog() {
    WriteBytes(dir_.path() / "QV_LOG.INI", "[LOG]\r\nOutputName=engine.log\r\nLogLevel=13\r\n");
    system_.roots = {dir_.DrivePath() + W("\\")};
    theLog.~QV_LOG();
    new (&theLog) QV_LOG(nullptr, std::make_unique<FakeLogEnv>(&system_));
  }
  ~CapturedLog() {
    theLog.~QV_LOG();
    new (&theLog) QV_LOG();
  }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;

  bool IsOpen() const { return theLog.IsOpen(); }

  // The lines written so far after the banner block (banner, empty line).
  std::vector<WString> Body() const {
    std::vector<WString> lines = ReadLogLines(dir_.path() / "engine.log");
    if (lines.size() < 2) return {};
    return std::vector<WString>(lines.begin() + 2, lines.end());
  }

 private:
  TempDir dir_;
  FakeSystem system_;
};

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_ENGINE_ENGINE_LOG_CAPTURE_H_
