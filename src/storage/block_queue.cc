#include "storage/block_queue.h"

#include <algorithm>
#include <cstring>

namespace qv::storage {

namespace {

// Enough for each worker to seal one block while the writer writes another
// and one more waits: the workers never starve, the memory stays small.
constexpr std::size_t kBlocksPerWorker = 3;

}  // namespace

BlockQueue::BlockQueue(DWORD threads, const SealSettings& settings)
    : settings_(settings), ring_(kBlocksPerWorker * std::max<DWORD>(threads, 1)) {
  if (settings.encrypt && settings.key != nullptr) {
    std::memcpy(key_.bytes, settings.key, std::min<std::size_t>(KeyBytes::kMax, settings.keyBits / 8));
    settings_.key = key_.bytes;
  }
  ring_.Start(threads, [this] { Work(); });
}

BlockQueue::~BlockQueue() { ring_.Stop(); }

bool BlockQueue::Started() const { return ring_.Started(); }

bool BlockQueue::Full() const { return ring_.Full(); }

bool BlockQueue::Empty() const { return ring_.Empty(); }

bool BlockQueue::Push(const BYTE* data, DWORD length, DWORD options, WORD kind, ULONGLONG* offsetOut) {
  QueuedBlock& slot = ring_.Next();
  BYTE* input = slot.input.Reserve(std::size_t{block::kSize} + length);
  if (input == nullptr) return false;
  std::memcpy(input + block::kSize, data, length);
  slot.length = length;
  slot.options = options;
  slot.kind = kind;
  slot.offsetOut = offsetOut;
  slot.error = 0;
  ring_.Push();
  return true;
}

QueuedBlock* BlockQueue::Oldest(bool wait) { return ring_.Oldest(wait); }

void BlockQueue::PopOldest() { ring_.PopOldest(); }

void BlockQueue::Work() {
  BlockSealer sealer;
  for (QueuedBlock* slot = ring_.Claim(); slot != nullptr; slot = ring_.Claim()) {
    BYTE* input = slot->input.Data();
    slot->error = sealer.Seal(input + block::kSize, slot->length, slot->options, slot->kind, settings_, BlockPlace{},
                              slot->output, &slot->sealed);
    // Stored as it is: the header goes into the room left in front of the
    // copy, so that the writer still writes the block at once.
    if (slot->error == 0 && !slot->sealed.contiguous) {
      std::memcpy(input, slot->sealed.header, block::kSize);
      slot->sealed.contiguous = true;
    }
    ring_.Done(*slot);
  }
}

}  // namespace qv::storage
