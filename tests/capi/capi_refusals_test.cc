// What the C interface refuses before anything runs, and what it answers
// when a run cannot do its work: each with its error number and a message
// that names the cause; and cancelling, from the callback and from another
// thread.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "capi/capi_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

class CapiRefusals : public CapiFixture {
 protected:
  void SetUp() override {
    CapiFixture::SetUp();
    for (int i = 0; i < 40; ++i) temp_.WriteFile("src/f" + std::to_string(i) + ".bin", 200000);
  }

  // A backup with one field of the defaults changed by `change`: refused
  // with 87 and a message that names `field`, nothing written.
  void ExpectFieldRefused(const char* field, void (*change)(qvb_backup_options*)) {
    qvb_backup_options options = options_;
    change(&options);
    session_.Clear();
    EXPECT_EQ(qvb_backup(session_.get(), selection_, &options), QVB_ERROR_INVALID_PARAMETER) << field;
    EXPECT_EQ(session_.Message().rfind(field, 0), 0u) << session_.Message();
    ASSERT_EQ(session_.Of(QVB_EVENT_MESSAGE).size(), 1u) << field;
    EXPECT_EQ(session_.Of(QVB_EVENT_MESSAGE)[0].text, session_.Message());
    EXPECT_TRUE(fs::is_empty(archives_)) << field;
  }

};

TEST_F(CapiRefusals, EachWrongFieldOfADescriptionIsNamed) {
  ExpectFieldRefused("options.struct_size", [](qvb_backup_options* o) { o->struct_size = 0; });
  ExpectFieldRefused("options.to", [](qvb_backup_options* o) { o->to = nullptr; });
  ExpectFieldRefused("options.name", [](qvb_backup_options* o) { o->name = ""; });
  ExpectFieldRefused("options.volume_size", [](qvb_backup_options* o) { o->volume_size = 1000; });
  ExpectFieldRefused("options.block_size", [](qvb_backup_options* o) { o->block_size = 999; });
  ExpectFieldRefused("options.key_bits", [](qvb_backup_options* o) { o->key_bits = 100; });
  ExpectFieldRefused("options.key_bits", [](qvb_backup_options* o) { o->key_bits = 64; });
  // A key size without a password: the session has none.
  ExpectFieldRefused("options.key_bits", [](qvb_backup_options* o) { o->key_bits = 128; });
  ExpectFieldRefused("options.threads", [](qvb_backup_options* o) { o->threads = 65; });
  ExpectFieldRefused("options.compress", [](qvb_backup_options* o) { o->compress = 7; });
  ExpectFieldRefused("options.incremental", [](qvb_backup_options* o) { o->incremental = o->replace = 1; });
  ExpectFieldRefused("options.sfx_stub", [](qvb_backup_options* o) { o->sfx_stub = "stub.exe"; });
  // The name as the archive's own rules have it: no folders in it.
  ExpectFieldRefused("backup: --name", [](qvb_backup_options* o) { o->name = "a/b"; });

  qvb_selection* empty = qvb_selection_new();
  EXPECT_EQ(qvb_backup(session_.get(), empty, &options_), QVB_ERROR_INVALID_PARAMETER);
  EXPECT_EQ(session_.Message(), "selection: no source was added");
  qvb_selection_free(empty);
  EXPECT_EQ(qvb_selection_add_source(selection_, ""), QVB_ERROR_INVALID_PARAMETER);
  EXPECT_EQ(qvb_selection_exclude(selection_, 9, "x"), QVB_ERROR_INVALID_PARAMETER);
  EXPECT_EQ(qvb_backup(nullptr, selection_, &options_), QVB_ERROR_INVALID_PARAMETER);
}

TEST_F(CapiRefusals, DefaultsMakeAWorkingBackup) {
  qvb_backup_options zeroed{};
  EXPECT_EQ(qvb_backup(session_.get(), selection_, &zeroed), QVB_ERROR_INVALID_PARAMETER);
  EXPECT_NE(session_.Message().find("qvb_options_init"), std::string::npos);
  qvb_backup_options options;
  qvb_options_init(&options);
  EXPECT_EQ(options.struct_size, sizeof(qvb_backup_options));
  EXPECT_EQ(options.compress, 1);
  options.to = to_.c_str();
  options.name = "defaults";
  EXPECT_EQ(qvb_backup(session_.get(), selection_, &options), QVB_OK) << session_.Message();
  EXPECT_EQ(session_.Number("files"), 40u);
}

