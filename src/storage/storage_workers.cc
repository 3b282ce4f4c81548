// Blocks sealed by worker threads: the calling thread queues them and
// writes them back in their order, so the archive is the same stream as
// without workers and every file operation stays on the calling thread.
#include <algorithm>
#include <memory>

#include "storage/block_queue.h"
#include "storage/block_sealer.h"
#include "qvbackup/qvstorage.h"

using namespace qv::storage;

namespace {

constexpr DWORD kMostWorkerThreads = 64;

}  // namespace

void CQVStorage::SetWorkerThreads(DWORD dwThreads) {
  const DWORD threads = std::clamp<DWORD>(dwThreads, 1, kMostWorkerThreads);
  if (threads == m_dwWorkerThreads) return;
  // What is queued is written by the workers of the old count.
  SettleQueue();
  m_pBlockQueue.reset();
  ForgetReadAhead();
  m_dwWorkerThreads = threads;
}

DWORD CQVStorage::GetWorkerThreads() const { return m_dwWorkerThreads; }

BOOL CQVStorage::SetCompressionEffort(DWORD dwEffort) {
  if (dwEffort != QVS_EFFORT_DEFAULT && dwEffort != QVS_EFFORT_FAST && dwEffort != QVS_EFFORT_BEST) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (dwEffort == m_dwCompressionEffort) return Succeed();
  // The workers seal with the settings they were started with.
  SettleQueue();
  m_pBlockQueue.reset();
  m_dwCompressionEffort = dwEffort;
  return Succeed();
}

DWORD CQVStorage::GetCompressionEffort() const { return m_dwCompressionEffort; }

BOOL CQVStorage::FlushBlocks() {
  if (!SettleQueue()) return FALSE;
  return m_dwQueueError != ERROR_SUCCESS ? Fail(m_dwQueueError) : Succeed();
}

// Starts the workers with the archive's settings: they checksum and
// compress; encryption binds each block to where it lands in the stream,
// so the writer does it (see WriteQueued). TRUE without a queue when the
// system gives no thread.
BOOL CQVStorage::StartQueue() {
  SealSettings settings;
  KeyBytes key;
  if (!PrepareSealing(false, &settings, &key)) return FALSE;
  m_pBlockQueue = std::make_unique<BlockQueue>(m_dwWorkerThreads, settings);
  if (!m_pBlockQueue->Started()) m_pBlockQueue.reset();
  return TRUE;
}

// Queues the block, then writes every block already sealed. A full queue
// waits for its oldest block: that is what bounds the memory.
BOOL CQVStorage::QueueBlock(const BYTE* pData, DWORD dwLength, DWORD dwOptions, ULONGLONG* pullOffset,
                            WORD wKind) {
  while (m_pBlockQueue->Full()) {
    if (!WriteQueued(*m_pBlockQueue->Oldest(true))) return FALSE;
  }
  if (!m_pBlockQueue->Push(pData, dwLength, dwOptions, wKind, pullOffset)) return Fail(ERROR_OUTOFMEMORY);
  for (QueuedBlock* ready = m_pBlockQueue->Oldest(false); ready != nullptr; ready = m_pBlockQueue->Oldest(false)) {
    if (!WriteQueued(*ready)) return FALSE;
  }
  return Succeed();
}

BOOL CQVStorage::WriteQueued(QueuedBlock& block) {
  if (block.error != ERROR_SUCCESS) return StopQueue(block.error);
  SealedBlock sealed = block.sealed;
  if ((block.options & QVS_BLOCK_STORE_PLAIN) == 0 && m_bHasPassword) {
    SealSettings settings;
    KeyBytes key;
    const ULONGLONG offset = CurrentOffset();
    if (offset == QVS_INVALID_OFFSET || !PrepareSealing(true, &settings, &key)) return StopQueue(GetError());
    if (!m_pSealer) m_pSealer = std::make_unique<BlockSealer>();
    if (DWORD error = m_pSealer->EncryptSealed(settings, PlaceOf(offset), &sealed); error != ERROR_SUCCESS) {
      return StopQueue(error);
    }
  }
  if (!WriteSealed(sealed.header, sealed.payload, sealed.payloadLength, sealed.contiguous, block.offsetOut)) {
    return StopQueue(GetError());
  }
  m_pBlockQueue->PopOldest();
  return TRUE;
}

// Writes every queued block, oldest first, after putting the stream back
// where a reader whose blocks were read ahead is. FALSE with the error
// that stopped them.
BOOL CQVStorage::SettleQueue() {
  if (!DropReadAhead()) return FALSE;
  if (!m_pBlockQueue) return TRUE;
  for (QueuedBlock* oldest = m_pBlockQueue->Oldest(true); oldest != nullptr; oldest = m_pBlockQueue->Oldest(true)) {
    if (!WriteQueued(*oldest)) return FALSE;
  }
  return TRUE;
}

// A block that cannot be sealed or written ends the queue: the blocks after
// it are dropped, and every later block fails with the same error, as a
// full disk would fail them.
BOOL CQVStorage::StopQueue(DWORD dwError) {
  m_dwQueueError = dwError;
  m_pBlockQueue.reset();
  return Fail(dwError);
}

void CQVStorage::DropQueue() {
  m_pBlockQueue.reset();
  m_dwQueueError = ERROR_SUCCESS;
}
