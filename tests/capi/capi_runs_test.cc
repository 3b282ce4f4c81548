// The C interface's runs on real files: a backup, its listing, the restore
// of one file and a verify; what each reports through the session.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "capi/capi_test_util.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

class CapiRuns : public CapiFixture {
 protected:
  void SetUp() override {
    CapiFixture::SetUp();
    temp_.WriteFile("src/a.txt", 1000);
    temp_.WriteFile("src/docs/letter.txt", 70000);
    temp_.WriteFile("src/docs/notes.md", 12);
  }

  std::vector<std::string> ListedPaths(const qvb_read_options* options = nullptr) {
    session_.Clear();
    EXPECT_EQ(qvb_list(session_.get(), Archive().c_str(), options), QVB_OK) << session_.Message();
    std::vector<std::string> paths;
    for (const RecordedEvent& item : session_.Of(QVB_EVENT_ITEM)) paths.push_back(item.path);
    return paths;
  }
};

TEST_F(CapiRuns, BackupListRestoreOneFileAndVerify) {
  ASSERT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  EXPECT_EQ(session_.Message(), "");
  EXPECT_EQ(session_.Number("files"), 3u);
  EXPECT_EQ(session_.Number("bytes"), 71012u);
  EXPECT_EQ(session_.Number("increment"), 0u);
  EXPECT_GT(session_.Number("archive_bytes"), 0u);
  EXPECT_EQ(FromUtf8(session_.Text("archive")), archives_ / "photos.QVA");
  EXPECT_TRUE(session_.Of(QVB_EVENT_NOT_SAVED).empty());
  EXPECT_EQ(session_.lastPercent, 100);

  session_.Clear();
  ASSERT_EQ(qvb_list(session_.get(), Archive().c_str(), nullptr), QVB_OK) << session_.Message();
  const std::vector<RecordedEvent> items = session_.Of(QVB_EVENT_ITEM);
  ASSERT_EQ(items.size(), 3u);
  const auto letter = std::find_if(items.begin(), items.end(), [](const RecordedEvent& item) {
    return item.path.size() > 10 && item.path.compare(item.path.size() - 10, 10, "letter.txt") == 0;
  });
  ASSERT_NE(letter, items.end());
  EXPECT_EQ(letter->size, 70000u);
  EXPECT_EQ(letter->member, 0u);
  EXPECT_NE(letter->attributes & 0x20, 0u);  // archive bit, as saved
  const auto written = fs::last_write_time(source_ / "docs/letter.txt");
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::file_clock::to_sys(written).time_since_epoch()).count();
  EXPECT_EQ(letter->mtime, seconds);

  const fs::path target = temp_.path() / "restored";
  qvb_read_options read;
  qvb_read_options_init(&read);
  const char* patterns[] = {"letter.txt"};
  read.patterns = patterns;
  read.pattern_count = 1;
  const std::string targetText = Utf8Path(target);
  session_.Clear();
  ASSERT_EQ(qvb_restore(session_.get(), Archive().c_str(), targetText.c_str(), &read), QVB_OK) << session_.Message();
  EXPECT_EQ(session_.Number("files"), 1u);
  EXPECT_EQ(session_.Number("bytes"), 70000u);
  EXPECT_EQ(Contents(RestoredPath(target, source_ / "docs/letter.txt")), Contents(source_ / "docs/letter.txt"));
  EXPECT_FALSE(fs::exists(RestoredPath(target, source_ / "a.txt")));

  session_.Clear();
  EXPECT_EQ(qvb_verify(session_.get(), Archive().c_str()), QVB_OK) << session_.Message();
  EXPECT_EQ(session_.Number("files"), 3u);
  EXPECT_EQ(session_.Number("ok"), 1u);
  EXPECT_TRUE(session_.Of(QVB_EVENT_DAMAGED).empty());
}

