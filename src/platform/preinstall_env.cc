// The answer of RunsInPreinstallationEnvironment, which tests may fix.
#include "platform/preinstall_env.h"

#include <atomic>

namespace qv::platform {

namespace {

// 0: ask the system; 1: no; 2: yes.
std::atomic<int> g_override{0};

}  // namespace

bool RunsInPreinstallationEnvironment() {
  const int fixed = g_override.load();
  return fixed == 0 ? SystemRunsInPreinstallationEnvironment() : fixed == 2;
}

void OverridePreinstallationEnvironmentForTesting(std::optional<bool> answer) {
  g_override.store(!answer.has_value() ? 0 : *answer ? 2 : 1);
}

}  // namespace qv::platform
