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
#include "storage/block_opener.h"
#include "storage/block_queue.h"
#include "storage/block_sealer.h"
#include "qvbackup/qvstorage.h"

using namespace qv::storage;

namespace {

// The salt of every key the container derives; archives whose keys are
// their own follow it with their identifier.
const BYTE kArchiveSalt[] = {'~', 'K', 'd', '!', '4', 'p', '%', 'Z', 'r', '2', 'q'};
constexpr DWORD kArchiveSaltLength = 11;

struct FreeDeleter {
  void operator()(BYTE* buffer) const { std::free(buffer); }
};
using Buffer = std::unique_ptr<BYTE, FreeDeleter>;

Buffer Allocate(std::size_t size) { return Buffer(static_cast<BYTE*>(std::malloc(size == 0 ? 1 : size))); }

}  // namespace

BOOL CQVStorage::DeriveKey(DWORD dwCode, BYTE* pbKey) {
  BYTE salt[kArchiveSaltLength + header::kIdentifierSize];
  std::memcpy(salt, kArchiveSalt, kArchiveSaltLength);
  DWORD saltLength = kArchiveSaltLength;
  if (m_pHeader[header::kKeyScheme] == header::kKeySchemeOwn) {
    std::memcpy(salt + saltLength, m_pHeader + header::kIdentifier, header::kIdentifierSize);
    saltLength += header::kIdentifierSize;
  }
  if (!m_crypto.CryptoDeriveKey(static_cast<LPCWSTR>(m_strPassword), static_cast<QV_KEYTYPE>(dwCode), pbKey, salt,
                                saltLength)) {
    return Fail(GetLastError());
  }
  return TRUE;
}

// The block key of the archive's password, and its size in bits.
BOOL CQVStorage::DeriveBlockKey(KeyBytes* pKey, DWORD* pdwKeyBits) {
  const DWORD code = m_pHeader[header::kEncryptionType];
  if (!DeriveKey(code, pKey->bytes)) return FALSE;
  *pdwKeyBits = GetKeySize(code);
  return TRUE;
}

// What an encrypted block at stream offset `ullOffset` of this member is
// bound to: nothing in archives written before blocks were bound.
BlockPlace CQVStorage::PlaceOf(ULONGLONG ullOffset) const {
  BlockPlace place;
  if (m_pHeader[header::kKeyScheme] != header::kKeySchemeOwn) return place;
  place.identifier = m_pHeader + header::kIdentifier;
  place.increment = GetDword(m_pHeader, header::kIncrement);
  place.offset = ullOffset;
  return place;
}

// The password check value: a 160-bit derivation (128-bit, padded with
// zeros, for archives whose own key is 160 bits), never the block key.
BOOL CQVStorage::DeriveCheckValue(BYTE pbCheck[20]) {
  std::memset(pbCheck, 0, header::kCheckValueSize);
  DWORD code = m_pHeader[header::kEncryptionType] == QV_KEY_160 ? QV_KEY_128 : QV_KEY_160;
  return DeriveKey(code, pbCheck);
}

// An encrypted archive (its header names a key size) needs a password,
// even when its check value reads as zeros: damage must not make it pass
// for a plain one. A check value that does not match the password is
// damage rather than a wrong password when the password's block key opens
// the archive's first encrypted block: the archive is then read, and
// IsCheckValueDamaged() tells the caller.
BOOL CQVStorage::CheckArchivePassword(LPCWSTR pszPassword) {
  // Blocks read ahead were opened with the key of the password before.
  if (!DropReadAhead()) return FALSE;
  ForgetReadAhead();
  m_bCheckValueDamaged = FALSE;
  const BYTE* stored = m_pHeader + header::kCheckValue;
  const bool encrypted = m_pHeader[header::kEncryptionType] != 0;
  if (pszPassword == nullptr || pszPassword[0] == 0) {
    if (encrypted) return Fail(ERROR_WRONG_PASSWORD);
    // No key size, no password: a check value there is damage.
    static const BYTE kZero[header::kCheckValueSize] = {};
    m_bCheckValueDamaged = std::memcmp(stored, kZero, sizeof(kZero)) != 0;
    return Succeed();
  }
  CQVString kept = m_strPassword;
  BOOL hadPassword = m_bHasPassword;
  m_strPassword = pszPassword;
  BYTE check[header::kCheckValueSize];
  BOOL derived = encrypted && DeriveCheckValue(check);
  bool match = derived && std::memcmp(check, stored, sizeof(check)) == 0;
  std::memset(check, 0, sizeof(check));
  if (!match && derived && (KeyOpensFirstBlock() || KeyOfTheCopyOpens())) {
    match = true;
    m_bCheckValueDamaged = TRUE;
  }
  if (!match) {
    m_strPassword = kept;
    m_bHasPassword = hadPassword;
    return Fail(derived || !encrypted ? ERROR_WRONG_PASSWORD : GetError());
  }
  m_bHasPassword = TRUE;
  return Succeed();
}

