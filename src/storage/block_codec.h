// The compression of a block's data: a zlib stream (RFC 1950), the form
// every build reads back with zlib's own uncompress, whichever compressor
// wrote it. Two implementations: block_codec_libdeflate.cc where that
// library is available (several times faster at zlib's default ratio) and
// block_codec_zlib.cc elsewhere.
#ifndef QVBACKUP_STORAGE_BLOCK_CODEC_H_
#define QVBACKUP_STORAGE_BLOCK_CODEC_H_

#include "qvbackup/wintypes.h"

namespace qv::storage {

// The levels this compressor uses for each effort and kind of data: levels
// mean different speeds to the two compressors, so each has its own.
struct DeflateLevels {
  int fast;           // QVS_EFFORT_FAST
  int best;           // QVS_EFFORT_BEST
  int shrinksWell;    // the default for text-like data, and blocks too small to judge
  int shrinksPartly;  // the default for data whose samples keep half their size or more
};
extern const DeflateLevels kDeflateLevels;

// Compresses the `length` bytes at `data` at `level` into `out` (room for
// `capacity` bytes). Returns the stream's length, or 0 when it does not
// fit (the data does not shrink enough) or compression fails.
DWORD DeflateBlock(const BYTE* data, DWORD length, int level, BYTE* out, DWORD capacity);

// Decompresses the stream of `length` bytes at `stream` into `out`, which
// must come out exactly `expected` bytes long. Returns 0, or
// ERROR_BUFFER_OVERFLOW when the stream holds more, ERROR_INVALID_DATA when
// it is damaged or holds less, ERROR_OUTOFMEMORY.
DWORD InflateBlock(const BYTE* stream, DWORD length, BYTE* out, DWORD expected);

// The CRC-32 of the `length` bytes at `data` (zlib's polynomial, as the
// crypto service's hash type 0 computes it): every block's checksum.
DWORD BlockChecksum(const BYTE* data, DWORD length);

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_BLOCK_CODEC_H_
