// Drive letters mapped to test folders and images (POSIX test programs).
#ifndef QVBACKUP_TESTS_ENGINE_ENGINE_DRIVE_MAPPING_H_
#define QVBACKUP_TESTS_ENGINE_ENGINE_DRIVE_MAPPING_H_

#include <gtest/gtest.h>

#include <filesystem>

#include "common/test_util.h"
#include "qvbackup/host.h"

namespace qvtest {

// Maps a drive letter for the scope; C goes back to "/", the others to
// nothing.
class DriveMapping {
 public:
  DriveMapping(WCHAR letter, const std::filesystem::path& root,
               const std::filesystem::path& device = std::filesystem::path())
      : letter_(letter) {
    WString rootText = W(root.string()), deviceText = W(device.string());
    EXPECT_TRUE(QVSetDriveMapping(letter, rootText.c_str(), device.empty() ? nullptr : deviceText.c_str()));
  }
  ~DriveMapping() { QVSetDriveMapping(letter_, letter_ == u'C' ? QVT("/") : nullptr, nullptr); }
  DriveMapping(const DriveMapping&) = delete;
  DriveMapping& operator=(const DriveMapping&) = delete;

 private:
  WCHAR letter_;
};

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_ENGINE_ENGINE_DRIVE_MAPPING_H_