TEST_F(CapiRuns, EncryptedArchiveNeedsItsPassword) {
  ASSERT_EQ(qvb_session_set_password(session_.get(), "correct horse"), QVB_OK);
  ASSERT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  RecordingSession other;
  EXPECT_EQ(qvb_list(other.get(), Archive().c_str(), nullptr), QVB_ERROR_INVALID_PASSWORD);
  EXPECT_NE(other.Message(), "");
  qvb_session_set_password(other.get(), "wrong horse");
  EXPECT_EQ(qvb_list(other.get(), Archive().c_str(), nullptr), QVB_ERROR_WRONG_PASSWORD);
  EXPECT_TRUE(other.Of(QVB_EVENT_ITEM).empty());
  qvb_session_set_password(other.get(), "correct horse");
  other.Clear();
  EXPECT_EQ(qvb_list(other.get(), Archive().c_str(), nullptr), QVB_OK) << other.Message();
  EXPECT_EQ(other.Of(QVB_EVENT_ITEM).size(), 3u);
  // The bytes on disk do not hold the content in the clear.
  const std::string bytes = Contents(archives_ / "photos.QVA");
  EXPECT_EQ(bytes.find(Contents(source_ / "docs/notes.md")), std::string::npos);
}

TEST_F(CapiRuns, VolumesIncrementsMembersAndAsOf) {
  options_.volume_size = 65536;
  options_.compress = 0;
  options_.threads = 2;
  ASSERT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  EXPECT_GE(session_.Number("volumes"), 2u);
  EXPECT_TRUE(fs::exists(archives_ / "photos.1.QVA"));
  EXPECT_TRUE(fs::exists(archives_ / "photos.2.QVA"));

  fs::remove(source_ / "a.txt");
  temp_.WriteFile("src/new.txt", 5);
  options_.incremental = 1;
  session_.Clear();
  ASSERT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  EXPECT_EQ(session_.Number("increment"), 1u);
  EXPECT_EQ(session_.Number("files"), 1u);
  EXPECT_EQ(session_.Number("gone"), 1u);

  session_.Clear();
  ASSERT_EQ(qvb_members(session_.get(), Archive("photos.1.QVA").c_str()), QVB_OK) << session_.Message();
  const std::vector<RecordedEvent> members = session_.Of(QVB_EVENT_MEMBER);
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0].member, 0u);
  EXPECT_EQ(members[1].member, 1u);
  EXPECT_EQ(members[0].text, "complete");
  EXPECT_EQ(members[0].count, 3u);
  EXPECT_GT(members[1].mtime, 0);

  session_.Clear();
  std::vector<std::string> now;
  ASSERT_EQ(qvb_list(session_.get(), Archive("photos.1.QVA").c_str(), nullptr), QVB_OK) << session_.Message();
  for (const RecordedEvent& item : session_.Of(QVB_EVENT_ITEM)) now.push_back(fs::path(item.path).filename().string());
  qvb_read_options read;
  qvb_read_options_init(&read);
  read.as_of = 0;
  session_.Clear();
  ASSERT_EQ(qvb_list(session_.get(), Archive("photos.1.QVA").c_str(), &read), QVB_OK) << session_.Message();
  const std::vector<RecordedEvent> then = session_.Of(QVB_EVENT_ITEM);
  EXPECT_EQ(then.size(), 3u);
  EXPECT_EQ(now.size(), 3u);
  const bool anyA = std::any_of(then.begin(), then.end(), [](const RecordedEvent& item) {
    return item.path.size() >= 5 && item.path.compare(item.path.size() - 5, 5, "a.txt") == 0;
  });
  EXPECT_TRUE(anyA) << "the base still holds a.txt as of member 0";
}

