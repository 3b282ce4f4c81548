// The names a restore writes under before a file takes its own: the same
// shape every time, never twice alike within a process, also when threads
// ask at once.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "services/replacement_file.h"

namespace qv::services {
namespace {

bool HasItsShape(const WString& name) {
  if (name.size() != 3 + 16 + 4 || name.compare(0, 3, QVT("~qv")) != 0 ||
      name.compare(name.size() - 4, 4, QVT(".tmp")) != 0) {
    return false;
  }
  for (std::size_t i = 3; i < 19; ++i) {
    const WCHAR c = name[i];
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
  }
  return true;
}

TEST(TemporaryName, NamesOfOneProcessAreAllDifferent) {
  constexpr int kThreads = 4;
  constexpr int kEach = 20000;
  std::vector<std::vector<WString>> made(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&made, t] {
      for (int i = 0; i < kEach; ++i) made[t].push_back(TemporaryName());
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<WString> seen;
  for (const auto& names : made) {
    for (const WString& name : names) {
      ASSERT_TRUE(HasItsShape(name));
      seen.insert(name);
    }
  }
  EXPECT_EQ(seen.size(), std::size_t{kThreads} * kEach);
  // Not a plain count either: the names spread over their digits.
  std::set<WCHAR> firstDigits;
  for (const WString& name : made[0]) firstDigits.insert(name[3]);
  EXPECT_EQ(firstDigits.size(), 16u);
}

}  // namespace
}  // namespace qv::services
