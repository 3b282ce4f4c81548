#include "storage/read_ahead.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace qv::storage {

ReadAhead::ReadAhead(DWORD threads, DWORD depth, const OpenKey& key) : ring_(std::max<DWORD>(depth, 1)) {
  if (key.key != nullptr) {
    std::memcpy(key_.bytes, key.key, std::min<std::size_t>(KeyBytes::kMax, key.keyBits / 8));
    openKey_.key = key_.bytes;
    openKey_.keyBits = key.keyBits;
  }
  ring_.Start(threads, [this] { Work(); });
}

ReadAhead::~ReadAhead() {
  ring_.Stop();
  for (AheadBlock& block : ring_.Slots()) Free(block);
}

bool ReadAhead::Full() const { return ring_.Full(); }

AheadBlock& ReadAhead::Fill(const AheadBlock& block) {
  AheadBlock& slot = ring_.Next();
  slot = block;
  slot.data = nullptr;
  slot.error = 0;
  return slot;
}

void ReadAhead::Open(BlockOpener& opener, AheadBlock& slot) const {
  BYTE* payload = std::exchange(slot.payload, nullptr);
  slot.error = opener.Open(slot.header, slot.shape, payload, openKey_, slot.binding, slot.bindingSize, &slot.data);
}

void ReadAhead::Push(AheadBlock block) {
  Fill(block);
  ring_.Push();
}

void ReadAhead::PushOpened(AheadBlock block) {
  Open(ownOpener_, Fill(block));
  ring_.PushDone();
}

AheadBlock* ReadAhead::Oldest() { return ring_.Oldest(true); }

void ReadAhead::PopOldest() { Free(ring_.PopOldest()); }

void ReadAhead::Clear() {
  while (Oldest() != nullptr) PopOldest();
}

void ReadAhead::Free(AheadBlock& block) {
  std::free(block.payload);
  std::free(block.data);
  block.payload = nullptr;
  block.data = nullptr;
}

void ReadAhead::Work() {
  BlockOpener opener;
  for (AheadBlock* slot = ring_.Claim(); slot != nullptr; slot = ring_.Claim()) {
    Open(opener, *slot);
    ring_.Done(*slot);
  }
}

}  // namespace qv::storage
