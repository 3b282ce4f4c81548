// Restoring one 9-byte file from an archive that holds little else and
// from one that holds 96 MiB of other files: a restore reads the file's
// own record and blocks only, so both should take the same time.
//   qv_one_file_restore_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "qvbackup/host.h"
#include "qvbackup/qvbackupcontrol.h"

namespace {

namespace fs = std::filesystem;
using Text = std::basic_string<WCHAR>;

Text Widen(const std::string& text) {
  std::vector<WCHAR> buffer(text.size() + 1);
  DWORD length = QVUtf8ToUtf16(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return Text(buffer.data(), length);
}

Text DrivePath(const fs::path& native) {
  Text nativeText = Widen(native.string());
  std::vector<WCHAR> buffer(4096);
  DWORD length = QVGetDrivePath(nativeText.c_str(), buffer.data(), 4096);
  return Text(buffer.data(), length);
}

// An archive of the small file "wanted.txt" saved in the middle of
// `others` files of 1 MiB each that do not compress, opened for restoring
// with its index loaded.
class Fixture {
 public:
  explicit Fixture(int others) {
    folder_ = fs::temp_directory_path() / ("qvbench-one-" + std::to_string(std::random_device()()));
    fs::create_directories(folder_ / "src");
    std::mt19937 random(3);
    std::vector<char> bytes(1 << 20);
    std::vector<Text> paths;
    for (int i = 0; i < others; ++i) {
      for (char& c : bytes) c = static_cast<char>(random());
      const fs::path path = folder_ / "src" / ("other" + std::to_string(i) + ".bin");
      std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      paths.push_back(DrivePath(path));
      if (i == others / 2) paths.push_back(Wanted());
    }
    std::ofstream(folder_ / "src" / "wanted.txt") << "nine byte";
    if (others == 0) paths.push_back(Wanted());
    folderText_ = DrivePath(folder_);
    std::memset(&info_, 0, sizeof(info_));
    info_.dwSize = sizeof(info_);
    info_.pszFolder = folderText_.c_str();
    info_.pszName = name_.c_str();
    info_.dwCompression = 1;
    info_.dwBlockSize = QVS_DEFAULT_BLOCK_SIZE;
    info_.ullVolumeSize = QVS_NO_VOLUME_LIMIT;
    CQVBackupControl writer;
    writer.BeginBackup(&info_);
    for (const Text& path : paths) writer.AddFileToArchive(path.c_str());
    writer.EndBackup();
    restorer_.GetStorage().OpenArchive(&info_);
    restorer_.LoadArchiveIndex();
    restorer_.SetRestoreRoot(DrivePath(folder_ / "out").c_str());
    CQVFileArray& index = restorer_.GetIndex();
    DWORD entry = 0;
    HANDLE search = index.FindFirstFileW(entry, nullptr);
    do {
      if (index.GetPathName(entry) == CQVString(Wanted().c_str())) entry_ = entry;
    } while (entry_ == 0 && index.FindNextFileW(search, entry));
    index.FindClose(search);
  }
  ~Fixture() {
    restorer_.EndRestore();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  bool RestoreWanted() { return restorer_.RestoreEntry(entry_) == TRUE; }
  ULONGLONG ArchiveBytes() const { return fs::file_size(folder_ / "one.QVA"); }

 private:
  Text Wanted() const { return DrivePath(folder_ / "src" / "wanted.txt"); }

  fs::path folder_;
  Text folderText_;
  Text name_ = Widen("one");
  QVS_ARCHIVE_INFO info_;
  CQVBackupControl restorer_;
  DWORD entry_ = 0;
};

void BM_RestoreOneFile(benchmark::State& state) {
  Fixture fixture(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (!fixture.RestoreWanted()) state.SkipWithError("the file did not restore");
  }
  state.counters["archive_MiB"] = static_cast<double>(fixture.ArchiveBytes()) / (1 << 20);
}
BENCHMARK(BM_RestoreOneFile)->Arg(0)->Arg(96)->Unit(benchmark::kMicrosecond);

}  // namespace
