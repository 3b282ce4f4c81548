#include "progress.h"

#include <cstdio>

namespace qvtool {

ProgressBar::ProgressBar(bool enabled, ULONGLONG totalBytes)
    : enabled_(enabled), totalBytes_(totalBytes), start_(Clock::now()), lastDrawn_(start_) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Update(DWORD percent) {
  if (percent != lastReported_) {
    lastReported_ = percent;
    ReportProgress(percent);
  }
  if (!enabled_ || percent == lastPercent_) return;
  const Clock::time_point now = Clock::now();
  if (percent < 100 && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
  lastDrawn_ = now;
  lastPercent_ = percent;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  char line[96];
  int length = std::snprintf(line, sizeof(line), "\r%3u%%", static_cast<unsigned>(percent));
  if (totalBytes_ > 0 && seconds > 0.2 && percent > 0) {
    const double done = static_cast<double>(totalBytes_) * percent / 100.0;
    const double rate = done / seconds;
    const double left = percent < 100 ? seconds * (100.0 - percent) / percent : 0.0;
    length += std::snprintf(line + length, sizeof(line) - static_cast<std::size_t>(length),
                            "  %8.1f MB/s  %3d:%02d left", rate / 1e6, static_cast<int>(left) / 60,
                            static_cast<int>(left) % 60);
  }
  std::fputs(line, stderr);
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  if (!enabled_) return;
  std::fputs("\r                                              \r", stderr);
  std::fflush(stderr);
  enabled_ = false;
}

}  // namespace qvtool
