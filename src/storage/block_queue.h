// Blocks sealed by worker threads, handed back in the order they came in.
//
// The caller's thread pushes blocks (their data is copied, so the caller
// may reuse its buffer at once) and takes them back sealed, oldest first,
// to write them itself: the archive stays one stream written by one
// thread. The workers only checksum, compress and (when the settings ask
// for it) encrypt; they touch no file, call no callback and write no log
// line. Blocks bound to their place in the stream are encrypted by the
// writer, which alone knows where each one lands. At most a few blocks per
// worker are in flight, so memory stays bounded whatever the archive's size.
#ifndef QVBACKUP_STORAGE_BLOCK_QUEUE_H_
#define QVBACKUP_STORAGE_BLOCK_QUEUE_H_

#include "qvbackup/wintypes.h"
#include "storage/block_sealer.h"
#include "storage/ordered_workers.h"

namespace qv::storage {

// One block in the queue. `input` keeps a block header's room in front of
// the data, so a block stored as it is goes to disk in one write too.
struct QueuedBlock {
  GrowableBuffer input;
  GrowableBuffer output;
  DWORD length = 0;
  DWORD options = 0;
  WORD kind = 0;
  ULONGLONG* offsetOut = nullptr;  // filled by the writer, never by a worker
  SealedBlock sealed = {};
  DWORD error = 0;                 // the sealing's error
  bool done = false;
};

class BlockQueue {
 public:
  // Starts `threads` workers (at least 1) that seal with `settings`; the
  // key, when there is one, is copied (and wiped when the queue dies).
  BlockQueue(DWORD threads, const SealSettings& settings);
  // Stops the workers; blocks still queued are dropped unwritten.
  ~BlockQueue();
  BlockQueue(const BlockQueue&) = delete;
  BlockQueue& operator=(const BlockQueue&) = delete;

  // False when the system gave no thread at all: the queue cannot be used.
  bool Started() const;
  bool Full() const;
  bool Empty() const;
  // Copies `length` bytes at `data` into a free place and hands them to the
  // workers. REQUIRES: !Full(). False (nothing queued) when the copy's
  // memory cannot be had.
  bool Push(const BYTE* data, DWORD length, DWORD options, WORD kind, ULONGLONG* offsetOut);
  // The oldest block once it is sealed: waits for it when `wait`, else
  // null when it is not ready. Null when the queue is empty.
  QueuedBlock* Oldest(bool wait);
  // Frees the oldest block's place. REQUIRES: Oldest() returned it.
  void PopOldest();

 private:
  void Work();

  SealSettings settings_;
  KeyBytes key_;
  OrderedWorkers<QueuedBlock> ring_;
};

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_BLOCK_QUEUE_H_
