// The engine's exclusions: its three lists, how they are set and moved to
// another drive, and the removals a profile-driven run applies to an index
// (excluded paths and extensions, NTFS metafiles, files older than a
// reference time), checked against a real folder tree and index entries
// with chosen times.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_file_list_test_util.h"
#include "engine/engine_log_capture.h"
#include "engine/engine_profile_test_util.h"
#include "engine/exclusions.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtest {
namespace {

constexpr ULONGLONG kTicksPerMinute = 600000000ULL;
constexpr ULONGLONG kReference = 132592971600000000ULL;  // 2021-03-04 02:06 UTC
constexpr ULONGLONG kYear2100 = 157469184000000000ULL;   // 2100-01-01 00:00 UTC

CQVStringArray ArrayOf(const std::vector<std::string>& texts) {
  CQVStringArray array(0);
  for (const std::string& text : texts) array.Add(CQVString(W(text).c_str()));
  return array;
}

std::vector<std::string> Texts(const CQVStringArray& array) {
  std::vector<std::string> texts;
  for (DWORD i = 0; i < array.GetSize(); ++i) texts.push_back(U8(array.GetAt(i).GetString()));
  return texts;
}

std::vector<BYTE> ImageOf(CQVFileArray& index) {
  DWORD size = 0;
  const BYTE* raw = index.GetRawData(&size);
  return std::vector<BYTE>(raw, raw + size);
}

class ExclusionsTest : public ::testing::Test {
 protected:
  ExclusionsTest() : engine_(nullptr), root_(tree_.DrivePath()) {}

  WString At(const std::string& relative) const { return W(U8(root_) + "\\" + relative); }
  void LoadTree() { ASSERT_TRUE(engine_.m_qvfaGroup.AddDirectory(root_.c_str())); }
  // Enters `relative` below the tree's root with the times given, as a
  // volume reader would (the tree's folder itself comes from the disk).
  void EnterWithTimes(const std::string& relative, DWORD attributes, ULONGLONG created, ULONGLONG written) {
    if (engine_.m_qvfaGroup.Add(root_.c_str(), nullptr, QVFA_ADD_LOOKUP) == 0) {
      ASSERT_NE(engine_.m_qvfaGroup.Add(root_.c_str()), 0u);
    }
    ASSERT_NE(qvtest::EnterWithTimes(engine_.m_qvfaGroup, At(relative), attributes, created, written), 0u) << relative;
  }

  CapturedLog log_;
  TempDir tree_;
  CQVBackupEngine engine_;
  WString root_;
};

TEST_F(ExclusionsTest, SettersKeepACopyAndTraceOnlyTheirResult) {
  CQVStringArray folders = ArrayOf({"C:\\Temp"}), files = ArrayOf({"C:\\a.txt", "b.txt"}),
                 extensions = ArrayOf({"tmp"});
  EXPECT_EQ(engine_.SetFoldersExcludedList(folders), 0u);
  EXPECT_EQ(engine_.SetFilesExcludedList(files), 0u);
  EXPECT_EQ(engine_.SetExtensionsExcludedList(extensions), 0u);
  folders.SetAt(0, CQVString(QVT("C:\\Changed")));
  files.Add(CQVString(QVT("c.txt")));
  extensions.RemoveAll();
  EXPECT_EQ(Texts(engine_.m_qvsaFoldersExcluded), std::vector<std::string>{"C:\\Temp"});
  EXPECT_EQ(Texts(engine_.m_qvsaFilesExcluded), (std::vector<std::string>{"C:\\a.txt", "b.txt"}));
  EXPECT_EQ(Texts(engine_.m_qvsaExtensionsExcluded), std::vector<std::string>{"tmp"});
  // A setter replaces the whole list.
  CQVStringArray other = ArrayOf({"D:\\Other"});
  engine_.SetFoldersExcludedList(other);
  EXPECT_EQ(Texts(engine_.m_qvsaFoldersExcluded), std::vector<std::string>{"D:\\Other"});

  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({});
  EXPECT_EQ(engine_.BuildExclusionsList(profile), 0);
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "RETURNED 0"), 5);
  EXPECT_EQ(LinesHolding(lines, "ENTER"), 0);
  EXPECT_EQ(engine_.SubstractSystemExtensions(profile), 0u);
  lines = log_.Body();
  EXPECT_TRUE(EachOnceInOrder(lines, {"ENTER CQVBackupEngine::SubstractSystemExtensions",
                                      "CQVBackupEngine::SubstractSystemExtensions : RETURNED 0"}));
}

