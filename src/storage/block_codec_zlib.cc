// Block compression through zlib.
#include <zlib.h>

#include "storage/block_codec.h"

namespace qv::storage {

DWORD DeflateBlock(const BYTE* data, DWORD length, BYTE* out, DWORD capacity) {
  uLongf produced = capacity;
  if (compress2(out, &produced, data, length, Z_DEFAULT_COMPRESSION) != Z_OK) return 0;
  return static_cast<DWORD>(produced);
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
