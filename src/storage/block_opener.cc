#include "storage/block_opener.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "storage/archive_layout.h"
#include "storage/block_codec.h"
#include "qvbackup/qvstorage.h"

namespace qv::storage {

namespace {

struct FreeDeleter {
  void operator()(BYTE* buffer) const { std::free(buffer); }
};
using Buffer = std::unique_ptr<BYTE, FreeDeleter>;

}  // namespace

DWORD CheckBlockHeader(const BYTE* blockHeader, ULONGLONG offset, DWORD blockSize, ULONGLONG endOfData,
                       BlockShape* pShape) {
  const DWORD stored = GetDword(blockHeader, block::kStoredLength);
  const WORD kind = GetWord(blockHeader, block::kKind);
  const DWORD dataLength = GetDword(blockHeader, block::kDataLength);
  const bool compressed = (kind & QVS_BLOCK_COMPRESSED) != 0;
  const bool encrypted = (kind & QVS_BLOCK_ENCRYPTED) != 0;
  // Encryption adds its nonce and tag, so an encrypted block of a full block
  // size of data that does not shrink is stored slightly longer.
  const DWORD overhead = encrypted ? QV_ENCRYPTION_OVERHEAD : 0;
  if (stored == 0 || stored > blockSize + overhead || stored <= overhead || dataLength == 0 ||
      dataLength > blockSize || (kind & 0xC000) != 0) {
    return ERROR_INVALID_DATA;
  }
  // Nor may it reach past the end of the data a closed archive recorded.
  if (endOfData != 0 && stored > endOfData - offset - std::min<ULONGLONG>(block::kSize, endOfData - offset)) {
    return ERROR_INVALID_DATA;
  }
  if (!compressed && stored - overhead != dataLength) return ERROR_INVALID_DATA;
  if (compressed && stored - overhead >= dataLength) return ERROR_INVALID_DATA;
  pShape->stored = stored;
  pShape->dataLength = dataLength;
  pShape->compressed = compressed;
  pShape->encrypted = encrypted;
  return 0;
}

DWORD BlockOpener::Open(const BYTE* blockHeader, const BlockShape& shape, BYTE* payload, const OpenKey& key,
                        const BYTE* binding, DWORD bindingSize, BYTE** ppData) {
  *ppData = nullptr;
  Buffer stored(payload);
  DWORD plainLength = shape.stored;
  if (shape.encrypted) {
    void* cipher = crypto_.CryptoCreate(QV_ENCRYPTION_AES256GCM, key.key, key.keyBits);
    if (cipher == nullptr) return GetLastError();
    const BOOL decrypted =
        crypto_.CryptoDecryptBound(cipher, stored.get(), shape.stored, &plainLength, binding, bindingSize);
    crypto_.CryptoDestroy(cipher);
    if (!decrypted) return ERROR_INVALID_DATA;
  }
  Buffer data;
  if (shape.compressed) {
    data.reset(static_cast<BYTE*>(std::malloc(shape.dataLength)));
    if (!data) return ERROR_OUTOFMEMORY;
    const DWORD error = InflateBlock(stored.get(), plainLength, data.get(), shape.dataLength);
    if (error != 0) return error;
  } else {
    data = std::move(stored);
  }
#ifndef QV_FUZZING  // fuzz builds only: mutated blocks must reach the decoders
  if (BlockChecksum(data.get(), shape.dataLength) != GetDword(blockHeader, block::kChecksum)) {
    return ERROR_INVALID_DATA;
  }
#endif
  *ppData = data.release();
  return 0;
}

}  // namespace qv::storage