TEST_F(ExclusionsTest, MovingToAnotherRootReplacesEveryDriveTextOfFoldersAndFiles) {
  CQVStringArray folders = ArrayOf({"C:\\Data", "C:\\A\\C:\\B", "\\\\server\\C:\\x", "Data\\C:\\x", "c:\\low", "E:"});
  CQVStringArray files = ArrayOf({"C:\\f.txt", "name.doc"}), extensions = ArrayOf({"C:\\odd", "doc"});
  engine_.SetFoldersExcludedList(folders);
  engine_.SetFilesExcludedList(files);
  engine_.SetExtensionsExcludedList(extensions);
  engine_.UpdateExcludeList(QVT("D:\\"));
  EXPECT_EQ(Texts(engine_.m_qvsaFoldersExcluded),
            (std::vector<std::string>{"D:\\Data", "D:\\A\\D:\\B", "\\\\server\\C:\\x", "Data\\C:\\x", "D:\\low", "D:\\"}));
  EXPECT_EQ(Texts(engine_.m_qvsaFilesExcluded), (std::vector<std::string>{"D:\\f.txt", "name.doc"}));
  EXPECT_EQ(Texts(engine_.m_qvsaExtensionsExcluded), (std::vector<std::string>{"C:\\odd", "doc"}));
}

TEST_F(ExclusionsTest, ExcludedPathRemovesWholeComponentsInAnyCaseAndLeavesFolders) {
  for (const char* file : {"Temp/a.doc", "Temp/sub/b.doc", "Temporary/c.doc", "Temp.doc", "Other/d.doc",
                           "Other/Temp/e.doc"}) {
    tree_.WriteFile(file, 1);
  }
  tree_.MakeDir("Temp/empty");  // no live child when visited: it goes
  LoadTree();
  CQVFileArray& index = engine_.m_qvfaGroup;
  EXPECT_EQ(engine_.SubstractOnePath(index, At("TEMP").c_str()), 0u);
  EXPECT_EQ(LiveBelow(index, root_).files,
            (std::set<std::string>{"Temporary\\c.doc", "Temp.doc", "Other\\d.doc", "Other\\Temp\\e.doc"}));
  // A file's own path removes it; a trailing separator changes nothing.
  engine_.SubstractOnePath(index, At("other\\D.DOC").c_str());
  engine_.SubstractOnePath(index, At("Temporary\\").c_str());
  const LiveEntries live = LiveBelow(index, root_);
  EXPECT_EQ(live.files, (std::set<std::string>{"Temp.doc", "Other\\Temp\\e.doc"}));
  EXPECT_EQ(live.folders, (std::set<std::string>{"Temp", "Temp\\sub", "Temporary", "Other", "Other\\Temp"}));
  EXPECT_TRUE(log_.Body().empty());
}

// The list file removes what the lists exclude from its index; the file
// list and the counts test each path with the shared rule. Both read the
// lists alike: a leading dot or a trailing separator changes nothing, and an
// empty element excludes nothing.
TEST_F(ExclusionsTest, ExcludedListsRemoveWhatTheSharedRuleExcludes) {
  const std::vector<std::string> files = {"README", "a.tmp",         "A2.TMP",      "b.doc",     "b.docx", "t.tar.gz",
                                          "Skip/x.txt", "Skipper/y.txt", "cache/z.txt", "Keep/k.bin"};
  for (const std::string& file : files) tree_.WriteFile(file, 1);
  tree_.MakeDir("Keep/folder.tmp");
  LoadTree();
  CQVStringArray folders = ArrayOf({"", U8(At("skip\\")), U8(At("CACHE"))});
  CQVStringArray noFiles(0), extensions = ArrayOf({"", ".tmp", "BIN", "gz"});
  engine_.SetFoldersExcludedList(folders);
  engine_.SetExtensionsExcludedList(extensions);
  EXPECT_EQ(engine_.SubstractExcludedPathFromXML(engine_.m_qvfaGroup), 0u);
  EXPECT_EQ(engine_.SubstractExcludedExtensionsFromXML(engine_.m_qvfaGroup), 0u);
  const LiveEntries live = LiveBelow(engine_.m_qvfaGroup, root_);
  EXPECT_EQ(live.files, (std::set<std::string>{"README", "b.doc", "b.docx", "Skipper\\y.txt"}));
  EXPECT_EQ(live.folders, (std::set<std::string>{"Keep", "Keep\\folder.tmp", "Skip", "Skipper", "cache"}));

  const qv::engine::ExclusionRules rules(folders, noFiles, extensions);
  for (std::string file : files) {
    for (char& c : file) c = c == '/' ? '\\' : c;
    EXPECT_EQ(rules.Excludes(CQVString(At(file).c_str())), live.files.count(file) == 0) << file;
  }
}

