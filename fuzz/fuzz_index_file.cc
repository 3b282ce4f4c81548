// The saved index file: read back through a file handle, walked, then saved
// and read again, which must give the same entries. Input: one steering
// byte, then the file.
#include <cstddef>
#include <cstdint>

#include "fuzz_helpers.h"
#include "index_exercise.h"
#include "qvbackup/qvfilearray.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static qvfuzz::TempRoot root;
  qvfuzz::InputReader in(data, size);
  const std::uint8_t choice = in.Byte();
  const std::filesystem::path file = root.path() / "index.bin";
  qvfuzz::WriteBytes(file, in.Here(), in.Left());

  CQVFileArray index;
  BOOL loaded;
  {
    qvfuzz::FileHandle handle(file, /*create=*/false);
    loaded = index.LoadFromFile(handle.get());
  }
  if (!loaded) return 0;
  const DWORD count = index.GetItemCount(TRUE);

  const std::filesystem::path saved = root.path() / "saved.bin";
  {
    qvfuzz::FileHandle handle(saved, /*create=*/true);
    qvfuzz::Require(index.SaveToFile(handle.get()) != FALSE, "a loaded index cannot be saved");
  }
  CQVFileArray again;
  {
    qvfuzz::FileHandle handle(saved, /*create=*/false);
    qvfuzz::Require(again.LoadFromFile(handle.get()) != FALSE, "a saved index does not load back");
  }
  qvfuzz::Require(again.GetItemCount(TRUE) == count, "a saved index loads back with other entries");
  qvfuzz::ExerciseIndex(again, choice);
  return 0;
}
