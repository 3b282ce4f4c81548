#include "storage/block_sealer.h"

#include <cstring>
#include <new>

#include "qvbackup/qvstorage.h"
#include "storage/block_codec.h"
#include "storage/compressibility.h"

namespace qv::storage {

namespace {

constexpr DWORD kJoinedCopyLimit = 16 * 1024;

}  // namespace

BYTE* GrowableBuffer::Reserve(std::size_t size) {
  if (size <= capacity_ && bytes_) return bytes_.get();
  bytes_.reset(new (std::nothrow) BYTE[size == 0 ? 1 : size]);
  capacity_ = bytes_ ? size : 0;
  return bytes_.get();
}

DWORD BindingOf(const BlockPlace& place, const BYTE* blockHeader, BYTE* binding) {
  if (place.identifier == nullptr) return 0;
  std::memcpy(binding, place.identifier, header::kIdentifierSize);
  PutDword(binding, 16, place.increment);
  PutQword(binding, 20, place.offset);
  std::memcpy(binding + 28, blockHeader + block::kKind, block::kSize - block::kKind);
  return kBindingSize;
}

// Encrypts the sealed block's payload into `buffer` after room for the
// block header, marks the header and points the block at the result.
DWORD BlockSealer::Encrypt(const SealSettings& settings, const BlockPlace& place, GrowableBuffer& buffer,
                           SealedBlock* sealed) {
  const WORD marks = static_cast<WORD>(GetWord(sealed->header, block::kKind) | QVS_BLOCK_ENCRYPTED);
  const DWORD length = sealed->payloadLength;
  void* cipher = crypto_.CryptoCreate(QV_ENCRYPTION_AES256GCM, settings.key, settings.keyBits);
  if (cipher == nullptr) return GetLastError();
  const DWORD size = crypto_.GetDestinationBufferSize(cipher, length);
  BYTE* output = size != 0 ? buffer.Reserve(std::size_t{block::kSize} + size) : nullptr;
  DWORD error = ERROR_SUCCESS;
  if (size == 0) {
    error = GetLastError();
  } else if (output == nullptr) {
    error = ERROR_OUTOFMEMORY;
  } else {
    // The header as it will lie on disk is what the tag covers.
    PutWord(sealed->header, block::kKind, marks);
    PutDword(sealed->header, block::kStoredLength, size);
    BYTE binding[kBindingSize];
    const DWORD bindingSize = BindingOf(place, sealed->header, binding);
    if (!crypto_.CryptoEncryptBound(cipher, sealed->payload, output + block::kSize, length, binding, bindingSize)) {
      error = GetLastError();
    }
  }
  crypto_.CryptoDestroy(cipher);
  if (error != ERROR_SUCCESS) return error;
  sealed->payload = output + block::kSize;
  sealed->payloadLength = size;
  sealed->contiguous = true;
  std::memcpy(output, sealed->header, block::kSize);
  return ERROR_SUCCESS;
}

DWORD BlockSealer::Seal(const BYTE* data, DWORD length, DWORD options, WORD kind, const SealSettings& settings,
                        const BlockPlace& place, GrowableBuffer& buffer, SealedBlock* sealed) {
  std::memset(sealed->header, 0, sizeof(sealed->header));
  PutDword(sealed->header, block::kChecksum, BlockChecksum(data, length));
  PutDword(sealed->header, block::kDataLength, length);
  WORD marks = static_cast<WORD>(kind & QVS_BLOCK_KIND_MASK);
  const BYTE* payload = data;
  DWORD payloadLength = length;
  const bool plain = (options & QVS_BLOCK_STORE_PLAIN) != 0;
  // Data that does not shrink is stored as it is, without the full cost of
  // finding that out; the rest is compressed as hard as it pays.
  const DWORD samplePercent = !plain && settings.compress ? SamplePercent(data, length) : 100;
  if (!plain && settings.compress && !LooksIncompressible(samplePercent)) {
    // Compressed straight behind the header's room, unless it is to be
    // encrypted next. Less room than the data itself: a stream that does
    // not shrink is given up as soon as it fills it.
    BYTE* out = settings.encrypt ? scratch_.Reserve(length) : buffer.Reserve(std::size_t{block::kSize} + length);
    if (out == nullptr) return ERROR_OUTOFMEMORY;
    if (!settings.encrypt) out += block::kSize;
    const int level = DeflateLevel(settings.effort, samplePercent);
    const DWORD compressedLength = DeflateBlock(data, length, level, out, length - 1);
    if (compressedLength != 0 && compressedLength < length) {
      payload = out;
      payloadLength = compressedLength;
      marks |= QVS_BLOCK_COMPRESSED;
    }
  }
  PutDword(sealed->header, block::kStoredLength, payloadLength);
  PutWord(sealed->header, block::kKind, marks);
  if (!plain && settings.encrypt) {
    sealed->payload = payload;
    sealed->payloadLength = payloadLength;
    return Encrypt(settings, place, buffer, sealed);
  }
  // A small block stored as it is gets copied behind its header: a second
  // write would cost more than the copy. Larger ones are written from the
  // caller's own bytes.
  if (payload == data && length <= kJoinedCopyLimit) {
    BYTE* out = buffer.Reserve(std::size_t{block::kSize} + length);
    if (out == nullptr) return ERROR_OUTOFMEMORY;
    std::memcpy(out + block::kSize, data, length);
    payload = out + block::kSize;
  }
  sealed->payload = payload;
  sealed->payloadLength = payloadLength;
  sealed->contiguous = payload != data;
  if (sealed->contiguous) std::memcpy(buffer.Data(), sealed->header, block::kSize);
  return ERROR_SUCCESS;
}

}  // namespace qv::storage
