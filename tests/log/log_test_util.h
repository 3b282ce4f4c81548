// Helpers for the log's tests: a system behind the log whose folders, clock
// and files the test decides, and readers of the UTF-16LE files it writes.
#ifndef QVBACKUP_TESTS_LOG_LOG_TEST_UTIL_H_
#define QVBACKUP_TESTS_LOG_LOG_TEST_UTIL_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "log/log_env.h"
#include "log/qv_log.h"

namespace qvtest {

// 3 February 2011 10:12:40 and 15 seconds later, in seconds since 1970 UTC;
// FakeSystem shows them as local times unchanged (UTC).
constexpr std::int64_t kExampleStart = 1296727960;
constexpr std::int64_t kExampleEnd = kExampleStart + 15;

// What the fake system answers; the test changes it at any time, also while
// a log it was given to is open.
struct FakeSystem {
  std::vector<WString> roots;             // searched in order for QV_LOG.INI
  std::map<WString, UINT> driveTypes;     // by root; 3 (fixed) when absent
  WString currentFolder;                  // empty: unknown
  std::int64_t now = kExampleStart;
  bool failWrites = false;                // the log file's writes fail with ERROR_DISK_FULL
  int createdFiles = 0;
};

// The log's view of a FakeSystem. Files are real files on disk.
class FakeLogEnv : public qv::log::LogEnv {
 public:
  explicit FakeLogEnv(FakeSystem* system) : system_(system) {}

  std::vector<CQVString> ConfigurationRoots() override;
  UINT DriveTypeOf(const WCHAR* root) override;
  bool CurrentFolder(CQVString* folder) override;
  std::int64_t Now() override { return system_->now; }
  bool ToLocalTime(std::int64_t seconds, SYSTEMTIME* local) override;
  std::unique_ptr<qv::platform::WritableFile> CreateLogFile(const WCHAR* path) override;

 private:
  FakeSystem* system_;
};

// A log over `system`, opened on `fileName` (empty: as configured).
std::unique_ptr<QV_LOG> MakeLog(FakeSystem* system, const WString& fileName = WString());

// The bytes of a file; empty when it cannot be read.
std::string ReadBytes(const std::filesystem::path& path);

// The file the log writes for these lines: byte order mark, then each line
// in UTF-16LE followed by CR LF.
std::string LogFileBytes(const std::vector<WString>& lines);

// The lines of a log file (byte order mark checked and dropped, each line
// without its CR LF). Fails the test and returns nothing when the file is
// not such a file.
std::vector<WString> ReadLogLines(const std::filesystem::path& path);

// Writes `bytes` to `path`, creating or replacing it.
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// UTF-16LE bytes of UTF-8 `text`, after the byte order mark FF FE.
std::string Utf16LeWithMark(const std::string& text);

// The system's text for an error as LogError appends it: " : <text>", or
// " (Error N)" when the system has none.
WString ExplanationOf(DWORD error);

// The banner a log opened at kExampleStart has in this test program (defined
// per platform: empty on POSIX, from the program's version resource on
// Windows).
WString ExpectedExampleBanner();

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_LOG_LOG_TEST_UTIL_H_
