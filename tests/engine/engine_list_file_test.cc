// The list file read back from disk: where it is written, what an empty
// partition list gives, the section builders driven through a writer of the
// test's own, and the trace of DebugShowAll. Nothing here needs a drive
// letter of its own, so it runs on every platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_file_list_test_util.h"
#include "engine/engine_list_file_reader.h"
#include "engine/engine_log_capture.h"
#include "engine/engine_profile_test_util.h"
#include "qvbackup/qvbackupengine.h"
#include "services/qvini.h"

namespace qvtest {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Sorted(const std::set<std::string>& paths) { return {paths.begin(), paths.end()}; }

// The live entries of an index, counted with a search of every entry.
int LiveEntries(CQVFileArray& index) {
  QV_FINDFILTER every{};
  every.dwFlags = QVFF_RECURSE;
  DWORD entry = 0;
  HANDLE search = index.FindFirstFileW(entry, &every);
  if (search == nullptr || search == INVALID_HANDLE_VALUE) return 0;
  int count = 1;
  while (index.FindNextFileW(search, entry)) ++count;
  index.FindClose(search);
  return count;
}

class ListFileTest : public ::testing::Test {
 protected:
  ListFileTest() : engine_(nullptr), folder_(home_.DrivePath() + QVT("\\")) {
    engine_.m_strEnvironementPath = folder_.c_str();
  }

  TempDir home_;  // the host program's folder as far as the engine knows
  CapturedLog log_;
  CQVBackupEngine engine_;
  WString folder_;
};

TEST_F(ListFileTest, WithoutPartitionsTheFileHoldsZeroCountsAndEmptySectionsAndReplacesTheOldOne) {
  const ListFileSections empty = {
      {"Parameters", {"Newerfiles=1", "Selected=0", "include=0"}}, {"Selected", {}}, {"Include", {}}};
  const fs::path file = home_.path() / "profile.lst";
  for (BOOL others : {FALSE, TRUE}) {
    SCOPED_TRACE(others ? "Others checked" : "Others not checked");
    if (others) std::ofstream(file, std::ios::binary) << "stale list";  // replaced, not appended to
    engine_.CreateFilters(QVT("left over"), CQVString(QVT("")), QVT("doc"), 0, QVT("*"));
    engine_.m_qvfaGroup.AddDirectory(folder_.c_str());
    QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({1, 2, 3, 4, 5, 6});
    profile.bOthers = others;

    EXPECT_EQ(engine_.BuildLSTFile(QVT("profile.lst"), profile), 0u);
    EXPECT_EQ(ReadListFile(file), empty);
    int filters = -1;
    engine_.GetNbFilters(filters);
    EXPECT_EQ(filters, 0);
    EXPECT_EQ(LiveEntries(engine_.m_qvfaGroup), 0);
    EXPECT_EQ(engine_.m_pLstIni, nullptr);
  }
  std::vector<WString> lines = log_.Body();
  // Only the first run found no old file to delete.
  EXPECT_EQ(LinesHolding(lines, "delete of LST File Failed"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "strLSTFilenamePath " + U8(folder_) + "profile.lst "), 4);
  EXPECT_EQ(LinesEndingWith(lines, "partition to scan  "), 2);
  EXPECT_EQ(LinesEndingWith(lines, "Others non selected"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "categorie others Checked !"), 0);
  EXPECT_EQ(LinesEndingWith(lines, "CQVBackupEngine::BuildLSTFile : RETURNED 0"), 2);
}

TEST_F(ListFileTest, AListInAMissingFolderIsNotWrittenAndTheRunStillReportsZero) {
  engine_.m_strEnvironementPath = (folder_ + QVT("missing\\")).c_str();
  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({});
  EXPECT_EQ(engine_.BuildLSTFile(QVT("profile.lst"), profile), 0u);
  EXPECT_FALSE(fs::exists(home_.path() / "missing"));
  EXPECT_EQ(LinesHolding(log_.Body(), "delete of LST File Failed"), 1);
  EXPECT_EQ(engine_.m_pLstIni, nullptr);
}

// Makes `folder` the current folder for the object's lifetime.
class CurrentFolder {
 public:
  explicit CurrentFolder(const fs::path& folder) : previous_(fs::current_path()) { fs::current_path(folder); }
  ~CurrentFolder() { fs::current_path(previous_); }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  fs::path previous_;
};

TEST_F(ListFileTest, AnEngineWithoutHostFolderWritesTheListIntoTheCurrentFolder) {
  engine_.m_strEnvironementPath = QVT("");
  CurrentFolder here(home_.path());
  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({});
  EXPECT_EQ(engine_.BuildLSTFile(QVT("here.lst"), profile), 0u);
  EXPECT_EQ(ReadListFile(home_.path() / "here.lst").size(), 3u);
}

// The builders write through m_pLstIni: a writer of the test's own stands
// in for the one BuildLSTFile makes.
TEST_F(ListFileTest, SectionBuildersListLiveFilesOnlyNumberedFromZeroWithoutGaps) {
  TempDir tree;
  const std::vector<std::string> files = {"a.doc", "sub/b.txt", "sub/deeper/c.jpg", "sub/gone.txt", "z.bin"};
  for (const std::string& file : files) tree.WriteFile(file, 3);
  tree.MakeDir("empty");
  tree.MakeDir("folder.jpg");
  CQVFileArray index;
  ASSERT_TRUE(index.AddDirectory(tree.DrivePath().c_str()));
  // A deleted entry is not listed, and leaves no gap in the numbers.
  const WString gone = tree.DrivePath() + QVT("\\sub\\gone.txt");
  ASSERT_TRUE(index.DeleteItem(index.Add(gone.c_str(), nullptr, QVFA_ADD_LOOKUP), QVFA_DEL_IFEMPTY));
  std::set<std::string> expected;
  for (std::string file : files) {
    std::replace(file.begin(), file.end(), '/', '\\');
    if (file != "sub\\gone.txt") expected.insert(U8(tree.DrivePath()) + "\\" + file);
  }

  CQVIni ini;
  const CQVString listPath((folder_ + QVT("direct.lst")).c_str());
  engine_.m_pLstIni = &ini;
  EXPECT_EQ(engine_.LSTFile_BuildHeader(listPath), 0u);
  EXPECT_EQ(engine_.LSTFile_BuildSelectedSection(index, listPath), 0u);
  EXPECT_EQ(engine_.LSTFile_BuildIncludedSection(listPath, &index), 0u);
  engine_.m_pLstIni = nullptr;
  ASSERT_TRUE(ini.Store(listPath, 1));

  const ListFileSections read = ReadListFile(home_.path() / "direct.lst");
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read[0], (std::pair<std::string, std::vector<std::string>>(
                         "Parameters", {"Newerfiles=1", "Selected=4", "include=4"})));
  EXPECT_EQ(read[1].first, "Selected");
  EXPECT_EQ(SortedPathsOf(read[1].second), Sorted(expected));
  EXPECT_EQ(read[2].first, "Include");
  EXPECT_EQ(read[2].second, read[1].second);
  std::vector<WString> lines = log_.Body();
  EXPECT_TRUE(EachOnceInOrder(
      lines, {"ENTER CQVBackupEngine::LSTFile_BuildHeader (CQVString strLSTFilenamePath = " + U8(listPath) + ")",
              "ENTER CQVBackupEngine::LSTFile_BuildSelectedSection",
              "ENTER CQVBackupEngine::LSTFile_BuildIncludedSection"}));
  EXPECT_EQ(LinesEndingWith(lines, "RETURNED 0"), 3);
}

