// The file index at one million entries: searches, paths, compaction and
// subtraction.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qvbackup/qvfilearray.h"

namespace {

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 1000;  // a million files in all

const char* const kExtensions[] = {"doc", "jpg", "txt", "mp3", "pdf", "xls", "png", "dat"};

void SetPath(_tagQVFA_FILEINFO& info, const std::string& path) {
  std::size_t i = 0;
  for (; i < path.size(); ++i) info.szName[i] = static_cast<WCHAR>(path[i]);
  info.szName[i] = 0;
}

// A volume of kFolders folders of kFilesPerFolder files each, added from
// records in the order a volume scan would add them.
std::unique_ptr<CQVFileArray> MakeIndex() {
  auto index = std::make_unique<CQVFileArray>();
  _tagQVFA_FILEINFO info;
  std::memset(&info, 0, sizeof(info));
  info.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  SetPath(info, "C:");
  index->Add(nullptr, &info);
  SetPath(info, "C:\\Users");
  index->Add(nullptr, &info);
  for (int f = 0; f < kFolders; ++f) {
    std::string folder = "C:\\Users\\folder" + std::to_string(f);
    info.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    SetPath(info, folder);
    index->Add(nullptr, &info);
    info.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    for (int i = 0; i < kFilesPerFolder; ++i) {
      info.ullSize = static_cast<ULONGLONG>(i) * 37;
      SetPath(info, folder + "\\document" + std::to_string(i) + "." + kExtensions[i % 8]);
      index->Add(nullptr, &info, 0, 18, nullptr);
    }
  }
  return index;
}

CQVFileArray& SharedIndex() {
  static std::unique_ptr<CQVFileArray> index = MakeIndex();
  return *index;
}

std::size_t CountMatches(CQVFileArray& index, const QV_FINDFILTER& filter) {
  std::size_t found = 0;
  DWORD entry = 0;
  HANDLE search = index.FindFirstFileW(entry, &filter);
  if (search == nullptr) return 0;
  do {
    ++found;
  } while (index.FindNextFileW(search, entry));
  index.FindClose(search);
  return found;
}

void BM_BuildIndex(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(MakeIndex());
  state.SetItemsProcessed(state.iterations() * kFolders * kFilesPerFolder);
}
BENCHMARK(BM_BuildIndex)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SearchByExtension(benchmark::State& state) {
  CQVFileArray& index = SharedIndex();
  QV_FINDFILTER filter;
  std::memset(&filter, 0, sizeof(filter));
  filter.pszExtensionMask = QVT("jpg");
  for (auto _ : state) benchmark::DoNotOptimize(CountMatches(index, filter));
  state.SetItemsProcessed(state.iterations() * index.GetItemCount(TRUE));
}
BENCHMARK(BM_SearchByExtension)->Unit(benchmark::kMillisecond);

void BM_SearchByWildcardMask(benchmark::State& state) {
  CQVFileArray& index = SharedIndex();
  QV_FINDFILTER filter;
  std::memset(&filter, 0, sizeof(filter));
  filter.pszFileMask = QVT("doc*9.j?g");
  for (auto _ : state) benchmark::DoNotOptimize(CountMatches(index, filter));
  state.SetItemsProcessed(state.iterations() * index.GetItemCount(TRUE));
}
BENCHMARK(BM_SearchByWildcardMask)->Unit(benchmark::kMillisecond);

void BM_TreeSearchRecursive(benchmark::State& state) {
  CQVFileArray& index = SharedIndex();
  QV_FINDFILTER filter;
  std::memset(&filter, 0, sizeof(filter));
  filter.dwFlags = QVFF_RECURSE;
  filter.pszBasePath = QVT("C:\\Users");
  filter.pszExtensionMask = QVT("doc");
  for (auto _ : state) benchmark::DoNotOptimize(CountMatches(index, filter));
  state.SetItemsProcessed(state.iterations() * index.GetItemCount(TRUE));
}
BENCHMARK(BM_TreeSearchRecursive)->Unit(benchmark::kMillisecond);

void BM_GetPathNameOfEveryEntry(benchmark::State& state) {
  CQVFileArray& index = SharedIndex();
  std::vector<DWORD> entries;
  DWORD entry = 0;
  HANDLE search = index.FindFirstFileW(entry, nullptr);
  do {
    entries.push_back(entry);
  } while (index.FindNextFileW(search, entry));
  index.FindClose(search);
  for (auto _ : state) {
    std::size_t characters = 0;
    for (DWORD e : entries) characters += index.GetPathName(e).GetLength();
    benchmark::DoNotOptimize(characters);
  }
  state.SetItemsProcessed(state.iterations() * entries.size());
}
BENCHMARK(BM_GetPathNameOfEveryEntry)->Unit(benchmark::kMillisecond);

void BM_CompactAfterDeletingHalf(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    CQVFileArray index(SharedIndex());
    DWORD entry = 0;
    QV_FINDFILTER filter;
    std::memset(&filter, 0, sizeof(filter));
    filter.pszFileMask = QVT("*");
    HANDLE search = index.FindFirstFileW(entry, &filter);
    bool odd = false;
    do {
      if (odd && !index.IsDirectory(entry)) index.DeleteItem(entry, QVFA_DEL_FORCE);
      odd = !odd;
    } while (index.FindNextFileW(search, entry));
    index.FindClose(search);
    state.ResumeTiming();
    benchmark::DoNotOptimize(index.Compact(FALSE));
  }
}
BENCHMARK(BM_CompactAfterDeletingHalf)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SubtractSameOrder(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    CQVFileArray index(SharedIndex());
    state.ResumeTiming();
    benchmark::DoNotOptimize(index.SubtractArray(SharedIndex(), QVFA_CMP_NAME | QVFA_CMP_SAMESIZE |
                                                                    QVFA_CMP_SAMETIME));
  }
}
BENCHMARK(BM_SubtractSameOrder)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_CopyImage(benchmark::State& state) {
  CQVFileArray& index = SharedIndex();
  for (auto _ : state) {
    CQVFileArray copy(index);
    benchmark::DoNotOptimize(copy.GetItemCount(TRUE));
  }
}
BENCHMARK(BM_CopyImage)->Unit(benchmark::kMillisecond);

}  // namespace
