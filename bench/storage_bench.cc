// Block write and read throughput of the archive container at the default
// block size: data that compresses and data that does not, with and without
// a password.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "qvbackup/host.h"
#include "qvbackup/qvstorage.h"

namespace {

constexpr DWORD kBlockSize = QVS_DEFAULT_BLOCK_SIZE;
constexpr int kBlocks = 64;  // 16 MiB a run

using Text = std::basic_string<WCHAR>;

Text Widen(const std::string& text) {
  std::vector<WCHAR> buffer(text.size() + 1);
  DWORD length = QVUtf8ToUtf16(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return Text(buffer.data(), length);
}

Text DrivePath(const std::filesystem::path& native) {
  Text nativeText = Widen(native.string());
  std::vector<WCHAR> buffer(4096);
  DWORD length = QVGetDrivePath(nativeText.c_str(), buffer.data(), 4096);
  return Text(buffer.data(), length);
}

std::vector<BYTE> Data(bool compressible) {
  std::vector<BYTE> data(kBlockSize);
  std::mt19937 random(1);
  static const char kText[] = "Dear reader, the quarterly figures follow in the table below. ";
  for (DWORD i = 0; i < kBlockSize; ++i) {
    data[i] = compressible ? static_cast<BYTE>(kText[i % (sizeof(kText) - 1)] + (random() % 8 == 0))
                           : static_cast<BYTE>(random());
  }
  return data;
}

struct Archive {
  std::filesystem::path folder;
  Text folderText, name = Widen("bench"), password;
  QVS_ARCHIVE_INFO info;

  explicit Archive(bool encrypted) {
    folder = std::filesystem::temp_directory_path() / ("qvbench-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(folder);
    folderText = DrivePath(folder);
    if (encrypted) password = Widen("benchmark password");
    std::memset(&info, 0, sizeof(info));
    info.dwSize = sizeof(info);
    info.pszFolder = folderText.c_str();
    info.pszName = name.c_str();
    info.pszPassword = encrypted ? password.c_str() : nullptr;
    info.dwEncryptionKeySize = 256;
    info.dwCompression = 1;
    info.dwBlockSize = kBlockSize;
    info.ullVolumeSize = QVS_NO_VOLUME_LIMIT;
  }
  ~Archive() { std::filesystem::remove_all(folder); }
};

void BM_WriteBlocks(benchmark::State& state) {
  const bool compressible = state.range(0) != 0, encrypted = state.range(1) != 0;
  std::vector<BYTE> data = Data(compressible);
  Archive archive(encrypted);
  CQVStorage storage;  // one object for every run: keys are derived once
  for (auto _ : state) {
    if (!storage.BeginArchive(&archive.info)) state.SkipWithError("cannot create the archive");
    for (int i = 0; i < kBlocks; ++i) storage.CreateBlock(data.data(), kBlockSize, 0);
    storage.CloseArchive();
  }
  state.SetBytesProcessed(state.iterations() * kBlocks * static_cast<int64_t>(kBlockSize));
}
BENCHMARK(BM_WriteBlocks)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"compressible", "encrypted"})
    ->Unit(benchmark::kMillisecond);

void BM_ReadBlocks(benchmark::State& state) {
  const bool compressible = state.range(0) != 0, encrypted = state.range(1) != 0;
  std::vector<BYTE> data = Data(compressible);
  Archive archive(encrypted);
  CQVStorage storage;
  storage.BeginArchive(&archive.info);
  for (int i = 0; i < kBlocks; ++i) storage.CreateBlock(data.data(), kBlockSize, 0);
  storage.CloseArchive();
  for (auto _ : state) {
    if (!storage.OpenArchive(&archive.info)) state.SkipWithError("cannot open the archive");
    BYTE* block = nullptr;
    DWORD length = 0;
    HANDLE walk = storage.FindFirstDataBlock(&block, &length);
    int count = 0;
    while (walk != nullptr) {
      ++count;
      storage.DeleteFoundBlockData(block, length);
      if (!storage.FindNextDataBlock(walk, &block, &length)) break;
    }
    storage.FindBlockClose(walk);
    storage.CloseArchive();
    if (count != kBlocks) state.SkipWithError("blocks missing");
  }
  state.SetBytesProcessed(state.iterations() * kBlocks * static_cast<int64_t>(kBlockSize));
}
BENCHMARK(BM_ReadBlocks)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"compressible", "encrypted"})
    ->Unit(benchmark::kMillisecond);

// The cost a new archive object pays once for its password.
void BM_FirstKeyDerivation(benchmark::State& state) {
  Archive archive(true);
  for (auto _ : state) {
    CQVStorage storage;
    storage.BeginArchive(&archive.info);
    storage.CloseArchive();
  }
}
BENCHMARK(BM_FirstKeyDerivation)->Unit(benchmark::kMillisecond);

}  // namespace
