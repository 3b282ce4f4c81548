#include "storage/compressibility.h"

#include <zlib.h>

#include <array>

#include "qvbackup/qvstorage.h"
#include "storage/block_codec.h"

namespace qv::storage {

namespace {

constexpr DWORD kSmallestJudged = 16 * 1024;
constexpr DWORD kSampleSize = 2 * 1024;
constexpr int kSamples = 3;

}  // namespace

DWORD SamplePercent(const BYTE* data, DWORD length) {
  if (data == nullptr || length < kSmallestJudged) return kNotJudged;
  z_stream stream = {};
  if (deflateInit(&stream, Z_BEST_SPEED) != Z_OK) return kNotJudged;
  std::array<BYTE, kSamples * kSampleSize + 256> out;
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  const DWORD starts[kSamples] = {0, length / 2 - kSampleSize / 2, length - kSampleSize};
  int result = Z_OK;
  for (int i = 0; i < kSamples && result == Z_OK; ++i) {
    stream.next_in = const_cast<BYTE*>(data + starts[i]);
    stream.avail_in = kSampleSize;
    result = deflate(&stream, i + 1 == kSamples ? Z_FINISH : Z_NO_FLUSH);
  }
  const bool finished = result == Z_STREAM_END;
  const uLong produced = stream.total_out;
  deflateEnd(&stream);
  // A stream that did not finish in the room of the samples plus a little
  // grew: that is incompressible too.
  constexpr uLong kSampled = static_cast<uLong>(kSamples) * kSampleSize;
  if (!finished || produced >= kSampled) return 100;
  return static_cast<DWORD>((produced * 100 + kSampled - 1) / kSampled);
}

int DeflateLevel(DWORD effort, DWORD samplePercent) {
  switch (effort) {
    case QVS_EFFORT_FAST:
      return kDeflateLevels.fast;
    case QVS_EFFORT_BEST:
      return kDeflateLevels.best;
    default:
      return samplePercent != kNotJudged && samplePercent >= 50 ? kDeflateLevels.shrinksPartly
                                                                : kDeflateLevels.shrinksWell;
  }
}

}  // namespace qv::storage
