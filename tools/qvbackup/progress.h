// The progress bar qvbackup draws on standard error while it works: the
// percentage, the speed in MB/s and the time left. Drawn only on a
// terminal and without --quiet; a few times a second at most.
#ifndef QVBACKUP_TOOLS_PROGRESS_H_
#define QVBACKUP_TOOLS_PROGRESS_H_

#include <chrono>

#include "console.h"

namespace qvtool {

class ProgressBar {
 public:
  // `totalBytes` is what 100% stands for (0: unknown, no speed shown).
  ProgressBar(bool enabled, ULONGLONG totalBytes);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Update(DWORD percent);
  // Clears the line; further updates draw nothing.
  void Finish();

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled_;
  ULONGLONG totalBytes_;
  Clock::time_point start_;
  Clock::time_point lastDrawn_;
  DWORD lastPercent_ = 101;
  DWORD lastReported_ = 101;
};

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_PROGRESS_H_
