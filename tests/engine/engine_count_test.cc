// Counting files and bytes per category over a real folder tree below a base
// folder on drive C: (walked: the drive is not read raw here): the six
// messages and the values behind their addresses, totals checked against
// the files written, the rules a file must pass, the age filter, and
// partitions that name no drive, with and without the pre-installation
// environment.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_file_list_test_util.h"
#include "engine/engine_log_capture.h"
#include "engine/engine_profile_test_util.h"
#include "platform/preinstall_env.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

// One message as the host sees it; for a category count the values behind
// the three addresses are read during the call, the only time they are
// valid.
struct Message {
  DWORD code;
  ULONGLONG first;
  DWORD category;
  LONGLONG files;
  LONGLONG bytes;
  bool operator==(const Message&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Message& m) {
  return out << "{code " << m.code << ", " << m.first << ", category " << m.category << ", " << m.files
             << " files, " << m.bytes << " bytes}";
}

struct CountRecorder : CQVEngineCallback {
  std::vector<Message> messages;
  void OnEngineMessage(DWORD code, ULONGLONG first, ULONGLONG category, ULONGLONG files, ULONGLONG bytes) override {
    Message seen{code, first, 0, -1, -1};
    if (code == ENGINE_MSG_CATEGORY_COUNT) {
      std::memcpy(&seen.category, reinterpret_cast<const void*>(category), sizeof(seen.category));
      std::memcpy(&seen.files, reinterpret_cast<const void*>(files), sizeof(seen.files));
      std::memcpy(&seen.bytes, reinterpret_cast<const void*>(bytes), sizeof(seen.bytes));
    }
    messages.push_back(seen);
  }
};

// The six messages of a count whose categories 1 to 6 total `totals`.
std::vector<Message> CountMessages(const std::vector<std::pair<LONGLONG, LONGLONG>>& totals) {
  std::vector<Message> messages;
  for (DWORD number = 1; number <= 6; ++number) {
    messages.push_back({ENGINE_MSG_CATEGORY_COUNT, 0, number, totals[number - 1].first, totals[number - 1].second});
  }
  return messages;
}

FILETIME FileTimeOf(std::chrono::system_clock::time_point time) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
  const ULONGLONG ticks = (static_cast<ULONGLONG>(seconds) + 11644473600ULL) * 10000000ULL;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

class CountTest : public ::testing::Test {
 protected:
  CountTest() : engine_(&recorder_), base_(tree_.DrivePath()) {}

  void Write(const std::vector<std::pair<std::string, std::size_t>>& files) {
    for (const auto& [relative, size] : files) tree_.WriteFile(relative, size);
  }
  CQVString Base(const std::string& relative = "") const {
    return CQVString((relative.empty() ? base_ : W(Below(base_, relative))).c_str());
  }
  // Counts the files of `extensions` below the tree, returning {files, bytes}.
  std::pair<LONGLONG, LONGLONG> Count(const std::vector<std::string>& extensions) {
    CQVStringArray array(0);
    for (const std::string& extension : extensions) array.Add(CQVString(W(extension).c_str()));
    LONGLONG files = 0, bytes = 0;
    engine_.ComputeSizeInformationsOfCategory(QVT("C:\\"), Base(), array, files, bytes, profile_);
    return {files, bytes};
  }
  static CQVStringArray Array(const std::vector<WString>& texts) {
    CQVStringArray array(0);
    for (const WString& text : texts) array.Add(CQVString(text.c_str()));
    return array;
  }

