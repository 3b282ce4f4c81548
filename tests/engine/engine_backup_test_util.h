// Helpers for the backup run tests: a destination volume of a chosen size
// and type, a recorder of messages that can cancel the backup, and the
// files a backup and a restore leave on disk.
#ifndef QVBACKUP_TESTS_ENGINE_ENGINE_BACKUP_TEST_UTIL_H_
#define QVBACKUP_TESTS_ENGINE_ENGINE_BACKUP_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "platform/disk_space.h"
#include "platform/system_info.h"
#include "qvbackup/qvbackupengine.h"
#include "storage/storage_test_util.h"

namespace qvtest {

// While alive, every destination answers as this volume does, and the
// folders it was asked about are recorded.
class FakeVolume {
 public:
  explicit FakeVolume(ULONGLONG freeBytes, UINT driveType = qv::platform::kDriveTypeFixed) {
    State() = {driveType, freeBytes, 0, {}};
    previous_ = qv::platform::ReplaceVolumeQueriesForTesting({&DriveType, &DiskSpace});
  }
  ~FakeVolume() { qv::platform::ReplaceVolumeQueriesForTesting(previous_); }
  FakeVolume(const FakeVolume&) = delete;
  FakeVolume& operator=(const FakeVolume&) = delete;

  // The query fails with `error` from now on.
  void FailWith(DWORD error) { State().error = error; }
  const std::vector<WString>& Asked() const { return State().asked; }

 private:
  struct Figures {
    UINT driveType;
    ULONGLONG freeBytes;
    DWORD error;
    std::vector<WString> asked;
  };
  static Figures& State() {
    static Figures figures;
    return figures;
  }
  static UINT DriveType(const WCHAR*) { return State().driveType; }
  static bool DiskSpace(const WCHAR* path, qv::platform::DiskSpace* space) {
    State().asked.push_back(path);
    if (State().error != 0) {
      SetLastError(State().error);
      return false;
    }
    space->totalBytes = State().freeBytes + 4096;
    space->freeBytes = State().freeBytes;
    return true;
  }

  qv::platform::VolumeQueries previous_;
};

// Records message codes; sets the engine's cancel word at the given
// progress message (counted from 1).
struct BackupRecorder : CQVEngineCallback {
  std::vector<DWORD> codes;
  std::vector<DWORD> percentages;
  CQVBackupEngine* engine = nullptr;
  int cancelAtProgress = 0;
  void OnEngineMessage(DWORD code, ULONGLONG, ULONGLONG value2, ULONGLONG, ULONGLONG) override {
    codes.push_back(code);
    if (code != ENGINE_MSG_PROGRESS) return;
    percentages.push_back(*reinterpret_cast<const DWORD*>(static_cast<std::uintptr_t>(value2)));
    if (static_cast<int>(percentages.size()) == cancelAtProgress && engine != nullptr) engine->m_bCancel = TRUE;
  }
  int Count(DWORD code) const { return static_cast<int>(std::count(codes.begin(), codes.end(), code)); }
};

// Where the file `drivePath` comes back below the restore folder `root`.
inline std::filesystem::path RestoredFile(const std::filesystem::path& root, const WString& drivePath) {
  std::string path = U8(drivePath);
  std::string rest = path.substr(3);
  for (char& c : rest) c = c == '\\' ? '/' : c;
  return root / ("Kelvar_" + path.substr(0, 1)) / std::filesystem::path(std::u8string(rest.begin(), rest.end()));
}

// Native paths of the files (not folders) below `folder`, sorted.
inline std::vector<std::filesystem::path> FilesBelow(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  if (!std::filesystem::exists(folder)) return files;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
    if (item.is_regular_file()) files.push_back(item.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Checks that every listed source file came back below `root` byte for
// byte, and that nothing else did.
inline void ExpectRestored(const std::filesystem::path& root, const std::vector<std::filesystem::path>& sources) {
  std::vector<std::filesystem::path> expected;
  for (const auto& source : sources) {
    std::filesystem::path restored = RestoredFile(root, DrivePathOf(source));
    expected.push_back(restored);
    ASSERT_TRUE(std::filesystem::exists(restored)) << restored;
    EXPECT_EQ(ReadAll(restored), ReadAll(source)) << restored;
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesBelow(root), expected);
}

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_ENGINE_ENGINE_BACKUP_TEST_UTIL_H_
