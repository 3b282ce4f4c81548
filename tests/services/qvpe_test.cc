// CQVPE: neither the systems the tests run on nor Wine are a
// pre-installation environment.
#include "services/qvpe.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(CQVPE, ReportsNoPreinstallationEnvironmentAndKeepsTheLastError) {
  std::unique_ptr<CQVPE> pe = std::make_unique<CQVPE>();
  SetLastError(ERROR_INVALID_DATA);
  EXPECT_EQ(pe->IsWinPE(0), FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
}

}  // namespace
