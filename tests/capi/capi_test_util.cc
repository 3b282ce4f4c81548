#include "capi/capi_test_util.h"

#include <fstream>
#include <iterator>

namespace qvtest {

RecordingSession::RecordingSession() : session_(qvb_session_new()) {
  qvb_session_set_callback(session_, &RecordingSession::Callback, this);
}

RecordingSession::~RecordingSession() { qvb_session_free(session_); }

void RecordingSession::Callback(void* user, const qvb_event* event) {
  auto* self = static_cast<RecordingSession*>(user);
  if (event->kind == QVB_EVENT_PROGRESS) {
    ++self->progressEvents;
    self->lastPercent = event->percent;
  } else {
    RecordedEvent copy;
    copy.kind = event->kind;
    copy.percent = event->percent;
    copy.path = event->path;
    copy.text = event->text;
    copy.size = event->size;
    copy.mtime = event->mtime;
    copy.attributes = event->attributes;
    copy.member = event->member;
    copy.count = event->count;
    self->events_.push_back(copy);
  }
  if (self->onEvent) self->onEvent(*event);
}

std::vector<RecordedEvent> RecordingSession::Of(int kind) const {
  std::vector<RecordedEvent> found;
  for (const RecordedEvent& event : events_) {
    if (event.kind == kind) found.push_back(event);
  }
  return found;
}

void RecordingSession::Clear() {
  events_.clear();
  progressEvents = 0;
  lastPercent = -1;
}

std::string RecordingSession::Message() const {
  std::string text(qvb_session_message(session_, nullptr, 0) + 1, '\0');
  text.resize(qvb_session_message(session_, text.data(), text.size()));
  return text;
}

std::string RecordingSession::Answer() const {
  std::string text(qvb_session_answer(session_, nullptr, 0) + 1, '\0');
  text.resize(qvb_session_answer(session_, text.data(), text.size()));
  return text;
}

qvb_u64 RecordingSession::Number(const char* name) const {
  qvb_u64 value = 0;
  EXPECT_EQ(qvb_session_number(session_, name, &value), QVB_OK) << name << " in " << Answer();
  return value;
}

std::string RecordingSession::Text(const char* name) const {
  size_t needed = 0;
  char small[1];
  qvb_session_text(session_, name, small, sizeof(small), &needed);
  std::string text(needed + 1, '\0');
  EXPECT_EQ(qvb_session_text(session_, name, text.data(), text.size(), &needed), QVB_OK) << name;
  text.resize(needed);
  return text;
}

void CapiFixture::SetUp() {
  source_ = temp_.MakeDir("src");
  archives_ = temp_.MakeDir("archives");
  selection_ = qvb_selection_new();
  ASSERT_EQ(qvb_selection_add_source(selection_, Utf8Path(source_).c_str()), QVB_OK);
  qvb_options_init(&options_);
  to_ = Utf8Path(archives_);
  options_.to = to_.c_str();
  options_.name = "photos";
}

void CapiFixture::TearDown() { qvb_selection_free(selection_); }

std::string Utf8Path(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path FromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::filesystem::path RestoredPath(const std::filesystem::path& target, const std::filesystem::path& source) {
  char drivePath[4096];
  EXPECT_EQ(qvb_drive_path(Utf8Path(source).c_str(), drivePath, sizeof(drivePath), nullptr), QVB_OK);
  std::string rest(drivePath + 3);  // after "C:\"
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  const std::string folder = std::string("Kelvar_") + drivePath[0];
  return target / FromUtf8(folder) / FromUtf8(rest);
}

std::string Contents(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

}  // namespace qvtest
