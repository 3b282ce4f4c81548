// Blocks read ahead while a reader goes through the archive in order (a
// restore writing files, a check of every block): the calling thread
// reads the blocks that follow the one asked for and worker threads open
// them meanwhile. Every file operation stays on the calling thread.
//
// The read-ahead only ever reads on from where the reader is, within the
// open volume: the next volume is opened (and, when missing, asked for) by
// the reader itself when it gets there. Whatever the read-ahead cannot
// open (damage, a wrong key, the end of the data) is left for the reader to
// read again itself, so errors stay what they were. Any other use of the
// archive puts the stream back where the reader is and drops what was read
// ahead; so does a file position moved by anything else.
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "platform/random_access_file.h"
#include "storage/archive_layout.h"
#include "storage/block_opener.h"
#include "storage/block_sealer.h"
#include "storage/read_ahead.h"
#include "qvbackup/qvstorage.h"

using namespace qv::storage;

namespace {

// Enough for every worker to open a block while the reader writes out
// another and more wait; within a few MiB of memory.
constexpr DWORD kBlocksPerWorker = 4;
constexpr ULONGLONG kMostBytesAhead = 16ull << 20;
// Blocks up to this many stored bytes (a small file's records and content)
// are opened by the reader as it reads them: waking a worker and waiting
// for it costs more than that.
constexpr DWORD kOpenedByReader = 4096;

}  // namespace

// After the reader read a block at the current position itself: from now
// on the blocks after it are read ahead, when the archive is being read and
// workers are allowed.
void CQVStorage::StartReadAhead() {
  if (m_dwWorkerThreads < 2 || !m_bReading || m_pVolume == nullptr) return;
  const DWORD blockSize = GetArchiveBlockSize();
  // Each block in flight holds its stored bytes and its data.
  const ULONGLONG fits = kMostBytesAhead / (2 * ULONGLONG{std::max<DWORD>(blockSize, 1)});
  const DWORD depth = static_cast<DWORD>(std::min<ULONGLONG>(kBlocksPerWorker * m_dwWorkerThreads, fits));
  if (depth < 2) return;
  ULONGLONG position = 0;
  if (!m_pVolume->Tell(&position)) return;
  if (!m_pReadAhead) {
    OpenKey key;
    KeyBytes bytes;
    // Without the key the encrypted blocks are left for the reader, which
    // says why it cannot open them.
    if (m_bHasPassword && m_pHeader[header::kEncryptionType] != 0 && DeriveBlockKey(&bytes, &key.keyBits)) {
      key.key = bytes.bytes;
    }
    m_pReadAhead = std::make_unique<ReadAhead>(m_dwWorkerThreads, depth, key);
    if (!m_pReadAhead->Started()) {
      m_pReadAhead.reset();
      return;
    }
    m_bAheadKeyed = key.key != nullptr;
  }
  m_bAheadActive = true;
  m_bAheadStopped = false;
  m_pAheadVolume = m_pVolume;
  m_dwAheadVolume = m_dwCurrentVolume;
  m_dwAheadIncrement = m_dwCurrentVolumeIncrement;
  m_ullAheadVolumeStart = HasVolumeLimit() ? ULONGLONG{m_dwCurrentVolume} * VolumeLimit() : 0;
  m_ullAheadServed = m_ullAheadVolumeStart + position;
  m_ullAheadNext = m_ullAheadServed;
}

// Whether blocks are being read ahead and the stream is where the
// read-ahead left it; when something else moved it, what was read ahead is
// forgotten and the stream stays where it was put.
bool CQVStorage::ReadingAhead() {
  if (!m_bAheadActive) return false;
  ULONGLONG position = 0;
  const bool inPlace = m_pVolume != nullptr && m_pVolume == m_pAheadVolume && m_dwCurrentVolume == m_dwAheadVolume &&
                       m_dwCurrentVolumeIncrement == m_dwAheadIncrement && m_pVolume->Tell(&position) &&
                       m_ullAheadVolumeStart + position == m_ullAheadNext;
  if (!inPlace) {
    m_bAheadActive = false;
    m_pReadAhead->Clear();
  }
  return inPlace;
}

// Puts the stream back after the last block handed to the reader and drops
// what was read past it.
BOOL CQVStorage::DropReadAhead() {
  if (!ReadingAhead()) return TRUE;
  m_bAheadActive = false;
  m_pReadAhead->Clear();
  if (!m_pVolume->Seek(m_ullAheadServed - m_ullAheadVolumeStart)) return Fail(GetLastError());
  return TRUE;
}

void CQVStorage::ForgetReadAhead() {
  m_bAheadActive = false;
  m_pReadAhead.reset();
}

// Reads blocks on until the read-ahead is full or meets what it leaves to
// the reader.
void CQVStorage::FillReadAhead() {
  const ULONGLONG endOfData = GetQword(m_pHeader, header::kEndOfData);
  const DWORD blockSize = GetArchiveBlockSize();
  while (!m_bAheadStopped && !m_pReadAhead->Full()) {
    if (!ReadOneAhead(endOfData, blockSize)) {
      m_bAheadStopped = true;
      // The stream goes back to the end of the last whole block read.
      m_pVolume->Seek(m_ullAheadNext - m_ullAheadVolumeStart);
    }
  }
}

bool CQVStorage::ReadOneAhead(ULONGLONG ullEndOfData, DWORD dwBlockSize) {
  const ULONGLONG offset = m_ullAheadNext;
  if (ullEndOfData != 0 && offset >= ullEndOfData) return false;
  ULONGLONG room = ~0ull;
  if (HasVolumeLimit()) {
    const ULONGLONG volumeEnd = m_ullAheadVolumeStart + VolumeLimit();
    room = offset < volumeEnd ? volumeEnd - offset : 0;
  }
  if (room < block::kSize) return false;
  AheadBlock block;
  DWORD read = 0;
  if (!m_pVolume->Read(block.header, block::kSize, &read) || read != block::kSize) return false;
  if (CheckBlockHeader(block.header, offset, dwBlockSize, ullEndOfData, &block.shape) != 0) return false;
  if (block.shape.encrypted && !m_bAheadKeyed) return false;
  if (room - block::kSize < block.shape.stored) return false;
  block.payload = static_cast<BYTE*>(std::malloc(block.shape.stored));
  if (block.payload == nullptr) return false;
  if (!m_pVolume->Read(block.payload, block.shape.stored, &read) || read != block.shape.stored) {
    std::free(block.payload);
    return false;
  }
  if (block.shape.encrypted) block.bindingSize = BindingOf(PlaceOf(offset), block.header, block.binding);
  block.next = offset + block::kSize + block.shape.stored;
  m_ullAheadNext = block.next;
  if (block.shape.stored <= kOpenedByReader) {
    m_pReadAhead->PushOpened(std::move(block));
  } else {
    m_pReadAhead->Push(std::move(block));
  }
  return true;
}

// The block at the reader's position, from the read-ahead. False when it
// has none for it (it stopped there, or the block did not open): the
// reader then drops the read-ahead and reads the block itself.
bool CQVStorage::TakeAhead(BYTE** ppData, DWORD* pdwLength) {
  FillReadAhead();
  AheadBlock* oldest = m_pReadAhead->Oldest();
  if (oldest == nullptr || oldest->error != 0) return false;
  *ppData = std::exchange(oldest->data, nullptr);
  *pdwLength = oldest->shape.dataLength;
  m_ullAheadServed = oldest->next;
  m_pReadAhead->PopOldest();
  // The workers go on while the reader writes this one out.
  FillReadAhead();
  return true;
}
