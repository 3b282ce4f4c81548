// Loads an NTFS image into the index, through the control codes and raw,
// and lists the same image with The Sleuth Kit's `fls -r -p` in the same run:
//   qv_ntfs_load_bench IMAGE [ROUNDS]
// (make an image with bench/make_ntfs_volume.sh). Prints, for each, the best
// time of ROUNDS warm runs, MFT records per second and the peak memory of
// the process that did it; then the ratios against fls.
#include <cstdio>
#include <cstdlib>

#include "bench_text.h"
#include "qvbackup/host.h"
#include "qvbackup/qvfilearray.h"
#include "volume_load.h"

namespace {

using qvbench::LoadResult;

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

LoadResult LoadOnce(const qvbench::Text& image, ULONGLONG recordSize, bool raw) {
  return qvbench::InChild(raw ? "raw" : "control-code", [&](LoadResult& result) {
    QVSetDriveMapping(u'E', nullptr, image.c_str());
    CQVFileArray index;
    auto start = std::chrono::steady_clock::now();
    BOOL loaded = index.OpenDrive(u'E') &&
                  (raw ? index.AddNTFSVolume2(QVT("E:\\")) : index.AddNTFSVolume(QVT("E:\\")));
    result.seconds = qvbench::Seconds(start);
    index.CloseDrive();
    result.entries = index.GetItemCount(FALSE);
    // The raw variant does not list record 0, the $MFT's own; the
    // control-code run's count stands for both.
    DWORD mft = index.Add(QVT("E:\\$MFT"), nullptr, QVFA_ADD_LOOKUP);
    result.records = mft != 0 ? index.GetSize(mft) / recordSize : 0;
    return loaded != FALSE;
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qv_ntfs_load_bench IMAGE [ROUNDS]\n");
    return 2;
  }
  int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  qvbench::Text image = qvbench::Widen(argv[1]);
  ULONGLONG recordSize = RecordSize(argv[1]);
  LoadResult control = qvbench::Best(rounds, [&] { return LoadOnce(image, recordSize, false); });
  LoadResult raw = qvbench::Best(rounds, [&] { return LoadOnce(image, recordSize, true); });
  LoadResult fls = qvbench::Best(rounds, [&] { return qvbench::RunFls(argv[1]); });
  auto line = [&](const char* name, const LoadResult& r) {
    std::printf("%-22s %8.3f s  %10.0f records/s  peak %7.1f MiB\n", name, r.seconds,
                control.records / r.seconds, r.peakKiB / 1024.0);
  };
  std::printf("image: %llu MFT records, %llu entries loaded, %llu lines from fls\n",
              static_cast<unsigned long long>(control.records), static_cast<unsigned long long>(control.entries),
              static_cast<unsigned long long>(fls.entries));
  line("AddNTFSVolume", control);
  line("AddNTFSVolume2 (raw)", raw);
  line("fls -r -p", fls);
  std::printf("fls time / AddNTFSVolume time:  %.1f\n", fls.seconds / control.seconds);
  std::printf("fls time / AddNTFSVolume2 time: %.1f\n", fls.seconds / raw.seconds);
  return 0;
}
