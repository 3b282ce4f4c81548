// Data blocks: a 14-byte block header and the payload, compressed with zlib
// when that shrinks the data and encrypted with the password's key.
//
// Reading trusts nothing it reads: lengths are checked against the block
// size before anything is allocated, and the data handed back must
// decompress to exactly its announced length and match its checksum.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/random_access_file.h"
#include "storage/archive_layout.h"
#include "storage/block_codec.h"
#include "storage/compressibility.h"
#include "qvbackup/qvstorage.h"

using namespace qv::storage;

namespace {

// The salt of every key the container derives.
const BYTE kArchiveSalt[] = {'~', 'K', 'd', '!', '4', 'p', '%', 'Z', 'r', '2', 'q'};
constexpr DWORD kArchiveSaltLength = 11;
constexpr DWORD kMaxKeyBytes = 32;

struct FreeDeleter {
  void operator()(BYTE* buffer) const { std::free(buffer); }
};
using Buffer = std::unique_ptr<BYTE, FreeDeleter>;

Buffer Allocate(std::size_t size) { return Buffer(static_cast<BYTE*>(std::malloc(size == 0 ? 1 : size))); }

// Wipes key bytes on every way out.
struct KeyBytes {
  BYTE bytes[kMaxKeyBytes] = {};
  ~KeyBytes() {
    volatile BYTE* wipe = bytes;
    for (DWORD i = 0; i < kMaxKeyBytes; ++i) wipe[i] = 0;
  }
};

}  // namespace

BOOL CQVStorage::DeriveKey(DWORD dwCode, BYTE* pbKey) {
  if (!m_crypto.CryptoDeriveKey(static_cast<LPCWSTR>(m_strPassword), static_cast<QV_KEYTYPE>(dwCode), pbKey,
                                kArchiveSalt, kArchiveSaltLength)) {
    return Fail(GetLastError());
  }
  return TRUE;
}

// The password check value: a 160-bit derivation (128-bit, padded with
// zeros, for archives whose own key is 160 bits), never the block key.
BOOL CQVStorage::DeriveCheckValue(BYTE pbCheck[20]) {
  std::memset(pbCheck, 0, header::kCheckValueSize);
  DWORD code = m_pHeader[header::kEncryptionType] == QV_KEY_160 ? QV_KEY_128 : QV_KEY_160;
  return DeriveKey(code, pbCheck);
}

BOOL CQVStorage::CheckArchivePassword(LPCWSTR pszPassword) {
  const BYTE* stored = m_pHeader + header::kCheckValue;
  if (pszPassword == nullptr || pszPassword[0] == 0) {
    static const BYTE kZero[8] = {};
    return std::memcmp(stored, kZero, sizeof(kZero)) == 0 ? Succeed() : Fail(ERROR_WRONG_PASSWORD);
  }
  CQVString kept = m_strPassword;
  BOOL hadPassword = m_bHasPassword;
  m_strPassword = pszPassword;
  BYTE check[header::kCheckValueSize];
  BOOL derived = DeriveCheckValue(check);
  bool match = derived && std::memcmp(check, stored, sizeof(check)) == 0;
  std::memset(check, 0, sizeof(check));
  if (!match) {
    m_strPassword = kept;
    m_bHasPassword = hadPassword;
    return Fail(derived ? ERROR_WRONG_PASSWORD : GetError());
  }
  m_bHasPassword = TRUE;
  return Succeed();
}

// Replaces the payload with its encryption under the archive's key.
BOOL CQVStorage::Encrypt(BYTE*& pPayload, DWORD& dwPayloadLength, bool& bOwned) {
  DWORD code = m_pHeader[header::kEncryptionType];
  KeyBytes key;
  if (!DeriveKey(code, key.bytes)) return FALSE;
  void* cipher = m_crypto.CryptoCreate(QV_ENCRYPTION_AES256GCM, key.bytes, GetKeySize(code));
  if (cipher == nullptr) return Fail(GetLastError());
  DWORD size = m_crypto.GetDestinationBufferSize(cipher, dwPayloadLength);
  BYTE* output = static_cast<BYTE*>(std::malloc(size));
  BOOL encrypted = output != nullptr && m_crypto.CryptoEncryptData(cipher, pPayload, output, dwPayloadLength);
  DWORD error = output == nullptr ? ERROR_OUTOFMEMORY : GetLastError();
  m_crypto.CryptoDestroy(cipher);
  if (!encrypted) {
    std::free(output);
    return Fail(error);
  }
  if (bOwned) std::free(pPayload);
  pPayload = output;
  dwPayloadLength = size;
  bOwned = true;
  return TRUE;
}

