// A whole FAT12/16/32 volume: recognised from its boot sector, loaded with
// LoadFATVolume and walked. Input: a steering byte, then the sparse image
// (see WriteSparseImage).
#include <cstddef>
#include <cstdint>

#include "volume_exercise.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qvfuzz::MappedImage image(data, size);
  if (!image.ok()) return 0;
  CQVFileArray index;
  if (index.OpenDrive(qvfuzz::kFuzzDrive) && index.LoadFATVolume(QVT("E:\\"))) {
    qvfuzz::ExerciseIndex(index, image.choice());
  }
  // The same volume through the loader that picks the file system itself.
  CQVFileArray picked;
  picked.LoadVolume(QVT("E:\\"));
  return 0;
}
