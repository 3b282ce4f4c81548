// The index image as it arrives from an archive: loaded whole and in
// chunks (both must agree), then searched, named, deleted from and
// compacted. Input: one steering byte, a chunk length byte, then the image.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_helpers.h"
#include "index_exercise.h"
#include "qvbackup/qvfilearray.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qvfuzz::InputReader in(data, size);
  const std::uint8_t choice = in.Byte();
  const std::size_t chunk = 1 + in.Byte() * 16u;
  const std::vector<std::uint8_t> image = in.Take(in.Left());
  const DWORD length = static_cast<DWORD>(image.size());

  CQVFileArray whole;
  const BOOL accepted = whole.SetRawData(image.data(), length);

  CQVFileArray chunked;
  BOOL chunkedAccepted = chunked.StartSetRawData(length);
  for (std::size_t at = 0; chunkedAccepted && at < image.size(); at += chunk) {
    std::size_t n = std::min(chunk, image.size() - at);
    chunkedAccepted = chunked.AddRawDataChunk(image.data() + at, static_cast<DWORD>(n));
  }
  chunkedAccepted = chunked.EndSetRawData() && chunkedAccepted;
  qvfuzz::Require((accepted != FALSE) == (chunkedAccepted != FALSE),
                  "whole and chunked loading disagree on one image");
  if (accepted) qvfuzz::ExerciseIndex(whole, choice);
  return 0;
}
