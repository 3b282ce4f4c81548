// Helpers for the backup control tests: trees of files on disk, a message
// recorder, and comparing a restored tree with its source.
#ifndef QVBACKUP_TESTS_CONTROL_CONTROL_TEST_UTIL_H_
#define QVBACKUP_TESTS_CONTROL_CONTROL_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "qvbackup/qvbackupcontrol.h"
#include "storage/storage_test_util.h"

namespace qvtest {

struct MessageLog : CQVEngineCallback {
  std::vector<DWORD> codes;
  std::vector<DWORD> percentages;
  // Sets *cancel when the given number of progress messages has come.
  volatile DWORD* cancel = nullptr;
  int cancelAfter = -1;
  void OnEngineMessage(DWORD code, ULONGLONG value1, ULONGLONG value2, ULONGLONG, ULONGLONG) override {
    codes.push_back(code);
    if (code == ENGINE_MSG_PROGRESS && value1 == 2) {
      percentages.push_back(*reinterpret_cast<const DWORD*>(static_cast<std::uintptr_t>(value2)));
      if (cancel != nullptr && static_cast<int>(percentages.size()) == cancelAfter) *cancel = 1;
    }
  }
};

// Restores the whole archive of `desc` below `root` with a new control.
inline void RestoreAll(ArchiveDescription& desc, const TempDir& root) {
  CQVBackupControl restorer;
  ASSERT_TRUE(restorer.GetStorage().OpenArchive(desc.get())) << restorer.GetStorage().GetError();
  ASSERT_TRUE(restorer.LoadArchiveIndex()) << GetLastError();
  restorer.SetRestoreRoot(root.DrivePath().c_str());
  ASSERT_TRUE(restorer.RestoreAllFiles());
  EXPECT_TRUE(restorer.EndRestore());
}

// Where a source file comes back below `root`.
inline std::filesystem::path RestoredPath(const std::filesystem::path& root, const WString& drivePath) {
  std::string path = U8(drivePath);
  std::string rest = path.substr(3);
  for (char& c : rest) c = c == '\\' ? '/' : c;
  return root / ("Kelvar_" + path.substr(0, 1)) / std::filesystem::path(std::u8string(rest.begin(), rest.end()));
}

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_CONTROL_CONTROL_TEST_UTIL_H_
