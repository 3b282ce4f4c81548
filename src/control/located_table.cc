// Tables a member keeps beside its files and index (the metadata table,
// the record of the selection's state): blocks of the table's own kind,
// then one plain block, its locator, saying where they lie. A reader finds
// the locator at a known place (right before the index, or right before
// another table) and the table from it; readers that know nothing of a
// kind never read its blocks.
//
// Locator (24 bytes): the table's magic (4), the offset of its first block
// (8), its length in bytes (8), 0 (4).
#include <algorithm>
#include <cstring>
#include <vector>

#include "control/control_records.h"
#include "qvbackup/qvbackupcontrol.h"
#include "storage/archive_layout.h"

using namespace qv::control;
using qv::storage::GetDword;
using qv::storage::GetQword;

BOOL CQVBackupControl::WriteLocatedTable(const std::vector<BYTE>& bytes, WORD wKind, WORD wLocatorKind,
                                         const char* pszMagic) {
  const ULONGLONG length = bytes.size();
  const DWORD blockSize = m_qvStorage.GetArchiveBlockSize();
  ULONGLONG offset = 0;
  for (ULONGLONG at = 0; at < length;) {
    const DWORD piece = static_cast<DWORD>(std::min<ULONGLONG>(blockSize, length - at));
    if (!m_qvStorage.CreateBlock(bytes.data() + at, piece, 0, at == 0 ? &offset : nullptr, wKind)) return FALSE;
    at += piece;
  }
  // The first block's offset is known once it is written.
  if (!m_qvStorage.FlushBlocks()) return FALSE;
  BYTE locatorRecord[locator::kSize] = {};
  std::memcpy(locatorRecord, pszMagic, 4);
  qv::storage::PutQword(locatorRecord, locator::kTableOffset, offset);
  qv::storage::PutQword(locatorRecord, locator::kTableLength, length);
  return m_qvStorage.CreateBlock(locatorRecord, locator::kSize, QVS_BLOCK_STORE_PLAIN, nullptr, wLocatorKind) &&
         m_qvStorage.FlushBlocks();
}

// Whether the block header at `ullOffset` is that of a plain locator of
// kind `wKind`.
bool CQVBackupControl::LocatorKindAt(ULONGLONG ullOffset, WORD wKind) {
  BYTE header[kBlockHeaderSize];
  if (m_qvStorage.Seek(ullOffset, 0, TRUE) == QVS_INVALID_OFFSET || !m_qvStorage.ReadData(header, sizeof(header))) {
    return false;
  }
  return qv::storage::GetWord(header, ::qvlayout::block::kKind) == wKind &&
         GetDword(header, ::qvlayout::block::kStoredLength) == locator::kSize &&
         GetDword(header, ::qvlayout::block::kDataLength) == locator::kSize;
}

int CQVBackupControl::ReadLocatedTable(ULONGLONG ullBefore, WORD wLocatorKind, const char* pszMagic,
                                       std::vector<BYTE>* pBytes, ULONGLONG* pullTableOffset, DWORD* pdwError) {
  constexpr int kNone = 0;
  constexpr int kRead = 1;
  constexpr int kDamaged = 2;
  const auto damaged = [pdwError](DWORD error) {
    *pdwError = error;
    return kDamaged;
  };
  const ULONGLONG locatorBytes = kBlockHeaderSize + locator::kSize;
  const ULONGLONG firstBlock = m_qvStorage.GetHeaderOffset() + ::qvlayout::header::kSize;
  if (ullBefore < firstBlock + locatorBytes) return kNone;
  const ULONGLONG locatorOffset = ullBefore - locatorBytes;
  // Where there is no table the bytes there are the end of what precedes:
  // they do not read back as a locator block (its kind, lengths, plain
  // storage and checksum all say so).
  if (!LocatorKindAt(locatorOffset, wLocatorKind)) return kNone;
  // A locator's header, and then no locator: it is damaged, and with it
  // what the table held.
  BYTE* block = nullptr;
  DWORD length = 0;
  if (!m_qvStorage.GetBlock(locatorOffset, &block, &length)) return damaged(ERROR_INVALID_DATA);
  const bool isLocator = length == locator::kSize && std::memcmp(block, pszMagic, 4) == 0 &&
                         GetDword(block, locator::kReserved) == 0;
  const ULONGLONG tableOffset = isLocator ? GetQword(block, locator::kTableOffset) : 0;
  const ULONGLONG tableLength = isLocator ? GetQword(block, locator::kTableLength) : 0;
  m_qvStorage.DeleteFoundBlockData(block, length);
  if (!isLocator) return damaged(ERROR_INVALID_DATA);
  if (tableOffset < firstBlock || tableOffset >= locatorOffset || tableLength == 0 ||
      tableLength / kMostInflation > locatorOffset - tableOffset) {
    return damaged(ERROR_INVALID_DATA);
  }
  pBytes->clear();
  pBytes->reserve(static_cast<std::size_t>(tableLength));
  for (ULONGLONG at = tableOffset; pBytes->size() < tableLength; at = QVS_INVALID_OFFSET) {
    if (!m_qvStorage.GetBlock(at, &block, &length)) {
      const DWORD error = m_qvStorage.GetError();
      return damaged(error != ERROR_SUCCESS ? error : ERROR_INVALID_DATA);
    }
    const bool fits = length != 0 && length <= tableLength - pBytes->size();
    if (fits) pBytes->insert(pBytes->end(), block, block + length);
    m_qvStorage.DeleteFoundBlockData(block, length);
    if (!fits) return damaged(ERROR_INVALID_DATA);
  }
  *pullTableOffset = tableOffset;
  return kRead;
}