BOOL CQVStorage::IsCheckValueDamaged() const { return m_bCheckValueDamaged; }

// The header's identifier or key scheme may be what is damaged: an archive
// with keys of its own keeps a copy of its identifier. When the keys made
// from the copy fit the check value or open the first encrypted block, the
// header is read with the copy (and scheme 1) from then on.
bool CQVStorage::KeyOfTheCopyOpens() {
  const BYTE* copy = m_pHeader + header::kKeyIdentifierCopy;
  static const BYTE kZero[header::kIdentifierSize] = {};
  if (std::memcmp(copy, kZero, sizeof(kZero)) == 0) return false;
  if (m_pHeader[header::kKeyScheme] == header::kKeySchemeOwn &&
      std::memcmp(copy, m_pHeader + header::kIdentifier, header::kIdentifierSize) == 0) {
    return false;  // nothing else to try
  }
  BYTE kept[header::kIdentifierSize + 1];
  std::memcpy(kept, m_pHeader + header::kIdentifier, header::kIdentifierSize);
  kept[header::kIdentifierSize] = m_pHeader[header::kKeyScheme];
  std::memcpy(m_pHeader + header::kIdentifier, copy, header::kIdentifierSize);
  m_pHeader[header::kKeyScheme] = header::kKeySchemeOwn;
  BYTE check[header::kCheckValueSize];
  bool opened = DeriveCheckValue(check) &&
                (std::memcmp(check, m_pHeader + header::kCheckValue, sizeof(check)) == 0 || KeyOpensFirstBlock());
  std::memset(check, 0, sizeof(check));
  if (!opened) {
    std::memcpy(m_pHeader + header::kIdentifier, kept, header::kIdentifierSize);
    m_pHeader[header::kKeyScheme] = kept[header::kIdentifierSize];
  }
  return opened;
}

// Reads the blocks after the header up to the first encrypted one (at most
// a few: the first file's record is one, and so is the index) and tries to
// open it with the password's block key. The stream is left where the
// header ends, as opening leaves it.
bool CQVStorage::KeyOpensFirstBlock() {
  constexpr int kMostBlocksLookedAt = 16;
  const ULONGLONG headerOffset = GetHeaderOffset();
  if (headerOffset == QVS_INVALID_OFFSET) return false;
  const ULONGLONG start = headerOffset + QVS_HEADER_SIZE;
  const BOOL hadPassword = m_bHasPassword;
  m_bHasPassword = TRUE;
  bool opened = false;
  ULONGLONG offset = start;
  for (int i = 0; i < kMostBlocksLookedAt && OpenVolumeForOffset(offset); ++i) {
    BYTE blockHeader[block::kSize];
    DWORD done = 0;
    if (!Transfer(blockHeader, block::kSize, false, &done)) break;
    const DWORD stored = GetDword(blockHeader, block::kStoredLength);
    if ((GetWord(blockHeader, block::kKind) & QVS_BLOCK_ENCRYPTED) != 0) {
      BYTE* data = nullptr;
      DWORD length = 0;
      opened = GetBlock(offset, &data, &length) != FALSE;
      if (opened) DeleteFoundBlockData(data, length);
      break;
    }
    offset += block::kSize + ULONGLONG{stored};
  }
  m_bHasPassword = hadPassword;
  OpenVolumeForOffset(start);
  return opened;
}

BOOL CQVStorage::CreateBlock(const BYTE* pData, DWORD dwLength, DWORD dwOptions, ULONGLONG* pullOffset,
                             WORD wKind) {
  if (!IsOpen()) return Fail(ERROR_INVALID_STATE);
  if (m_bSFXReadMode || m_bReadOnly) return Fail(ERROR_ACCESS_DENIED);
  if (!DropReadAhead()) return FALSE;
  // An empty block could not be read back: its stored length would be 0.
  if (pData == nullptr || dwLength == 0 || dwLength > GetArchiveBlockSize()) return Fail(ERROR_INVALID_PARAMETER);
  if (m_dwWorkerThreads > 1) {
    if (m_dwQueueError != ERROR_SUCCESS) return Fail(m_dwQueueError);
    if (!m_pBlockQueue && !StartQueue()) return FALSE;
    // No thread to be had: the block is sealed here, as without workers.
    if (m_pBlockQueue) return QueueBlock(pData, dwLength, dwOptions, pullOffset, wKind);
  }
  SealSettings settings;
  KeyBytes key;
  if (!PrepareSealing((dwOptions & QVS_BLOCK_STORE_PLAIN) == 0, &settings, &key)) return FALSE;
  if (!m_pSealer) m_pSealer = std::make_unique<BlockSealer>();
  SealedBlock sealed;
  const ULONGLONG offset = CurrentOffset();
  if (offset == QVS_INVALID_OFFSET) return FALSE;
  DWORD error = m_pSealer->Seal(pData, dwLength, dwOptions, wKind, settings, PlaceOf(offset), &sealed);
  if (error != ERROR_SUCCESS) return Fail(error);
  return WriteSealed(sealed.header, sealed.payload, sealed.payloadLength, sealed.contiguous, pullOffset);
}

