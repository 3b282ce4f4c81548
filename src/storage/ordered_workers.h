// Slots handed to worker threads in the order they are filled and given
// back in that same order: the ring both the block queue (sealing) and the
// read-ahead (opening) run on. The owner's thread fills the slot Next()
// gives and pushes it, workers claim slots in order, and the owner takes
// the oldest back once a worker marked it done (each Slot has a `bool
// done`, which changes under the ring's lock); a slot the owner did itself
// goes in done. A slot is touched only by
// the thread that holds it: the owner before it is pushed and after it is
// done, one worker in between. Declare the ring after everything its
// workers use, so that it stops them first.
#ifndef QVBACKUP_STORAGE_ORDERED_WORKERS_H_
#define QVBACKUP_STORAGE_ORDERED_WORKERS_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "qvbackup/wintypes.h"

namespace qv::storage {

template <typename Slot>
class OrderedWorkers {
 public:
  explicit OrderedWorkers(std::size_t slots) : slots_(slots == 0 ? 1 : slots) {}
  ~OrderedWorkers() { Stop(); }
  OrderedWorkers(const OrderedWorkers&) = delete;
  OrderedWorkers& operator=(const OrderedWorkers&) = delete;

  // Starts `count` threads (at least 1) running `work`, which loops on
  // Claim() until it gives null. A system that refuses more threads gets
  // the ones it gave.
  template <typename Work>
  void Start(DWORD count, Work work) {
    for (DWORD i = 0; i < (count == 0 ? 1 : count); ++i) {
      try {
        workers_.emplace_back(work);
      } catch (const std::system_error&) {
        break;
      }
    }
  }
  // Stops the workers once they finish the slot each holds.
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    work_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
  }
  bool Started() const { return !workers_.empty(); }

  bool Full() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pushed_ - popped_ == slots_.size();
  }
  bool Empty() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pushed_ == popped_;
  }
  // The slot the owner fills next. REQUIRES: !Full().
  Slot& Next() {
    std::lock_guard<std::mutex> lock(mutex_);
    return At(pushed_);
  }
  // Hands the slot from Next() to the workers.
  void Push() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++pushed_;
    }
    work_.notify_one();
  }
  // Hands the slot from Next() over done already (the owner did its work
  // itself): no worker is woken for it, none takes it.
  void PushDone() {
    std::lock_guard<std::mutex> lock(mutex_);
    At(pushed_).done = true;
    ++pushed_;
  }
  // A worker's next slot, waiting for one; null once stopped. Slots pushed
  // done are passed over.
  Slot* Claim() {
    std::unique_lock<std::mutex> lock(mutex_);
    work_.wait(lock, [&] {
      while (claimed_ < pushed_ && At(claimed_).done) ++claimed_;
      return stop_ || claimed_ < pushed_;
    });
    return stop_ ? nullptr : &At(claimed_++);
  }
  // A worker is done with `slot`.
  void Done(Slot& slot) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slot.done = true;
    }
    done_.notify_all();
  }
  // The oldest slot once a worker is done with it, waiting for that when
  // `wait`, else null when it is not; null when none is pushed.
  Slot* Oldest(bool wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (pushed_ == popped_) return nullptr;
    Slot& oldest = At(popped_);
    if (wait) done_.wait(lock, [&] { return oldest.done; });
    return oldest.done ? &oldest : nullptr;
  }
  // Gives the oldest slot back to the owner, who may reuse it at once.
  // REQUIRES: Oldest() returned it.
  Slot& PopOldest() {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& oldest = At(popped_++);
    oldest.done = false;
    // A slot pushed done may be taken back before any worker passed it.
    if (claimed_ < popped_) claimed_ = popped_;
    return oldest;
  }
  std::vector<Slot>& Slots() { return slots_; }

 private:
  Slot& At(std::uint64_t sequence) { return slots_[sequence % slots_.size()]; }

  std::vector<Slot> slots_;
  mutable std::mutex mutex_;
  std::condition_variable work_;  // a slot was pushed, or stop
  std::condition_variable done_;  // a worker finished a slot
  std::uint64_t pushed_ = 0;
  std::uint64_t claimed_ = 0;
  std::uint64_t popped_ = 0;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_ORDERED_WORKERS_H_
