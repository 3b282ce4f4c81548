#include "storage/block_queue.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace qv::storage {

namespace {

// Enough for each worker to seal one block while the writer writes another
// and one more waits: the workers never starve, the memory stays small.
constexpr std::size_t kBlocksPerWorker = 3;

}  // namespace

BlockQueue::BlockQueue(DWORD threads, const SealSettings& settings) : settings_(settings) {
  if (settings.encrypt && settings.key != nullptr) {
    std::memcpy(key_.bytes, settings.key, std::min<std::size_t>(KeyBytes::kMax, settings.keyBits / 8));
    settings_.key = key_.bytes;
  }
  const DWORD count = std::max<DWORD>(threads, 1);
  slots_.resize(kBlocksPerWorker * count);
  for (DWORD i = 0; i < count; ++i) {
    // A system that refuses more threads gets the ones it gave.
    try {
      workers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      break;
    }
  }
}

BlockQueue::~BlockQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

bool BlockQueue::Started() const { return !workers_.empty(); }

bool BlockQueue::Full() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pushed_ - popped_ == slots_.size();
}

bool BlockQueue::Empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pushed_ == popped_;
}

// The slot is free (given back), so no worker looks at it until `pushed_`
// moves past it, under the lock.
bool BlockQueue::Push(const BYTE* data, DWORD length, DWORD options, WORD kind, ULONGLONG* offsetOut) {
  std::unique_lock<std::mutex> lock(mutex_);
  QueuedBlock& slot = At(pushed_);
  lock.unlock();
  BYTE* input = slot.input.Reserve(std::size_t{block::kSize} + length);
  if (input == nullptr) return false;
  std::memcpy(input + block::kSize, data, length);
  slot.length = length;
  slot.options = options;
  slot.kind = kind;
  slot.offsetOut = offsetOut;
  slot.error = 0;
  slot.done = false;
  lock.lock();
  ++pushed_;
  lock.unlock();
  work_.notify_one();
  return true;
}

QueuedBlock* BlockQueue::Oldest(bool wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (pushed_ == popped_) return nullptr;
  QueuedBlock& oldest = At(popped_);
  if (wait) sealed_.wait(lock, [&] { return oldest.done; });
  return oldest.done ? &oldest : nullptr;
}

void BlockQueue::PopOldest() {
  std::lock_guard<std::mutex> lock(mutex_);
  At(popped_).done = false;
  ++popped_;
}

void BlockQueue::Work() {
  BlockSealer sealer;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] { return stop_ || claimed_ < pushed_; });
    if (stop_) return;
    QueuedBlock& slot = At(claimed_++);
    lock.unlock();
    BYTE* input = slot.input.Data();
    slot.error = sealer.Seal(input + block::kSize, slot.length, slot.options, slot.kind, settings_, BlockPlace{},
                             slot.output, &slot.sealed);
    // Stored as it is: the header goes into the room left in front of the
    // copy, so that the writer still writes the block at once.
    if (slot.error == 0 && !slot.sealed.contiguous) {
      std::memcpy(input, slot.sealed.header, block::kSize);
      slot.sealed.contiguous = true;
    }
    lock.lock();
    slot.done = true;
    sealed_.notify_all();
  }
}

}  // namespace qv::storage