TEST_F(CapiRuns, FileListTellsWhatABackupWouldSaveAndWritesNothing) {
  ASSERT_EQ(qvb_selection_exclude(selection_, QVB_EXCLUDE_EXTENSION, "md"), QVB_OK);
  ASSERT_EQ(qvb_file_list(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  EXPECT_EQ(session_.Number("count"), 2u);
  EXPECT_EQ(session_.Number("bytes"), 71000u);
  EXPECT_EQ(session_.Of(QVB_EVENT_ITEM).size(), 2u);
  EXPECT_TRUE(fs::is_empty(archives_));
}

TEST_F(CapiRuns, ExclusionsAndMasksReachTheBackup) {
  ASSERT_EQ(qvb_selection_exclude(selection_, QVB_EXCLUDE_FOLDERS, "docs"), QVB_OK);
  ASSERT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  EXPECT_EQ(ListedPaths().size(), 1u);
  qvb_selection* masked = qvb_selection_new();
  qvb_selection_add_source(masked, Utf8Path(source_).c_str());
  qvb_selection_add_mask(masked, "*.md");
  options_.name = "notes";
  ASSERT_EQ(qvb_backup(session_.get(), masked, &options_), QVB_OK) << session_.Message();
  EXPECT_EQ(session_.Number("files"), 1u);
  qvb_selection_free(masked);
}

TEST_F(CapiRuns, ARestoreThatCannotWriteAnItemIsIncompleteAndNamesIt) {
  ASSERT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  const fs::path target = temp_.path() / "restored";
  // A folder where a file goes is never removed: that file fails (one the
  // restore meets after it has written others: a first item that cannot be
  // written says the target is closed to the run).
  fs::create_directories(RestoredPath(target, source_ / "docs/notes.md") / "in the way");
  qvb_read_options read;
  qvb_read_options_init(&read);
  read.overwrite = QVB_OVERWRITE_ALWAYS;
  const std::string targetText = Utf8Path(target);
  session_.Clear();
  EXPECT_EQ(qvb_restore(session_.get(), Archive().c_str(), targetText.c_str(), &read), QVB_ERROR_INCOMPLETE);
  const std::vector<RecordedEvent> failed = session_.Of(QVB_EVENT_NOT_RESTORED);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_NE(failed[0].path.find("notes.md"), std::string::npos);
  EXPECT_NE(failed[0].text, "");
  EXPECT_NE(session_.Message(), "");
  // The others were restored all the same.
  EXPECT_EQ(Contents(RestoredPath(target, source_ / "docs/letter.txt")), Contents(source_ / "docs/letter.txt"));
}

TEST_F(CapiRuns, VerifyOfADamagedArchiveTellsEachFinding) {
  options_.compress = 0;
  ASSERT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  const fs::path archive = archives_ / "photos.QVA";
  std::fstream file(archive, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(fs::file_size(archive) / 2));
  file.write("DAMAGEDDAMAGED", 14);
  file.close();
  session_.Clear();
  EXPECT_EQ(qvb_verify(session_.get(), Archive().c_str()), QVB_ERROR_DAMAGED);
  EXPECT_FALSE(session_.Of(QVB_EVENT_DAMAGED).empty());
  EXPECT_EQ(session_.Number("ok"), 0u);
}

TEST_F(CapiRuns, CountsPerCategoryAndTheListFile) {
  temp_.WriteFile("src/photo.jpg", 300);
  qvb_selection* profile = qvb_selection_new();
  ASSERT_EQ(qvb_selection_set_base(profile, Utf8Path(source_).c_str()), QVB_OK);
  ASSERT_EQ(qvb_count(session_.get(), profile), QVB_OK) << session_.Message();
  const std::vector<RecordedEvent> categories = session_.Of(QVB_EVENT_CATEGORY);
  ASSERT_EQ(categories.size(), 6u);
  EXPECT_EQ(categories[0].text, "Pictures");
  EXPECT_EQ(categories[0].count, 1u);
  EXPECT_EQ(categories[0].size, 300u);
  EXPECT_EQ(session_.Number("total.files"), 4u);
  // A list file names drives, not a folder.
  EXPECT_EQ(qvb_write_list_file(session_.get(), profile, Utf8Path(temp_.path() / "p.lst").c_str(), 1, nullptr),
            QVB_ERROR_INVALID_PARAMETER);
  EXPECT_NE(session_.Message().find("partitions"), std::string::npos) << session_.Message();
  qvb_selection_free(profile);
}

#if !defined(_WIN32)
TEST_F(CapiRuns, NamesThatAreNotTextComeBackAsTheirBytes) {
  // A name byte that is not UTF-8, and a control character (the marker the
  // answer is read with) in another name.
  const std::string odd = "bad\xff" "name.txt";
  const std::string control = "ctrl\x01" "ff.txt";
  { std::ofstream(source_ / odd, std::ios::binary) << "odd"; }
  { std::ofstream(source_ / control, std::ios::binary) << "control"; }
  ASSERT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  EXPECT_EQ(session_.Number("files"), 5u);
  std::vector<std::string> names;
  for (const std::string& path : ListedPaths()) names.push_back(path.substr(path.rfind('\\') + 1));
  ASSERT_EQ(names.size(), 5u) << session_.Answer();
  EXPECT_NE(std::find(names.begin(), names.end(), odd), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), control), names.end());
  // Restored by that name, to that name.
  const fs::path target = temp_.path() / "back";
  qvb_read_options read;
  qvb_read_options_init(&read);
  const char* patterns[] = {odd.c_str(), control.c_str()};
  read.patterns = patterns;
  read.pattern_count = 2;
  ASSERT_EQ(qvb_restore(session_.get(), Archive().c_str(), Utf8Path(target).c_str(), &read), QVB_OK)
      << session_.Message();
  EXPECT_EQ(session_.Number("files"), 2u);
  EXPECT_EQ(Contents(RestoredPath(target, source_) / odd), "odd");
  EXPECT_EQ(Contents(RestoredPath(target, source_) / control), "control");
}

