// Loads a FAT image into the index with LoadFATVolume and lists the same
// image with The Sleuth Kit's `fls -r -p` in the same run:
//   qv_fat_load_bench IMAGE [ROUNDS]
// (make an image with bench/make_fat_volume.sh). Prints, for each, the best
// time of ROUNDS warm runs, entries per second and the peak memory of the
// process that did it; then the ratio against fls.
#include <cstdio>
#include <cstdlib>

#include "bench_text.h"
#include "qvbackup/host.h"
#include "qvbackup/qvfilearray.h"
#include "volume_load.h"

namespace {

using qvbench::LoadResult;

LoadResult LoadOnce(const qvbench::Text& image) {
  return qvbench::InChild("FAT", [&](LoadResult& result) {
    QVSetDriveMapping(u'E', nullptr, image.c_str());
    CQVFileArray index;
    auto start = std::chrono::steady_clock::now();
    BOOL opened = index.OpenDrive(u'E');
    result.kind = index.GetFatSystem();
    BOOL loaded = opened && index.LoadFATVolume(QVT("E:\\"));
    result.seconds = qvbench::Seconds(start);
    index.CloseDrive();
    result.entries = index.GetItemCount(FALSE);
    return loaded != FALSE;
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qv_fat_load_bench IMAGE [ROUNDS]\n");
    return 2;
  }
  int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  qvbench::Text image = qvbench::Widen(argv[1]);
  LoadResult load = qvbench::Best(rounds, [&] { return LoadOnce(image); });
  LoadResult fls = qvbench::Best(rounds, [&] { return qvbench::RunFls(argv[1]); });
  std::printf("image: FAT%lu, %llu entries loaded, %llu lines from fls\n", static_cast<unsigned long>(load.kind),
              static_cast<unsigned long long>(load.entries), static_cast<unsigned long long>(fls.entries));
  auto line = [&](const char* name, const LoadResult& r) {
    std::printf("%-16s %8.3f s  %10.0f entries/s  peak %7.1f MiB\n", name, r.seconds, load.entries / r.seconds,
                r.peakKiB / 1024.0);
  };
  line("LoadFATVolume", load);
  line("fls -r -p", fls);
  std::printf("fls time / LoadFATVolume time: %.1f\n", fls.seconds / load.seconds);
  return 0;
}
