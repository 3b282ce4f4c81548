// Helpers shared by the test programs: temporary folders on disk, and
// conversions between native paths and the library's drive-letter paths.
#ifndef QVBACKUP_TESTS_TEST_UTIL_H_
#define QVBACKUP_TESTS_TEST_UTIL_H_

#include <filesystem>
#include <string>

#include "qvbackup/wintypes.h"

namespace qvtest {

using WString = std::basic_string<WCHAR>;

// A fresh, empty folder below the system's temporary folder, removed with
// everything in it when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder's drive-letter path as the library spells it, no trailing
  // backslash.
  WString DrivePath() const;
  // Writes a file of `size` bytes (a repeating pattern) at `relative`,
  // creating its folders; returns its native path.
  std::filesystem::path WriteFile(const std::string& relative, std::size_t size);
  // Creates the folder `relative` (and its parents).
  std::filesystem::path MakeDir(const std::string& relative);

 private:
  std::filesystem::path path_;
};

// The drive-letter form of a native path (through QVGetDrivePath).
WString DrivePathOf(const std::filesystem::path& native);

// UTF-16 from and to UTF-8, for building expectations and printing.
WString W(const std::string& utf8);
std::string U8(const WString& text);
std::string U8(const WCHAR* text);

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_TEST_UTIL_H_