  TempDir tree_;    // the files counted
  TempDir config_;  // the group file, out of the counted tree
  CapturedLog log_;
  CountRecorder recorder_;
  CQVBackupEngine engine_;
  WString base_;
  QV_ARCHIVE_PROFILE_BACKUP profile_ = ProfileWith({});
};

TEST_F(CountTest, SixMessagesInCategoryOrderWhateverTheProfileAndTheGroupFile) {
  ASSERT_TRUE(log_.IsOpen());
  ASSERT_EQ(base_.substr(0, 3), W("C:\\"));
  Write({{"a.jpg", 5}, {"b.doc", 6}});
  engine_.m_strEnvironementPath = (config_.DrivePath() + W("\\")).c_str();  // no GpExt.xml there
  EXPECT_EQ(engine_.GetCount(Base(), profile_), 0u);
  const auto zeros = CountMessages(std::vector<std::pair<LONGLONG, LONGLONG>>(6, {0, 0}));
  EXPECT_EQ(recorder_.messages, zeros);
  std::vector<WString> lines = log_.Body();
  EXPECT_TRUE(EachOnceInOrder(lines, {"ENTER CQVBackupEngine::GetCount", "Processing images...", "Processing music...",
                                      "Processing video...", "Processing offices...", "Processing emails...",
                                      "Processing financial documents...", "CQVBackupEngine::GetCount : RETURNED 0"}));
  EXPECT_EQ(LinesHolding(lines, "Failed to load xml file"), 6);
  EXPECT_EQ(ValuesAfter(lines, "i64TotalNbFiles="), std::vector<std::string>(6, "0"));
  EXPECT_EQ(ValuesAfter(lines, "i64TotalSize="), std::vector<std::string>(6, "0"));

  // A group file whose groups list nothing, every category checked: the
  // same six empty counts, and nothing failed to load.
  recorder_.messages.clear();
  UseGroupFile(engine_, config_, GroupFileText({{"Pictures", {}}, {"Offices", {}}}));
  profile_ = ProfileWith({1, 2, 3, 4, 5, 6});
  engine_.GetCount(Base(), profile_);
  EXPECT_EQ(recorder_.messages, zeros);
  lines = log_.Body();
  EXPECT_EQ(LinesHolding(lines, "Failed to load xml file"), 6);
  EXPECT_EQ(LinesHolding(lines, "Adding extension"), 0);
}

TEST_F(CountTest, TotalsPerCategoryAreThoseOfTheFilesBelowTheBaseFolder) {
  const std::vector<std::pair<std::string, std::size_t>> files = {
      {"base/holiday.jpg", 1000}, {"base/Scans/page.PNG", 250}, {"base/music/song.mp3", 4000},
      {"base/music/take.wav", 123}, {"base/films/clip.avi", 7000}, {"base/letter.doc", 300},
      {"base/deep/er/sheet.xls", 77}, {"base/mail.eml", 42}, {"base/readme.txt", 10}, {"base/noextension", 5},
      {"base/empty.jpg", 0}, {"outside/far.jpg", 999}, {"outside.doc", 11}, {"baseline/near.mp3", 13}};
  const std::vector<Group> groups = {{"Pictures", {"jpg", "png"}}, {"Music", {"mp3", "wav"}}, {"Video", {"avi"}},
                                     {"Offices", {"doc", "xls"}}, {"Mail", {"eml"}}};  // no Financial group
  Write(files);
  UseGroupFile(engine_, config_, GroupFileText(groups));
  // The expected totals, from the files written: groups are listed in
  // category order.
  std::vector<std::pair<LONGLONG, LONGLONG>> totals(6, {0, 0});
  for (const auto& [relative, size] : files) {
    if (relative.rfind("base/", 0) != 0) continue;
    std::string extension = relative.substr(relative.find_last_of("./") + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::size_t g = 0; g < groups.size(); ++g) {
      for (const std::string& listed : groups[g].extensions) {
        if (listed == extension) totals[g] = {totals[g].first + 1, totals[g].second + static_cast<LONGLONG>(size)};
      }
    }
  }
  ASSERT_EQ(totals[0], (std::pair<LONGLONG, LONGLONG>{3, 1250}));

  engine_.SetpCallBack(nullptr);  // without a callback the count still runs
  engine_.GetCount(Base("base"), profile_);
  EXPECT_TRUE(recorder_.messages.empty());
  std::vector<std::string> counts, sizes;
  for (const auto& [count, size] : totals) {
    counts.push_back(std::to_string(count));
    sizes.push_back(std::to_string(size));
  }
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(ValuesAfter(lines, "i64TotalNbFiles="), counts);
  EXPECT_EQ(ValuesAfter(lines, "i64TotalSize="), sizes);
  EXPECT_EQ(ValuesAfter(lines, "ComputeSizeInformationsOfCategory -> i64NbFiles="), counts);
  EXPECT_EQ(ValuesAfter(lines, "ComputeSizeInformationsOfCategory -> i64Size="), sizes);
  EXPECT_TRUE(EachOnceInOrder(lines, {"Processing images...", "Adding extension jpg", "Adding extension png",
                                      "Processing music...", "Adding extension mp3", "Adding extension wav",
                                      "Processing video...", "Adding extension avi", "Processing offices...",
                                      "Adding extension doc", "Adding extension xls", "Processing emails...",
                                      "Adding extension eml", "Processing financial documents..."}));
  EXPECT_EQ(LinesEndingWith(lines, "Part:C:\\"), 6);

  // The same through the callback, with the base folder ending in '\'.
  engine_.SetpCallBack(&recorder_);
  engine_.GetCount(Base("base") + QVT("\\"), profile_);
  EXPECT_EQ(recorder_.messages, CountMessages(totals));
}

TEST_F(CountTest, ExclusionsDesktopFilesUserHivesAndSystemNamesAreNotCounted) {
  // Sizes are powers of two: the byte count tells which files were counted.
  Write({{"Temp/a.gif", 1}, {"Temporary/b.gif", 2}, {"photo.jpg", 4}, {"desktop.ini", 8}, {"Sub/Desktop.ini", 16},
         {"desktop.ini.old/inside.gif", 32}, {"ntuser.dat.log1", 64}, {"NTUSER.DAT", 128},
         {"FxsApiDebugLogFile.txt", 256}, {"notes.txt", 512}, {"secret.txt", 1024}, {"Private/p.txt", 2048},
         {"Album.gif/in.gif", 4096}});  // a folder is not a file of the category
  const std::vector<std::string> extensions = {"gif", "jpg", "ini", "log1", "dat", "txt"};
  EXPECT_EQ(Count(extensions), (std::pair<LONGLONG, LONGLONG>{8, 1 + 2 + 4 + 32 + 512 + 1024 + 2048 + 4096}));
  EXPECT_EQ(LinesEndingWith(log_.Body(), "COUNTS desktop file skip"), 2);

  // Folders by whole components and in any case; extensions and file names
  // in any case; a path in the file list with what lies below it.
  CQVStringArray folders = Array({base_ + W("\\TEMP")});
  CQVStringArray names = Array({W("Secret.TXT"), base_ + W("\\PRIVATE")});
  CQVStringArray types = Array({W("JPG")});
  engine_.SetFoldersExcludedList(folders);
  engine_.SetFilesExcludedList(names);
  engine_.SetExtensionsExcludedList(types);
  EXPECT_EQ(Count(extensions), (std::pair<LONGLONG, LONGLONG>{4, 2 + 32 + 512 + 4096}));
  EXPECT_EQ(LinesEndingWith(log_.Body(), "COUNTS desktop file skip"), 4);
}

TEST_F(CountTest, AgeFilterDropsFilesCreatedAndWrittenBeforeTheReference) {
  Write({{"old.txt", 1}, {"written_later.txt", 2}, {"old.jpg", 4}});
  const auto now = fs::file_time_type::clock::now();
  fs::last_write_time(tree_.path() / "old.txt", now - std::chrono::hours(240));
  fs::last_write_time(tree_.path() / "written_later.txt", now + std::chrono::hours(240));
  profile_.ftReferenceTime = FileTimeOf(std::chrono::system_clock::now() + std::chrono::hours(24));
  EXPECT_EQ(Count({"txt"}), (std::pair<LONGLONG, LONGLONG>{2, 3}));  // the filter is off
  profile_.bReferenceTimeFilter = TRUE;
  EXPECT_EQ(Count({"txt"}), (std::pair<LONGLONG, LONGLONG>{1, 2}));
  EXPECT_EQ(LinesEndingWith(log_.Body(), "ENTER CQVBackupEngine::SubstractFileBeforeReferenceTime"), 1);
}

TEST_F(CountTest, PartitionsNamingNoDriveAddNothingAndTheBaseFolderIsNotUsed) {
  Write({{"a.jpg", 5}});
  UseGroupFile(engine_, config_, GroupFileText({{"Pictures", {"jpg"}}}));
  engine_.GetCount(Base(), profile_);
  ASSERT_EQ(recorder_.messages[0], (Message{ENGINE_MSG_CATEGORY_COUNT, 0, 1, 1, 5}));

  // Drive letters to scan: the base folder is not used, and letters that
  // name no drive count nothing, with both failure lines each time.
  recorder_.messages.clear();
  engine_.m_strMultiplePartScan = QVT("JK");
  engine_.GetCount(Base(), profile_);
  const auto zeros = CountMessages(std::vector<std::pair<LONGLONG, LONGLONG>>(6, {0, 0}));
  EXPECT_EQ(recorder_.messages, zeros);
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "Part:J:\\"), 6);
  EXPECT_EQ(LinesEndingWith(lines, "Part:K:\\"), 6);
  EXPECT_EQ(LinesHolding(lines, "ERROR : ::LoadNTFSVolume ("), 6 * 3);  // C:\ was not read raw either
  EXPECT_EQ(LinesEndingWith(lines, "LoadNTFS impossible"), 6 * 3);

  // In the pre-installation environment the profile's partitions are
  // counted instead, each traced; the group file comes from the Windows
  // drive; neither the base folder nor the letters above are used.
  PreinstallationEnvironment pe(true);
  std::ofstream(config_.MakeDir("WINDOWS/system32") / "GpExt.xml", std::ios::binary)
      << GroupFileText({{"Pictures", {"png"}}});
  profile_.strWindowsDrive = (config_.DrivePath() + W("\\")).c_str();
  profile_.strPartitionsToScan = QVT("JK");
  recorder_.messages.clear();
  engine_.GetCount(Base(), profile_);
  EXPECT_EQ(recorder_.messages, zeros);
  lines = log_.Body();
  std::vector<std::string> details = ValuesAfter(lines, "!!!! Type");
  std::vector<std::string> expected;
  for (int type = 1; type <= 6; ++type) {
    expected.insert(expected.end(), 2, std::to_string(type) + " i64NbFiles 0 i64Size 0 ");
  }
  EXPECT_EQ(details, expected);
  EXPECT_EQ(LinesEndingWith(lines, "Adding extension png"), 1);

  profile_.strPartitionsToScan = QVT("");
  recorder_.messages.clear();
  engine_.GetCount(Base(), profile_);
  EXPECT_EQ(recorder_.messages, zeros);
  EXPECT_EQ(LinesHolding(log_.Body(), "Part:"), LinesHolding(lines, "Part:"));
}

}  // namespace
}  // namespace qvtest