TEST_F(ExclusionsTest, MetafileRemovalTakesOnlyTheFirstEntryOfEachNameFromTheVolumeIndex) {
  tree_.WriteFile("a.txt", 1);
  tree_.WriteFile("Sub/notes.doc", 1);
  LoadTree();
  const std::vector<BYTE> walked = ImageOf(engine_.m_qvfaGroup);
  EXPECT_EQ(engine_.SubstractAllMFTEntry(), 0u);
  EXPECT_EQ(ImageOf(engine_.m_qvfaGroup), walked);

  // Files that merely bear a metafile's name: the first in image order goes,
  // from the volume index whatever index is named.
  tree_.WriteFile("One/$Boot", 1);
  tree_.WriteFile("Two/$Boot", 1);
  engine_.m_qvfaGroup.RemoveAll();
  ASSERT_NE(engine_.m_qvfaGroup.Add(At("One\\$Boot").c_str()), 0u);
  ASSERT_NE(engine_.m_qvfaGroup.Add(At("Two\\$Boot").c_str()), 0u);
  CQVFileArray other;
  ASSERT_NE(other.Add(At("One\\$Boot").c_str()), 0u);
  EXPECT_EQ(engine_.SubstractOneMFTEntry(&other, QVT("$boot")), 0u);
  EXPECT_EQ(LiveBelow(engine_.m_qvfaGroup, root_).files, std::set<std::string>{"Two\\$Boot"});
  EXPECT_EQ(LiveBelow(other, root_).files, std::set<std::string>{"One\\$Boot"});
  EXPECT_TRUE(log_.Body().empty());
}

TEST_F(ExclusionsTest, FilesWithBothTimesBeforeTheReferenceAreRemoved) {
  EnterWithTimes("old.txt", FILE_ATTRIBUTE_ARCHIVE, kReference - 2 * kTicksPerMinute, kReference - kTicksPerMinute);
  EnterWithTimes("rewritten.txt", FILE_ATTRIBUTE_ARCHIVE, kReference - 1440 * kTicksPerMinute,
                 kReference + kTicksPerMinute);
  EnterWithTimes("copied.txt", FILE_ATTRIBUTE_ARCHIVE, kReference + kTicksPerMinute, kReference - kTicksPerMinute);
  EnterWithTimes("exact.txt", FILE_ATTRIBUTE_ARCHIVE, kReference, kReference);
  EnterWithTimes("OldFolder", FILE_ATTRIBUTE_DIRECTORY, kReference - 2 * kTicksPerMinute,
                 kReference - kTicksPerMinute);
  FILETIME reference = FileTimeOf(kReference);
  EXPECT_EQ(engine_.SubstractFileBeforeReferenceTime(engine_.m_qvfaGroup, reference), 0u);
  LiveEntries live = LiveBelow(engine_.m_qvfaGroup, root_);
  EXPECT_EQ(live.files, (std::set<std::string>{"rewritten.txt", "copied.txt", "exact.txt"}));
  EXPECT_EQ(live.folders, std::set<std::string>{"OldFolder"});
  const std::vector<WString> lines = log_.Body();
  EXPECT_TRUE(EachOnceInOrder(lines, {"ENTER CQVBackupEngine::SubstractFileBeforeReferenceTime",
                                      "CQVBackupEngine::SubstractFileBeforeReferenceTime : Time filtered : 04-03-2021 02:06",
                                      "CQVBackupEngine::SubstractFileBeforeReferenceTime : RETURNED 0"}));
  EXPECT_EQ(LinesHolding(lines, "CQVBackupEngine::SubstractFileBeforeReferenceTime : Time filtered Local : "), 1);

  // A reference later than everything leaves the folders alone.
  EnterWithTimes("Sub", FILE_ATTRIBUTE_DIRECTORY, kReference, kReference);
  EnterWithTimes("Sub\\inner.txt", FILE_ATTRIBUTE_ARCHIVE, kReference, kReference);
  FILETIME later = FileTimeOf(kYear2100);
  engine_.SubstractFileBeforeReferenceTime(engine_.m_qvfaGroup, later);
  live = LiveBelow(engine_.m_qvfaGroup, root_);
  EXPECT_TRUE(live.files.empty());
  EXPECT_EQ(live.folders, (std::set<std::string>{"OldFolder", "Sub"}));
}

}  // namespace
}  // namespace qvtest
