// Loads an NTFS image into the index, through the control codes and raw,
// and lists the same image with The Sleuth Kit's `fls -r -p` in the same run:
//   qv_ntfs_load_bench IMAGE [ROUNDS]
// (make an image with bench/make_ntfs_volume.sh). Prints, for each, the best
// time of ROUNDS warm runs, MFT records per second and the peak memory of
// the process that did it; then the ratios against fls.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_text.h"
#include "qvbackup/host.h"
#include "qvbackup/qvfilearray.h"

namespace {

using qvbench::Text;
using qvbench::Widen;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Bytes per MFT record, from the boot sector.
ULONGLONG RecordSize(const char* image) {
  unsigned char boot[512] = {};
  FILE* file = std::fopen(image, "rb");
  if (file == nullptr || std::fread(boot, 1, sizeof(boot), file) != sizeof(boot)) std::exit(1);
  std::fclose(file);
  ULONGLONG cluster = static_cast<ULONGLONG>(boot[11] | boot[12] << 8) * boot[13];
  auto perRecord = static_cast<signed char>(boot[0x40]);
  return perRecord < 0 ? 1ull << -perRecord : perRecord * cluster;
}

struct Result {
  double seconds = 1e9;
  long peakKiB = 0;
  ULONGLONG entries = 0;
  ULONGLONG records = 0;  // MFT record slots, used or not
};

// One load, in a child process so that its peak memory is its own.
Result LoadOnce(const Text& image, ULONGLONG recordSize, bool raw) {
  int channel[2];
  if (pipe(channel) != 0) std::exit(1);
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    QVSetDriveMapping(u'E', nullptr, image.c_str());
    Result result;
    CQVFileArray index;
    auto start = std::chrono::steady_clock::now();
    BOOL loaded = index.OpenDrive(u'E') &&
                  (raw ? index.AddNTFSVolume2(QVT("E:\\")) : index.AddNTFSVolume(QVT("E:\\")));
    result.seconds = Seconds(start);
    index.CloseDrive();
    if (!loaded) _exit(3);
    result.entries = index.GetItemCount(FALSE);
    // The raw variant does not list record 0, the $MFT's own; the
    // control-code run's count stands for both.
    DWORD mft = index.Add(QVT("E:\\$MFT"), nullptr, QVFA_ADD_LOOKUP);
    result.records = mft != 0 ? index.GetSize(mft) / recordSize : 0;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    result.peakKiB = usage.ru_maxrss;
    if (write(channel[1], &result, sizeof(result)) != static_cast<ssize_t>(sizeof(result))) _exit(4);
    _exit(0);
  }
  close(channel[1]);
  Result result;
  if (read(channel[0], &result, sizeof(result)) != static_cast<ssize_t>(sizeof(result))) {
    std::fprintf(stderr, "the %s load failed\n", raw ? "raw" : "control-code");
    std::exit(1);
  }
  close(channel[0]);
  waitpid(child, nullptr, 0);
  return result;
}

Result FlsOnce(const std::string& image) {
  Result result;
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) {
    if (!std::freopen("/dev/null", "w", stdout)) _exit(126);
    execlp("fls", "fls", "-r", "-p", image.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
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

template <typename Run>
Result Best(int rounds, Run run) {
  Result best = run();  // warms the page cache
  for (int i = 0; i < rounds; ++i) {
    Result next = run();
    if (next.seconds < best.seconds) best = next;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qv_ntfs_load_bench IMAGE [ROUNDS]\n");
    return 2;
  }
  int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  Text image = Widen(argv[1]);
  ULONGLONG recordSize = RecordSize(argv[1]);
  Result control = Best(rounds, [&] { return LoadOnce(image, recordSize, false); });
  Result raw = Best(rounds, [&] { return LoadOnce(image, recordSize, true); });
  Result fls = Best(rounds, [&] { return FlsOnce(argv[1]); });
  auto line = [&](const char* name, const Result& r) {
    std::printf("%-22s %8.3f s  %10.0f records/s  peak %7.1f MiB\n", name, r.seconds,
                control.records / r.seconds, r.peakKiB / 1024.0);
  };
  std::printf("image: %llu MFT records, %llu entries loaded\n", static_cast<unsigned long long>(control.records),
              static_cast<unsigned long long>(control.entries));
  line("AddNTFSVolume", control);
  line("AddNTFSVolume2 (raw)", raw);
  line("fls -r -p", fls);
  std::printf("fls time / AddNTFSVolume time:  %.1f\n", fls.seconds / control.seconds);
  std::printf("fls time / AddNTFSVolume2 time: %.1f\n", fls.seconds / raw.seconds);
  return 0;
}
