// Block compression through zlib.
#include <zlib.h>

#include <array>

#include "storage/block_codec.h"

namespace qv::storage {

namespace {

// Each thread keeps a stream for each level it has used, reset between
// blocks: setting one up costs a quarter megabyte and its clearing.
struct Streams {
  std::array<z_stream, Z_BEST_COMPRESSION + 1> streams = {};
  std::array<bool, Z_BEST_COMPRESSION + 1> ready = {};
  ~Streams() {
    for (int level = 0; level <= Z_BEST_COMPRESSION; ++level) {
      if (ready[level]) deflateEnd(&streams[level]);
    }
  }
  z_stream* For(int level) {
    if (level < 1 || level > Z_BEST_COMPRESSION) return nullptr;
    if (ready[level]) return deflateReset(&streams[level]) == Z_OK ? &streams[level] : nullptr;
    if (deflateInit(&streams[level], level) != Z_OK) return nullptr;
    ready[level] = true;
    return &streams[level];
  }
};

}  // namespace

// Measured on the bench corpus, in 256 KiB blocks: code-like data that
// shrinks by half comes out 0.5% larger at level 4 than at zlib's default
// 6, in a quarter of the time; text that shrinks to a quarter comes out 16%
// larger at 4, and keeps the default.
const DeflateLevels kDeflateLevels = {1, Z_BEST_COMPRESSION, 6, 4};

DWORD DeflateBlock(const BYTE* data, DWORD length, int level, BYTE* out, DWORD capacity) {
  thread_local Streams streams;
  z_stream* stream = streams.For(level);
  if (stream == nullptr) return 0;
  stream->next_in = const_cast<BYTE*>(data);
  stream->avail_in = length;
  stream->next_out = out;
  stream->avail_out = capacity;
  // A stream that does not end within the room does not shrink enough.
  if (deflate(stream, Z_FINISH) != Z_STREAM_END) return 0;
  return static_cast<DWORD>(stream->total_out);
}

DWORD InflateBlock(const BYTE* stream, DWORD length, BYTE* out, DWORD expected) {
  uLongf produced = expected;
  const int result = uncompress(out, &produced, stream, length);
  if (result == Z_BUF_ERROR) return ERROR_BUFFER_OVERFLOW;
  if (result == Z_MEM_ERROR) return ERROR_OUTOFMEMORY;
  if (result != Z_OK || produced != expected) return ERROR_INVALID_DATA;
  return 0;
}

DWORD BlockChecksum(const BYTE* data, DWORD length) {
  return static_cast<DWORD>(crc32(crc32(0L, Z_NULL, 0), data, length));
}

}  // namespace qv::storage