BOOL CQVStorage::Decrypt(BYTE* pPayload, DWORD dwStored, DWORD* pdwPlain) {
  DWORD code = m_pHeader[header::kEncryptionType];
  KeyBytes key;
  if (!DeriveKey(code, key.bytes)) return FALSE;
  void* cipher = m_crypto.CryptoCreate(QV_ENCRYPTION_AES256GCM, key.bytes, GetKeySize(code));
  if (cipher == nullptr) return Fail(GetLastError());
  BOOL decrypted = m_crypto.CryptoDecryptData(cipher, pPayload, dwStored, pdwPlain);
  m_crypto.CryptoDestroy(cipher);
  return decrypted ? TRUE : Fail(ERROR_INVALID_DATA);
}

BOOL CQVStorage::CreateBlock(const BYTE* pData, DWORD dwLength, DWORD dwOptions, ULONGLONG* pullOffset,
                             WORD wKind) {
  if (!IsOpen()) return Fail(ERROR_INVALID_STATE);
  if (m_bSFXReadMode || m_bReadOnly) return Fail(ERROR_ACCESS_DENIED);
  // An empty block could not be read back: its stored length would be 0.
  if (pData == nullptr || dwLength == 0 || dwLength > GetArchiveBlockSize()) return Fail(ERROR_INVALID_PARAMETER);

  BYTE blockHeader[block::kSize] = {};
  void* hash = m_crypto.HashCreate(QV_HASH_CRC32, nullptr, 0);
  if (hash == nullptr || !m_crypto.HashAddData(hash, pData, dwLength) ||
      !m_crypto.HashGetClose(hash, blockHeader + block::kChecksum)) {
    return Fail(GetLastError());
  }
  PutDword(blockHeader, block::kDataLength, dwLength);
  WORD kind = static_cast<WORD>(wKind & QVS_BLOCK_KIND_MASK);

  BYTE* payload = const_cast<BYTE*>(pData);
  DWORD payloadLength = dwLength;
  bool owned = false;
  const bool plain = (dwOptions & QVS_BLOCK_STORE_PLAIN) != 0;
  // Data that does not shrink is stored as it is, without the full cost
  // of finding that out.
  if (!plain && GetDword(m_pHeader, header::kCompression) != 0 && !LooksIncompressible(pData, dwLength)) {
    // Room for less than the data itself: a stream that does not shrink
    // is given up as soon as it fills the room.
    BYTE* compressed = static_cast<BYTE*>(std::malloc(dwLength));
    if (compressed == nullptr) return Fail(ERROR_OUTOFMEMORY);
    const DWORD compressedLength = DeflateBlock(pData, dwLength, compressed, dwLength - 1);
    if (compressedLength != 0 && compressedLength < dwLength) {
      payload = compressed;
      payloadLength = compressedLength;
      owned = true;
      kind |= QVS_BLOCK_COMPRESSED;
    } else {
      std::free(compressed);
    }
  }
  // Encryption that fails fails the block: it is never stored in the clear
  // in an archive that has a password.
  if (!plain && m_bHasPassword) {
    if (!Encrypt(payload, payloadLength, owned)) {
      if (owned) std::free(payload);
      return FALSE;
    }
    kind |= QVS_BLOCK_ENCRYPTED;
  }
  Buffer ownedPayload(owned ? payload : nullptr);
  PutDword(blockHeader, block::kStoredLength, payloadLength);
  PutWord(blockHeader, block::kKind, kind);

  ULONGLONG offset = GetArchiveOffset();
  if (offset == QVS_INVALID_OFFSET) return FALSE;
  if (pullOffset != nullptr) *pullOffset = offset;
  if (!WriteData(blockHeader, block::kSize) || !WriteData(payload, payloadLength)) return FALSE;
  PutQword(m_pHeader, header::kEndOfData, offset + block::kSize + payloadLength);
  return Succeed();
}

