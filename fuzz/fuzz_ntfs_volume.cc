// A whole NTFS volume: read through the volume control codes as Windows
// answers them (AddNTFSVolume) and through the MFT's own run list
// (AddNTFSVolume2); both trees walked, run lists and data read back.
// Input: a steering byte, then the sparse image (see WriteSparseImage).
#include <cstddef>
#include <cstdint>

#include "volume_exercise.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qvfuzz::MappedImage image(data, size);
  if (!image.ok()) return 0;
  const std::uint8_t choice = image.choice();
  {
    CQVFileArray index;
    if (index.OpenDrive(qvfuzz::kFuzzDrive) && index.AddNTFSVolume(QVT("E:\\"))) {
      qvfuzz::ReadEntryStreams(index, qvfuzz::VisitAll(index, nullptr));
      qvfuzz::ExerciseIndex(index, choice);
    }
  }
  CQVFileArray raw;
  if (raw.OpenDrive(qvfuzz::kFuzzDrive) && raw.AddNTFSVolume2(QVT("E:\\"))) qvfuzz::ExerciseIndex(raw, choice);
  return 0;
}
