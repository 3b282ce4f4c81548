// Turning a block as it lies on disk back into the caller's data: the
// header's checks, the decryption, the decompression and the checksum. The
// same code serves the calling thread and the read-ahead's workers, so a
// block read either way gives the same data or the same error.
#ifndef QVBACKUP_STORAGE_BLOCK_OPENER_H_
#define QVBACKUP_STORAGE_BLOCK_OPENER_H_

#include "qvbackup/qvcrypto.h"
#include "qvbackup/wintypes.h"

namespace qv::storage {

// What a block header says, once it passed CheckBlockHeader.
struct BlockShape {
  DWORD stored = 0;      // the payload's length on disk
  DWORD dataLength = 0;  // the data's length once opened
  bool compressed = false;
  bool encrypted = false;
};

// Checks the 14-byte block header at `blockHeader`, read at stream offset
// `offset`, against the archive's block size and, when it is not 0, the end
// of data a closed archive recorded: nothing it announces is allocated
// before it passed. Returns 0 and fills *pShape, or ERROR_INVALID_DATA.
DWORD CheckBlockHeader(const BYTE* blockHeader, ULONGLONG offset, DWORD blockSize, ULONGLONG endOfData,
                       BlockShape* pShape);

// The block key an encrypted block is opened with.
struct OpenKey {
  const BYTE* key = nullptr;  // keyBits / 8 bytes, borrowed
  DWORD keyBits = 0;
};

// One opener serves one thread at a time (it owns its crypto object).
class BlockOpener {
 public:
  // Opens the payload of `shape.stored` bytes at `payload` (a buffer from
  // std::malloc, which the opener takes) of the block whose header is
  // `blockHeader`: decrypts it in place with `key` and the associated data
  // `binding` when the block is encrypted, inflates it when compressed, and
  // checks the checksum. Returns 0 with *ppData pointing at the data
  // (std::malloc'd, shape.dataLength bytes, the caller's to free), or the
  // error: ERROR_INVALID_DATA for damage or a wrong key, ERROR_OUTOFMEMORY,
  // or what the crypto service reports when it cannot start.
  DWORD Open(const BYTE* blockHeader, const BlockShape& shape, BYTE* payload, const OpenKey& key,
             const BYTE* binding, DWORD bindingSize, BYTE** ppData);

 private:
  CQVCrypto crypto_;
};

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_BLOCK_OPENER_H_