BOOL CQVStorage::GetBlock(ULONGLONG ullOffset, BYTE** ppData, DWORD* pdwLength) {
  if (ppData == nullptr || pdwLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *ppData = nullptr;
  *pdwLength = 0;
  if (!IsOpen()) return Fail(ERROR_INVALID_STATE);
  if (ullOffset != QVS_INVALID_OFFSET && !OpenVolumeForOffset(ullOffset)) return FALSE;
  ULONGLONG offset = GetArchiveOffset();
  if (offset == QVS_INVALID_OFFSET) return FALSE;
  // A closed archive knows where its data ends; past it there is nothing.
  ULONGLONG endOfData = GetQword(m_pHeader, header::kEndOfData);
  if (endOfData != 0 && offset >= endOfData) return Fail(ERROR_NO_MORE_ITEMS);

  BYTE blockHeader[block::kSize];
  DWORD done = 0;
  if (!Transfer(blockHeader, block::kSize, false, &done)) {
    if (GetError() == ERROR_HANDLE_EOF) return Fail(done == 0 ? ERROR_NO_MORE_ITEMS : ERROR_INVALID_DATA);
    return FALSE;
  }
  DWORD stored = GetDword(blockHeader, block::kStoredLength);
  WORD kind = GetWord(blockHeader, block::kKind);
  DWORD dataLength = GetDword(blockHeader, block::kDataLength);
  const bool compressed = (kind & QVS_BLOCK_COMPRESSED) != 0;
  const bool encrypted = (kind & QVS_BLOCK_ENCRYPTED) != 0;
  DWORD blockSize = GetArchiveBlockSize();
  // Encryption adds its nonce and tag, so an encrypted block of a full block
  // size of data that does not shrink is stored slightly longer.
  DWORD overhead = encrypted ? QV_ENCRYPTION_OVERHEAD : 0;
  if (stored == 0 || stored > blockSize + overhead || stored <= overhead || dataLength == 0 ||
      dataLength > blockSize || (kind & 0xC000) != 0) {
    return Fail(ERROR_INVALID_DATA);
  }
  if (!compressed && stored - overhead != dataLength) return Fail(ERROR_INVALID_DATA);
  if (compressed && stored - overhead >= dataLength) return Fail(ERROR_INVALID_DATA);

  Buffer payload = Allocate(stored);
  if (!payload) return Fail(ERROR_OUTOFMEMORY);
  if (!Transfer(payload.get(), stored, false, &done)) {
    return Fail(GetError() == ERROR_HANDLE_EOF ? ERROR_INVALID_DATA : GetError());
  }
  DWORD plainLength = stored;
  if (encrypted) {
    if (!m_bHasPassword) return Fail(ERROR_INVALID_PASSWORD);
    if (!Decrypt(payload.get(), stored, &plainLength)) return FALSE;
  }
  Buffer data;
  if (compressed) {
    data = Allocate(dataLength);
    if (!data) return Fail(ERROR_OUTOFMEMORY);
    const DWORD error = InflateBlock(payload.get(), plainLength, data.get(), dataLength);
    if (error != 0) return Fail(error);
  } else {
    data = std::move(payload);
  }

  BYTE checksum[4];
  void* hash = m_crypto.HashCreate(QV_HASH_CRC32, nullptr, 0);
  if (hash == nullptr || !m_crypto.HashAddData(hash, data.get(), dataLength) ||
      !m_crypto.HashGetClose(hash, checksum)) {
    return Fail(GetLastError());
  }
  if (std::memcmp(checksum, blockHeader + block::kChecksum, 4) != 0) return Fail(ERROR_INVALID_DATA);
  *ppData = data.release();
  *pdwLength = dataLength;
  return Succeed();
}

HANDLE CQVStorage::FindFirstDataBlock(BYTE** ppData, DWORD* pdwLength, ULONGLONG ullStart) {
  ULONGLONG start = ullStart;
  if (start == QVS_INVALID_OFFSET) {
    ULONGLONG headerOffset = GetHeaderOffset();
    if (headerOffset == QVS_INVALID_OFFSET) return nullptr;
    start = headerOffset + QVS_HEADER_SIZE;
  }
  auto* cursor = new ULONGLONG(start);
  m_setBlockSearches.insert(cursor);
  if (!FindNextDataBlock(cursor, ppData, pdwLength)) {
    DWORD error = GetError();
    m_setBlockSearches.erase(cursor);
    delete cursor;
    Fail(error);
    return nullptr;
  }
  return cursor;
}

BOOL CQVStorage::FindNextDataBlock(HANDLE hFind, BYTE** ppData, DWORD* pdwLength) {
  if (hFind == nullptr || m_setBlockSearches.count(hFind) == 0) return Fail(ERROR_INVALID_HANDLE);
  auto* cursor = static_cast<ULONGLONG*>(hFind);
  if (!GetBlock(*cursor, ppData, pdwLength)) return FALSE;
  ULONGLONG next = GetArchiveOffset();
  if (next == QVS_INVALID_OFFSET) {
    DeleteFoundBlockData(*ppData, *pdwLength);
    return FALSE;
  }
  *cursor = next;
  return Succeed();
}

BOOL CQVStorage::FindBlockClose(HANDLE hFind) {
  auto found = m_setBlockSearches.find(hFind);
  if (hFind == nullptr || found == m_setBlockSearches.end()) return Fail(ERROR_INVALID_HANDLE);
  m_setBlockSearches.erase(found);
  delete static_cast<ULONGLONG*>(hFind);
  return Succeed();
}

BOOL CQVStorage::DeleteFoundBlockData(BYTE*& pData, DWORD) {
  if (pData == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::free(pData);
  pData = nullptr;
  return Succeed();
}