// The archive's way of sealing blocks; with `bEncrypt` and a password the
// block key is derived into *pKey, which the settings then point at.
BOOL CQVStorage::PrepareSealing(bool bEncrypt, SealSettings* pSettings, KeyBytes* pKey) {
  pSettings->compress = GetDword(m_pHeader, header::kCompression) != 0;
  pSettings->effort = m_dwCompressionEffort;
  pSettings->encrypt = bEncrypt && m_bHasPassword;
  if (!pSettings->encrypt) return TRUE;
  if (!DeriveBlockKey(pKey, &pSettings->keyBits)) return FALSE;
  pSettings->key = pKey->bytes;
  return TRUE;
}

// Appends a sealed block at the current position; the header's end of data
// moves only once the whole block is written.
BOOL CQVStorage::WriteSealed(const BYTE* pBlockHeader, const BYTE* pPayload, DWORD dwPayloadLength,
                             bool bContiguous, ULONGLONG* pullOffset) {
  ULONGLONG offset = CurrentOffset();
  if (offset == QVS_INVALID_OFFSET) return FALSE;
  if (pullOffset != nullptr) *pullOffset = offset;
  DWORD done = 0;
  BYTE* payload = const_cast<BYTE*>(pPayload);
  if (bContiguous) {
    if (!Transfer(payload - block::kSize, block::kSize + dwPayloadLength, true, &done)) return FALSE;
  } else if (!Transfer(const_cast<BYTE*>(pBlockHeader), block::kSize, true, &done) ||
             !Transfer(payload, dwPayloadLength, true, &done)) {
    return FALSE;
  }
  PutQword(m_pHeader, header::kEndOfData, offset + block::kSize + dwPayloadLength);
  return Succeed();
}

BOOL CQVStorage::GetBlock(ULONGLONG ullOffset, BYTE** ppData, DWORD* pdwLength) {
  if (ppData == nullptr || pdwLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *ppData = nullptr;
  *pdwLength = 0;
  if (!IsOpen()) return Fail(ERROR_INVALID_STATE);
  if ((ullOffset == QVS_INVALID_OFFSET || ullOffset == m_ullAheadServed) && ReadingAhead() &&
      TakeAhead(ppData, pdwLength)) {
    return Succeed();
  }
  if (!SettleQueue()) return FALSE;
  if (ullOffset != QVS_INVALID_OFFSET && !OpenVolumeForOffset(ullOffset)) return FALSE;
  if (!ReadBlockHere(ppData, pdwLength)) return FALSE;
  // A reader that goes on from where it is reads the next blocks ahead.
  if (ullOffset == QVS_INVALID_OFFSET) StartReadAhead();
  return Succeed();
}

// The block at the current position, read and opened by the calling thread.
BOOL CQVStorage::ReadBlockHere(BYTE** ppData, DWORD* pdwLength) {
  ULONGLONG offset = CurrentOffset();
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
  BlockShape shape;
  if (DWORD error = CheckBlockHeader(blockHeader, offset, GetArchiveBlockSize(), endOfData, &shape)) {
    return Fail(error);
  }
  Buffer payload = Allocate(shape.stored);
  if (!payload) return Fail(ERROR_OUTOFMEMORY);
  if (!Transfer(payload.get(), shape.stored, false, &done)) {
    return Fail(GetError() == ERROR_HANDLE_EOF ? ERROR_INVALID_DATA : GetError());
  }
  KeyBytes key;
  OpenKey openKey;
  BYTE binding[kBindingSize];
  DWORD bindingSize = 0;
  if (shape.encrypted) {
    if (!m_bHasPassword) return Fail(ERROR_INVALID_PASSWORD);
    if (!DeriveBlockKey(&key, &openKey.keyBits)) return FALSE;
    openKey.key = key.bytes;
    bindingSize = BindingOf(PlaceOf(offset), blockHeader, binding);
  }
  if (!m_pOpener) m_pOpener = std::make_unique<BlockOpener>();
  BYTE* data = nullptr;
  if (DWORD error = m_pOpener->Open(blockHeader, shape, payload.release(), openKey, binding, bindingSize, &data)) {
    return Fail(error);
  }
  *ppData = data;
  *pdwLength = shape.dataLength;
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