TEST_F(ListFileTest, AnIndexOfItsRootAloneGivesEmptySectionsAndNoWriterMeansNoSection) {
  CQVFileArray root;
  CQVIni ini;
  const CQVString listPath((folder_ + QVT("root.lst")).c_str());
  engine_.m_pLstIni = &ini;
  engine_.LSTFile_BuildSelectedSection(root, listPath);
  engine_.LSTFile_BuildIncludedSection(listPath, nullptr);  // no index: nothing to add
  engine_.LSTFile_BuildIncludedSection(listPath, &root);
  engine_.m_pLstIni = nullptr;
  // Without a writer the builders have nowhere to write.
  engine_.LSTFile_BuildHeader(listPath);
  engine_.LSTFile_BuildSelectedSection(root, listPath);
  ASSERT_TRUE(ini.Store(listPath, 1));
  EXPECT_EQ(ReadListFile(home_.path() / "root.lst"),
            (ListFileSections{{"Selected", {}}, {"Parameters", {"Selected=0", "include=0"}}, {"Include", {}}}));
}

TEST_F(ListFileTest, DebugShowAllTracesEveryLiveEntryFilesAndFoldersAlike) {
  TempDir tree;
  tree.WriteFile("top.txt", 1);
  tree.WriteFile("Data/inner.doc", 1);
  tree.WriteFile("Data/dropped.doc", 1);
  tree.MakeDir("Data/empty");
  tree.MakeDir("Gone");
  CQVFileArray index;
  ASSERT_TRUE(index.AddDirectory(tree.DrivePath().c_str()));
  for (const char* relative : {"\\Data\\dropped.doc", "\\Gone"}) {
    const WString path = tree.DrivePath() + W(relative);
    ASSERT_TRUE(index.DeleteItem(index.Add(path.c_str(), nullptr, QVFA_ADD_LOOKUP), QVFA_DEL_IFEMPTY));
  }
  // Every folder above the tree is an entry too, down from the drive's root.
  const std::string top = U8(tree.DrivePath());
  std::set<std::string> expected = {top.substr(0, 3)};
  for (std::size_t at = top.find('\\', 3); at != std::string::npos; at = top.find('\\', at + 1)) {
    expected.insert(top.substr(0, at));
  }
  for (const char* relative : {"", "\\top.txt", "\\Data", "\\Data\\inner.doc", "\\Data\\empty"}) {
    expected.insert(top + relative);
  }

  EXPECT_EQ(engine_.DebugShowAll(index), 0u);
  std::vector<WString> lines = log_.Body();
  for (const std::string& path : expected) EXPECT_EQ(LinesEndingWith(lines, "strName " + path), 1) << path;
  EXPECT_EQ(LinesHolding(lines, "strName "), static_cast<int>(expected.size()));
  EXPECT_EQ(LinesHolding(lines, "dropped.doc"), 0);
  EXPECT_TRUE(EachOnceInOrder(lines, {"ENTER CQVBackupEngine::DebugShowAll", "RETURNED 0"}));
}

}  // namespace
}  // namespace qvtest
