// The ring of ordered worker slots: slots come back in the order they were
// pushed, whether a worker did them or the owner pushed them done, with the
// ring wrapping many times and done slots taken back before any worker
// passed them.
#include "storage/ordered_workers.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv::storage {
namespace {

struct Slot {
  int input = 0;
  int output = 0;
  int doneBy = 0;  // 1: a worker, 2: the owner
  bool done = false;
};

// The owner pushes `count` values through a ring of `slots`, doing those
// `ownsIt` picks itself, and takes each back as soon as it can.
std::vector<Slot> RunThrough(std::size_t slots, int count, DWORD threads, bool (*ownsIt)(int)) {
  OrderedWorkers<Slot> ring(slots);
  ring.Start(threads, [&ring] {
    for (Slot* slot = ring.Claim(); slot != nullptr; slot = ring.Claim()) {
      slot->output = slot->input * 3 + 1;
      slot->doneBy = 1;
      ring.Done(*slot);
    }
  });
  std::vector<Slot> back;
  int pushed = 0;
  while (static_cast<int>(back.size()) < count) {
    while (pushed < count && !ring.Full()) {
      Slot& slot = ring.Next();
      slot.input = pushed;
      slot.output = 0;
      slot.doneBy = 0;
      if (ownsIt(pushed)) {
        slot.output = pushed * 3 + 1;
        slot.doneBy = 2;
        ring.PushDone();
      } else {
        ring.Push();
      }
      ++pushed;
    }
    Slot* oldest = ring.Oldest(true);
    if (oldest == nullptr) break;
    back.push_back(*oldest);
    ring.PopOldest();
  }
  ring.Stop();
  return back;
}

void ExpectInOrder(const std::vector<Slot>& back, int count, bool (*ownsIt)(int)) {
  ASSERT_EQ(back.size(), static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(back[i].input, i);
    EXPECT_EQ(back[i].output, i * 3 + 1) << i;
    EXPECT_EQ(back[i].doneBy, ownsIt(i) ? 2 : 1) << i;
  }
}

TEST(OrderedWorkersTest, SlotsDoneByTheOwnerKeepTheirPlaceAndAreNotDoneAgain) {
  const auto everyThird = [](int i) { return i % 3 == 0; };
  for (std::size_t slots : {1u, 2u, 5u}) {
    for (DWORD threads : {1u, 3u}) {
      ExpectInOrder(RunThrough(slots, 500, threads, everyThird), 500, everyThird);
    }
  }
}

TEST(OrderedWorkersTest, RunsOfOwnerSlotsLongerThanTheRing) {
  // Whole turns of the ring go by with no worker woken; they must not
  // claim a slot that was given back and filled again meanwhile.
  const auto runs = [](int i) { return (i / 7) % 2 == 0; };
  ExpectInOrder(RunThrough(3, 700, 2, runs), 700, runs);
  const auto all = [](int) { return true; };
  ExpectInOrder(RunThrough(4, 100, 2, all), 100, all);
  const auto none = [](int) { return false; };
  ExpectInOrder(RunThrough(4, 100, 2, none), 100, none);
}

}  // namespace
}  // namespace qv::storage
