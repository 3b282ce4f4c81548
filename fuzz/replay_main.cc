// Feeds files to a fuzz target's entry function without libFuzzer, so the
// inputs that once crashed a target stay tested by the ordinary build.
//   replay FOLDER_OR_FILE...
// Missing folders hold no inputs; the run fails when nothing at all was fed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// libFuzzer stops a target that allocates more than -malloc_limit_mb (2048
// by default, see scripts/fuzz.sh); the replay applies the same cap, so an
// input that once made a crafted length allocate gigabytes fails here too.
// AddressSanitizer builds get it from ASAN_OPTIONS (fuzz/CMakeLists.txt).
#if !defined(__SANITIZE_ADDRESS__)
namespace {
constexpr std::size_t kMallocLimit = std::size_t{2048} << 20;
void CheckAllocation(std::size_t size) {
  if (size <= kMallocLimit) return;
  std::fprintf(stderr, "replay: allocation of %zu bytes exceeds the fuzzers' limit\n", size);
  std::abort();
}
}  // namespace
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* block, std::size_t size);
extern "C" void* malloc(std::size_t size) {
  CheckAllocation(size);
  return __libc_malloc(size);
}
extern "C" void* calloc(std::size_t count, std::size_t size) {
  CheckAllocation(size != 0 && count > kMallocLimit / size ? kMallocLimit + 1 : count * size);
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, std::size_t size) {
  CheckAllocation(size);
  return __libc_realloc(block, size);
}
#endif

namespace {

namespace fs = std::filesystem;

void Feed(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::printf("replaying %s (%zu bytes)\n", file.c_str(), bytes.size());
  std::fflush(stdout);
  // A copy of exactly the input's size, so a read past it is caught.
  std::uint8_t* copy = new std::uint8_t[bytes.size() + 1];
  std::copy(bytes.begin(), bytes.end(), copy);
  LLVMFuzzerTestOneInput(copy, bytes.size());
  delete[] copy;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t fed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path target(argv[i]);
    std::vector<fs::path> files;
    if (fs::is_regular_file(target)) {
      files.push_back(target);
    } else if (fs::is_directory(target)) {
      for (const fs::directory_entry& entry : fs::directory_iterator(target)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) Feed(file);
    fed += files.size();
  }
  if (fed == 0) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  std::printf("%zu inputs replayed\n", fed);
  return 0;
}
