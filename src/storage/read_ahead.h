// Blocks read ahead of a reader that goes through the archive in order:
// the calling thread reads each block's bytes and hands them to worker
// threads, which decrypt, inflate and check them while the caller writes
// out the blocks before. The workers touch no file, call no callback and
// write no log line; blocks come back in the order they were pushed. At
// most `depth` blocks are in flight, which bounds the memory.
#ifndef QVBACKUP_STORAGE_READ_AHEAD_H_
#define QVBACKUP_STORAGE_READ_AHEAD_H_

#include "qvbackup/wintypes.h"
#include "storage/archive_layout.h"
#include "storage/block_opener.h"
#include "storage/block_sealer.h"
#include "storage/ordered_workers.h"

namespace qv::storage {

// One block read ahead: what the caller read, then what a worker made of it.
struct AheadBlock {
  ULONGLONG next = 0;               // the stream offset after the block
  BYTE header[block::kSize] = {};
  BlockShape shape;
  BYTE* payload = nullptr;          // std::malloc'd, taken by the worker
  BYTE binding[kBindingSize] = {};
  DWORD bindingSize = 0;
  BYTE* data = nullptr;             // std::malloc'd; the taker's once done
  DWORD error = 0;                  // the opening's error
  bool done = false;
};

class ReadAhead {
 public:
  // Starts `threads` workers (at least 1) that open blocks with `key`
  // (copied, and wiped when the read-ahead dies), with room for `depth`
  // blocks (at least 1).
  ReadAhead(DWORD threads, DWORD depth, const OpenKey& key);
  // Waits for the workers and frees every block still held.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // False when the system gave no thread at all: it cannot be used.
  bool Started() const { return ring_.Started(); }
  bool Full() const;
  // Hands a block to the workers; `block.payload` becomes theirs.
  // REQUIRES: !Full().
  void Push(AheadBlock block);
  // Opens a block on the calling thread and queues it done, in its place
  // among the others: for blocks so small that waking a worker costs more
  // than opening them. `block.payload` is taken. REQUIRES: !Full().
  void PushOpened(AheadBlock block);
  // The oldest block, once a worker is done with it; null when there is
  // none. Its data may be taken (set to null) before PopOldest.
  AheadBlock* Oldest();
  void PopOldest();
  // Drops every block, waiting for those being opened.
  void Clear();

 private:
  void Work();
  // The next slot, holding `block` (its payload with it) and nothing else.
  AheadBlock& Fill(const AheadBlock& block);
  // Opens the slot's payload (taken) into its data and error.
  void Open(BlockOpener& opener, AheadBlock& slot) const;
  static void Free(AheadBlock& block);

  KeyBytes key_;
  OpenKey openKey_;
  BlockOpener ownOpener_;  // the calling thread's, for PushOpened
  OrderedWorkers<AheadBlock> ring_;
};

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_READ_AHEAD_H_