TEST_F(CapiRefusals, RunsThatCannotWorkSayWhy) {
  ASSERT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  // The same name again, neither incremental nor a replacement.
  EXPECT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_ERROR_ALREADY_EXISTS);
  EXPECT_NE(session_.Message().find("photos.QVA"), std::string::npos) << session_.Message();

  const std::string missing = Utf8Path(archives_ / "nothing.QVA");
  EXPECT_EQ(qvb_list(session_.get(), missing.c_str(), nullptr), 2);  // the file is not there
  EXPECT_NE(session_.Message().find("nothing.QVA"), std::string::npos) << session_.Message();
  const std::string notArchive = Utf8Path(source_ / "f1.bin");
  EXPECT_NE(qvb_verify(session_.get(), notArchive.c_str()), QVB_OK);
  EXPECT_NE(session_.Message(), "");

  const std::string archive = Utf8Path(archives_ / "photos.QVA");
  const std::string target = Utf8Path(temp_.path() / "out");
  qvb_read_options read;
  qvb_read_options_init(&read);
  EXPECT_EQ(qvb_restore(session_.get(), archive.c_str(), nullptr, &read), QVB_ERROR_INVALID_PARAMETER);
  EXPECT_EQ(session_.Message().rfind("target:", 0), 0u);
  read.original = 1;
  EXPECT_EQ(qvb_restore(session_.get(), archive.c_str(), target.c_str(), &read), QVB_ERROR_INVALID_PARAMETER);
  read.original = 0;
  read.as_of = 0;
  read.increment = 0;
  EXPECT_EQ(qvb_restore(session_.get(), archive.c_str(), target.c_str(), &read), QVB_ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(fs::exists(temp_.path() / "out"));
  qvb_read_options_init(&read);
  read.pattern_count = 2;
  EXPECT_EQ(qvb_list(session_.get(), archive.c_str(), &read), QVB_ERROR_INVALID_PARAMETER);
  EXPECT_EQ(session_.Message().rfind("options.patterns", 0), 0u);
  // A pattern that selects nothing is no silent success.
  const char* patterns[] = {"no-such-file.txt"};
  read.patterns = patterns;
  read.pattern_count = 1;
  EXPECT_NE(qvb_restore(session_.get(), archive.c_str(), target.c_str(), &read), QVB_OK);
  EXPECT_NE(session_.Message().find("no-such-file.txt"), std::string::npos) << session_.Message();

  // The answer of the last run is read by name; what is not there says so.
  qvb_u64 value = 7;
  EXPECT_EQ(qvb_session_number(session_.get(), "no_such_number", &value), QVB_ERROR_NOT_FOUND);
  EXPECT_EQ(value, 0u);
  char text[4];
  EXPECT_EQ(qvb_session_text(session_.get(), "no_such_text", text, sizeof(text), nullptr), QVB_ERROR_NOT_FOUND);
}

TEST_F(CapiRefusals, ACancelFromTheCallbackLeavesThePreviousArchive) {
  ASSERT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  const std::string before = Contents(archives_ / "photos.QVA");
  // A cancel with no run under way is lost: the next run is not stopped.
  qvb_cancel(session_.get());
  options_.replace = 1;
  options_.compress = 0;
  bool cancelled = false;
  session_.onEvent = [&](const qvb_event& event) {
    if (event.kind == QVB_EVENT_PROGRESS && !cancelled) {
      cancelled = true;
      qvb_cancel(session_.get());
    }
  };
  EXPECT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_ERROR_CANCELLED) << session_.Message();
  EXPECT_TRUE(cancelled);
  EXPECT_NE(session_.Message(), "");
  EXPECT_EQ(Contents(archives_ / "photos.QVA"), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(archives_), fs::directory_iterator()), 1);
  // Each run starts uncancelled.
  session_.onEvent = nullptr;
  EXPECT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  EXPECT_EQ(session_.Number("files"), 40u);
}

TEST_F(CapiRefusals, ACancelFromAnotherThreadStopsTheRun) {
  options_.compress = 0;
  options_.block_size = 4096;
  std::mutex lock;
  std::condition_variable changed;
  bool started = false;
  bool cancelSent = false;
  // The run waits in its first progress event until the other thread has
  // cancelled it: no timing decides the outcome.
  session_.onEvent = [&](const qvb_event& event) {
    if (event.kind != QVB_EVENT_PROGRESS) return;
    std::unique_lock<std::mutex> hold(lock);
    started = true;
    changed.notify_all();
    changed.wait(hold, [&] { return cancelSent; });
  };
  bool ended = false;  // a run that fails before its first event must not leave the canceller waiting
  std::thread canceller([&] {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [&] { return started || ended; });
    qvb_cancel(session_.get());
    cancelSent = true;
    changed.notify_all();
  });
  EXPECT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_ERROR_CANCELLED) << session_.Message();
  {
    std::lock_guard<std::mutex> hold(lock);
    ended = true;
  }
  changed.notify_all();
  canceller.join();
  EXPECT_TRUE(fs::is_empty(archives_));
}

TEST_F(CapiRefusals, ACallbackCannotStartARun) {
  int nested = -1;
  int other = -1;
  RecordingSession second;
  session_.onEvent = [&](const qvb_event& event) {
    if (event.kind == QVB_EVENT_PROGRESS && nested == -1) {
      nested = qvb_list(session_.get(), "x.QVA", nullptr);
      // Another session's run would wait for this one for ever.
      other = qvb_list(second.get(), "x.QVA", nullptr);
    }
  };
  EXPECT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  EXPECT_EQ(nested, QVB_ERROR_BUSY_SESSION);
  EXPECT_EQ(other, QVB_ERROR_BUSY_SESSION);
  // Outside the callback the other session runs.
  EXPECT_EQ(qvb_list(second.get(), Archive().c_str(), nullptr), QVB_OK) << second.Message();
}

TEST(CapiErrorText, OwnOutcomesHaveTexts) {
  char text[256];
  qvb_error_text(QVB_ERROR_INCOMPLETE, text, sizeof(text));
  EXPECT_NE(std::string(text).find("left out"), std::string::npos);
  qvb_error_text(QVB_ERROR_DAMAGED, text, sizeof(text));
  EXPECT_NE(std::string(text).find("damaged"), std::string::npos);
  qvb_error_text(QVB_ERROR_CANCELLED, text, sizeof(text));
  EXPECT_STRNE(text, "Error 1223");
}

}  // namespace
}  // namespace qvtest
