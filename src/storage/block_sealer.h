// Turning a caller's data into a block as it lies on disk: the checksum,
// the compression (when it shrinks the data) and the encryption, behind the
// 14-byte block header. The same code serves the caller's thread and the
// worker threads, so that both write the same bytes.
#ifndef QVBACKUP_STORAGE_BLOCK_SEALER_H_
#define QVBACKUP_STORAGE_BLOCK_SEALER_H_

#include <cstddef>
#include <memory>

#include "qvbackup/qvcrypto.h"
#include "qvbackup/wintypes.h"
#include "storage/archive_layout.h"

namespace qv::storage {

// A byte buffer that only grows and never clears what it holds: blocks are
// copied and compressed into it many times over.
class GrowableBuffer {
 public:
  // At least `size` bytes, their contents undefined; null when memory runs
  // out (the buffer is then empty).
  BYTE* Reserve(std::size_t size);
  BYTE* Data() const { return bytes_.get(); }

 private:
  std::unique_ptr<BYTE[]> bytes_;
  std::size_t capacity_ = 0;
};

// Key bytes, wiped on every way out.
struct KeyBytes {
  static constexpr DWORD kMax = 32;
  BYTE bytes[kMax] = {};
  KeyBytes() = default;
  KeyBytes(const KeyBytes&) = delete;
  KeyBytes& operator=(const KeyBytes&) = delete;
  ~KeyBytes() {
    volatile BYTE* wipe = bytes;
    for (DWORD i = 0; i < kMax; ++i) wipe[i] = 0;
  }
};

// How the blocks of one archive are sealed.
struct SealSettings {
  bool compress = false;      // the header's compression switch
  DWORD effort = 0;           // QVS_EFFORT_*: how hard to compress
  bool encrypt = false;       // the archive has a password
  DWORD keyBits = 0;          // the block key's size, when encrypting
  const BYTE* key = nullptr;  // the block key (keyBits / 8 bytes), borrowed
};

// Where an encrypted block goes, which it authenticates besides its bytes
// in archives whose keys are their own: a block swapped with another,
// moved, or copied from another archive of the same password then fails
// its check as a changed one does. Without an identifier the block is
// bound to nothing (the archives written before blocks were bound).
struct BlockPlace {
  const BYTE* identifier = nullptr;  // the archive's 16 bytes
  DWORD increment = 0;               // the member's number
  ULONGLONG offset = 0;              // the block header's offset from the archive header
};

// The associated data of a block at `place` whose header is `blockHeader`:
// identifier (16), increment (4), offset (8), then the header's kind, data
// length and checksum (10) as they lie on disk. Its size, or 0 when the
// place binds nothing.
inline constexpr DWORD kBindingSize = 38;
DWORD BindingOf(const BlockPlace& place, const BYTE* blockHeader, BYTE* binding);

// A sealed block: its header, and its payload, which is either the caller's
// own data (stored as it is) or bytes in the sealing buffer. When
// `contiguous`, the 14 bytes before `payload` hold the header, so the block
// goes to disk in one write.
struct SealedBlock {
  BYTE header[block::kSize];
  const BYTE* payload;
  DWORD payloadLength;
  bool contiguous;
};

// One sealer serves one thread at a time (it owns its crypto object).
class BlockSealer {
 public:
  // Seals `length` bytes (1 to the block size) at `data` as a block of
  // `kind`: QVS_BLOCK_STORE_PLAIN in `options` stores them unchanged;
  // otherwise they are compressed when `settings` asks and that shrinks
  // them, and encrypted when it asks. `buffer` receives the bytes of the
  // payload when they are not the caller's. Returns 0, or the error that
  // stopped it (the encryption's error, ERROR_OUTOFMEMORY); a block that
  // cannot be encrypted is never stored in the clear. An encrypted block
  // authenticates `place`.
  DWORD Seal(const BYTE* data, DWORD length, DWORD options, WORD kind, const SealSettings& settings,
             const BlockPlace& place, GrowableBuffer& buffer, SealedBlock* sealed);
  // As above, into the sealer's own buffer: the block lives until the next
  // call.
  DWORD Seal(const BYTE* data, DWORD length, DWORD options, WORD kind, const SealSettings& settings,
             const BlockPlace& place, SealedBlock* sealed) {
    return Seal(data, length, options, kind, settings, place, own_, sealed);
  }
  // Encrypts a block sealed without encryption (its place was not known
  // yet: worker threads seal ahead of the writer) into the sealer's own
  // buffer; `sealed` then describes the encrypted block.
  DWORD EncryptSealed(const SealSettings& settings, const BlockPlace& place, SealedBlock* sealed) {
    return Encrypt(settings, place, own_, sealed);
  }

 private:
  DWORD Encrypt(const SealSettings& settings, const BlockPlace& place, GrowableBuffer& buffer,
                SealedBlock* sealed);

  CQVCrypto crypto_;
  GrowableBuffer scratch_;  // compressed data on its way to encryption
  GrowableBuffer own_;
};

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_BLOCK_SEALER_H_
