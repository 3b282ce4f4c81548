// What the C interface's tests share: a session that records what its
// callback is told, and paths as the C calls take them.
#ifndef QVBACKUP_TESTS_CAPI_CAPI_TEST_UTIL_H_
#define QVBACKUP_TESTS_CAPI_CAPI_TEST_UTIL_H_

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/test_util.h"
#include "qvbackup/qvbackup.h"

namespace qvtest {

struct RecordedEvent {
  int kind = 0;
  int percent = 0;
  std::string path;
  std::string text;
  qvb_u64 size = 0;
  qvb_i64 mtime = -1;
  unsigned long attributes = 0;
  unsigned long member = 0;
  qvb_u64 count = 0;
};

// A session whose callback keeps every event (progress apart: only how many
// came and the last percent), and may act on each through `onEvent`.
class RecordingSession {
 public:
  RecordingSession();
  ~RecordingSession();
  RecordingSession(const RecordingSession&) = delete;
  RecordingSession& operator=(const RecordingSession&) = delete;

  qvb_session* get() { return session_; }
  // The events of `kind` since the last Clear.
  std::vector<RecordedEvent> Of(int kind) const;
  void Clear();
  std::string Message() const;
  std::string Answer() const;
  qvb_u64 Number(const char* name) const;  // 0 when missing (the check fails)
  std::string Text(const char* name) const;

  int progressEvents = 0;
  int lastPercent = -1;
  std::function<void(const qvb_event&)> onEvent;

 private:
  static void Callback(void* user, const qvb_event* event);
  qvb_session* session_;
  std::vector<RecordedEvent> events_;
};

// A native path as the C calls take it (UTF-8).
std::string Utf8Path(const std::filesystem::path& path);

std::filesystem::path FromUtf8(const std::string& text);

// Where a restore below `target` puts the item saved from `source`:
// TARGET/Kelvar_<drive letter>/<its path after the drive>.
std::filesystem::path RestoredPath(const std::filesystem::path& target, const std::filesystem::path& source);

// The bytes of a file ("" when it cannot be read).
std::string Contents(const std::filesystem::path& path);

// A source folder src/ and an archive folder archives/ in a fresh folder,
// a selection of src/, and backup options of the defaults that write
// archives/photos.QVA. Tests write the files they need below src/.
class CapiFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Archive(const char* file = "photos.QVA") const { return Utf8Path(archives_ / file); }

  TempDir temp_;
  std::filesystem::path source_;
  std::filesystem::path archives_;
  std::string to_;
  qvb_selection* selection_ = nullptr;
  qvb_backup_options options_;
  RecordingSession session_;
};

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_CAPI_CAPI_TEST_UTIL_H_
