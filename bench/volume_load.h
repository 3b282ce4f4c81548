// What the volume loader benchmarks share: a load run in a child process
// (so that its peak memory is its own), The Sleuth Kit's `fls -r -p` run and
// timed on the same image, and the best of several warm rounds.
#ifndef QVBACKUP_BENCH_VOLUME_LOAD_H_
#define QVBACKUP_BENCH_VOLUME_LOAD_H_

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "qvbackup/wintypes.h"

namespace qvbench {

struct LoadResult {
  double seconds = 1e9;
  long peakKiB = 0;
  ULONGLONG entries = 0;  // loaded, or lines fls printed
  ULONGLONG records = 0;  // NTFS: MFT record slots, used or not
  DWORD kind = 0;         // the file-system kind OpenDrive found
};

inline double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Runs `load(result)` in a child process; false from it ends the benchmark.
template <typename Load>
LoadResult InChild(const char* what, Load load) {
  int channel[2];
  if (pipe(channel) != 0) std::exit(1);
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    LoadResult result;
    if (!load(result)) _exit(3);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    result.peakKiB = usage.ru_maxrss;
    if (write(channel[1], &result, sizeof(result)) != static_cast<ssize_t>(sizeof(result))) _exit(4);
    _exit(0);
  }
  close(channel[1]);
  LoadResult result;
  if (read(channel[0], &result, sizeof(result)) != static_cast<ssize_t>(sizeof(result))) {
    std::fprintf(stderr, "the %s load failed\n", what);
    std::exit(1);
  }
  close(channel[0]);
  waitpid(child, nullptr, 0);
  return result;
}

// `fls -r -p IMAGE`, its lines counted through a pipe: every name it lists,
// deleted ones and its own virtual entries included.
inline LoadResult RunFls(const std::string& image) {
  int channel[2];
  if (pipe(channel) != 0) std::exit(1);
  LoadResult result;
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    if (dup2(channel[1], STDOUT_FILENO) < 0) _exit(126);
    execlp("fls", "fls", "-r", "-p", image.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(channel[1]);
  char buffer[65536];
  ssize_t got;
  while ((got = read(channel[0], buffer, sizeof(buffer))) > 0) {
    result.entries += static_cast<ULONGLONG>(std::count(buffer, buffer + got, '\n'));
  }
  close(channel[0]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  result.seconds = Seconds(start);
  result.peakKiB = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "fls failed (is sleuthkit installed?)\n");
    std::exit(1);
  }
  return result;
}

// The fastest of `rounds` runs, after one that warms the page cache.
template <typename Run>
LoadResult Best(int rounds, Run run) {
  LoadResult best = run();
  for (int i = 0; i < rounds; ++i) {
    LoadResult next = run();
    if (next.seconds < best.seconds) best = next;
  }
  return best;
}

}  // namespace qvbench

#endif  // QVBACKUP_BENCH_VOLUME_LOAD_H_