TEST_F(CapiRuns, AListFileOfAMappedDrive) {
  temp_.WriteFile("src/photo.jpg", 300);
  temp_.WriteFile("src/song.mp3", 400);
  // The drive P is the source folder alone: the profile scans only it.
  ASSERT_EQ(qvb_map_drive('P', Utf8Path(source_).c_str(), nullptr), QVB_OK);
  qvb_selection* profile = qvb_selection_new();
  ASSERT_EQ(qvb_selection_set_partitions(profile, "P"), QVB_OK);
  ASSERT_EQ(qvb_selection_set_categories(profile, "pictures"), QVB_OK);
  const fs::path list = temp_.path() / "profile.lst";
  EXPECT_EQ(qvb_write_list_file(session_.get(), profile, Utf8Path(list).c_str(), 0, nullptr), QVB_OK)
      << session_.Message();
  EXPECT_EQ(session_.Number("include"), 1u) << session_.Answer();
  EXPECT_TRUE(fs::exists(list));
  // The others: every file that is not a picture.
  ASSERT_EQ(qvb_selection_set_categories(profile, nullptr), QVB_OK);
  EXPECT_EQ(qvb_write_list_file(session_.get(), profile, Utf8Path(list).c_str(), 1, nullptr), QVB_OK)
      << session_.Message();
  EXPECT_EQ(session_.Number("include"), 5u) << session_.Answer();
  // Both, or neither, is a wrong request.
  ASSERT_EQ(qvb_selection_set_categories(profile, "music"), QVB_OK);
  EXPECT_EQ(qvb_write_list_file(session_.get(), profile, Utf8Path(list).c_str(), 1, nullptr),
            QVB_ERROR_INVALID_PARAMETER);
  qvb_selection_free(profile);
  ASSERT_EQ(qvb_map_drive('P', nullptr, nullptr), QVB_OK);
}
#endif

TEST_F(CapiRuns, Utf16CallsTakeTheSamePaths) {
  ASSERT_EQ(qvb_backup(session_.get(), selection_, &options_), QVB_OK) << session_.Message();
  const std::string archive = Archive();
  size_t needed = 0;
  ASSERT_EQ(qvb_utf8_to_utf16(archive.c_str(), nullptr, 0, &needed), QVB_ERROR_INSUFFICIENT_BUFFER);
  std::vector<qvb_char16> wide(needed + 1);
  ASSERT_EQ(qvb_utf8_to_utf16(archive.c_str(), wide.data(), wide.size(), &needed), QVB_OK);
  session_.Clear();
  EXPECT_EQ(qvb_list_w(session_.get(), wide.data(), nullptr), QVB_OK) << session_.Message();
  EXPECT_EQ(session_.Of(QVB_EVENT_ITEM).size(), 3u);
  EXPECT_EQ(qvb_verify_w(session_.get(), wide.data()), QVB_OK);
  std::vector<char> back(archive.size() + 1);
  EXPECT_EQ(qvb_utf16_to_utf8(wide.data(), back.data(), back.size(), &needed), QVB_OK);
  EXPECT_EQ(std::string(back.data()), archive);
  // A name beyond the Basic Multilingual Plane comes through whole.
  const char name[] = "\xF0\x9F\x93\xB7 photo";
  ASSERT_EQ(qvb_utf8_to_utf16(name, wide.data(), wide.size(), &needed), QVB_OK);
  EXPECT_EQ(needed, 8u);
  EXPECT_EQ(wide[0], 0xD83D);
  ASSERT_EQ(qvb_utf16_to_utf8(wide.data(), back.data(), back.size(), &needed), QVB_OK);
  EXPECT_STREQ(back.data(), name);
}

}  // namespace
}  // namespace qvtest
