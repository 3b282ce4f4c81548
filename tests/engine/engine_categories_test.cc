// Categories of a backup profile: the extension groups read from
// "GpExt.xml" (the shipped file, hand-written ones, missing and broken ones,
// the pre-installation rules), and the files they select into an index or
// remove from one, checked against a real folder tree. Runs under Wine too,
// where the groups are read through the system's XML parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/engine_file_list_test_util.h"
#include "engine/engine_log_capture.h"
#include "engine/engine_profile_test_util.h"
#include "platform/preinstall_env.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Texts(const CQVStringArray& array) {
  std::vector<std::string> texts;
  for (DWORD i = 0; i < array.GetSize(); ++i) texts.push_back(U8(array.GetAt(i).GetString()));
  return texts;
}

// The groups of an extension-group file read as plain text: name -> the
// extensions of every group of that name, in file order.
std::map<std::string, std::vector<std::string>> GroupsInText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::map<std::string, std::vector<std::string>> groups;
  std::string current;
  for (std::size_t at = 0; (at = text.find('<', at)) != std::string::npos; ++at) {
    if (text.compare(at, 14, "<groupe name=\"") == 0) {
      current = text.substr(at + 14, text.find('"', at + 14) - at - 14);
    } else if (text.compare(at, 11, "<extension>") == 0) {
      groups[current].push_back(text.substr(at + 11, text.find('<', at + 11) - at - 11));
    }
  }
  return groups;
}

class CategoriesTest : public ::testing::Test {
 protected:
  CategoriesTest() : engine_(nullptr), root_(tree_.DrivePath()) {}

  std::vector<std::string> Read(const char* group, std::vector<std::string> before = {}) {
    CQVStringArray extensions(0);
    for (const std::string& text : before) extensions.Add(CQVString(W(text).c_str()));
    QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({});
    EXPECT_EQ(engine_.GroupExt_EnumerateExtensionsInGroup(W(group).c_str(), extensions, profile), 0u);
    return Texts(extensions);
  }
  std::string GroupFilePath() const { return U8(engine_.m_strEnvironementPath.GetString()) + "GpExt.xml"; }
  // Walks the tree into the engine's volume index, as a partition that
  // cannot be read raw is loaded.
  void LoadTree() { ASSERT_TRUE(engine_.m_qvfaGroup.AddDirectory(root_.c_str())); }

  CapturedLog log_;
  TempDir groups_, tree_;
  CQVBackupEngine engine_;
  WString root_;
};

TEST_F(CategoriesTest, ShippedGroupFileHoldsTheSixCategoriesInFull) {
  CQVBackupEngine shipped;  // reads from the test program's own folder
  const std::string path = U8(shipped.m_strEnvironementPath.GetString()) + "GpExt.xml";
  std::map<std::string, std::vector<std::string>> read;
  for (const char* name : {"Pictures", "Music", "Video", "Offices", "Mail", "Financial"}) {
    CQVStringArray extensions(0);
    QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({});
    shipped.GroupExt_EnumerateExtensionsInGroup(W(name).c_str(), extensions, profile);
    read[name] = Texts(extensions);
    EXPECT_FALSE(read[name].empty()) << name;
    // Each is the bare extension an extension mask matches.
    for (const std::string& extension : read[name]) EXPECT_EQ(extension.find_first_of(". \t*?"), std::string::npos);
  }
  EXPECT_EQ(read, GroupsInText(fs::path(QV_TEST_DATA_DIR) / ".." / ".." / "data" / "GpExt.xml"));
  auto holds = [&](const char* group, const char* extension) {
    return std::count(read[group].begin(), read[group].end(), extension) == 1;
  };
  EXPECT_TRUE(holds("Pictures", "jpg"));
  EXPECT_TRUE(holds("Music", "flac"));

  const std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "Program files changes : " + path), 6);
  EXPECT_EQ(LinesHolding(lines, "ERROR"), 0);
}

TEST_F(CategoriesTest, EveryGroupOfTheNameAddsItsExtensionsAfterWhatTheArrayHeld) {
  UseGroupFile(engine_, groups_,
               GroupFileText({{"Pictures", {"jpg", "png"}},
                              {"pictures", {"lower"}},
                              {"", {"unnamed"}},
                              {"Music", {"mp3"}},
                              {"Pictures", {"gif"}},
                              {"Video", {}}}));
  EXPECT_EQ(Read("Pictures", {"kept"}), (std::vector<std::string>{"kept", "jpg", "png", "gif"}));
  EXPECT_EQ(Read("pictures"), std::vector<std::string>{"lower"});
  EXPECT_EQ(Read("Music"), std::vector<std::string>{"mp3"});
  EXPECT_EQ(Read("Video", {"kept"}), std::vector<std::string>{"kept"});
  EXPECT_TRUE(Read("Mail").empty());
  EXPECT_TRUE(Read("").empty());  // a group without a name is no group of any name

  const std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "ENTER CQVBackupEngine::GroupExt_EnumerateExtensionsInGroup(LPCWSTR pstrGroupName "
                                   "= Pictures, CQVStringArray & straListOfExtensions, QV_ARCHIVE_PROFILE_BACKUP & "
                                   "qvapb)"),
            1);
  EXPECT_EQ(LinesEndingWith(lines, "Program files changes : " + GroupFilePath()), 6);
  EXPECT_EQ(LinesEndingWith(lines, "CQVBackupEngine::GroupExt_EnumerateExtensionsInGroup : RETURNED 0"), 6);
  EXPECT_EQ(LinesHolding(lines, "ERROR"), 0);
}

TEST_F(CategoriesTest, MissingOrBrokenGroupFileAddsNothingAndNamesThePath) {
  engine_.m_strEnvironementPath = (groups_.DrivePath() + W("\\")).c_str();
  EXPECT_EQ(Read("Pictures", {"kept"}), std::vector<std::string>{"kept"});
  UseGroupFile(engine_, groups_, "<gpext><groupe name=\"Pictures\"><extension>jpg</extension></groupe>");
  EXPECT_EQ(Read("Pictures", {"kept"}), std::vector<std::string>{"kept"});

  const std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesHolding(lines, "ERROR : Failed to load xml file " + GroupFilePath()), 2);
  EXPECT_EQ(LinesEndingWith(lines, "Program files changes : " + GroupFilePath()), 2);
  // The operation leaves through EXIT, so the log's nesting stays balanced.
  EXPECT_EQ(LinesEndingWith(lines, "CQVBackupEngine::GroupExt_EnumerateExtensionsInGroup : EXIT"), 2);
  EXPECT_EQ(LinesHolding(lines, "RETURNED"), 0);
}

TEST_F(CategoriesTest, EngineWithoutProgramFolderReadsTheGroupFileOfTheCurrentFolder) {
  std::ofstream(groups_.path() / "GpExt.xml", std::ios::binary) << GroupFileText({{"Mail", {"eml"}}});
  const fs::path previous = fs::current_path();
  fs::current_path(groups_.path());
  const std::vector<std::string> read = Read("Mail");
  fs::current_path(previous);
  EXPECT_EQ(read, std::vector<std::string>{"eml"});
  EXPECT_EQ(LinesEndingWith(log_.Body(), "Program files changes : GpExt.xml"), 1);
}

TEST_F(CategoriesTest, UnderPreinstallationTheInstalledSystemFolderIsReadElseDriveX) {
  UseGroupFile(engine_, groups_, GroupFileText({{"Pictures", {"program"}}}));
  TempDir windows;
  windows.MakeDir("WINDOWS/system32");
  std::ofstream(windows.path() / "WINDOWS" / "system32" / "GpExt.xml", std::ios::binary)
      << GroupFileText({{"Pictures", {"installed"}}});
  PreinstallationEnvironment preinstallation(true);
  CQVStringArray extensions(0);
  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({1});
  profile.strWindowsDrive = (windows.DrivePath() + W("\\")).c_str();
  engine_.GroupExt_EnumerateExtensionsInGroup(QVT("Pictures"), extensions, profile);
  EXPECT_EQ(Texts(extensions), std::vector<std::string>{"installed"});

  // A Windows folder without the file: the pre-installation drive's own,
  // which this machine does not have.
  profile.strWindowsDrive = (groups_.DrivePath() + W("\\")).c_str();
  engine_.GroupExt_EnumerateExtensionsInGroup(QVT("Pictures"), extensions, profile);
  EXPECT_EQ(Texts(extensions), std::vector<std::string>{"installed"});

  const std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesHolding(lines, "ERROR : Failed to load xml file X:\\WINDOWS\\system32\\GpExt.xml"), 1);
  EXPECT_EQ(LinesHolding(lines, "Program files changes"), 0);
}

TEST_F(CategoriesTest, CheckedCategoriesSelectTheirFilesStillOnDisk) {
  UseGroupFile(engine_, groups_,
               GroupFileText({{"Pictures", {"jpg"}}, {"Music", {"mp3", "flac"}}, {"Video", {"mp4"}},
                              {"Offices", {"doc"}}}));
  tree_.WriteFile("Photos/a.jpg", 3);
  tree_.WriteFile("Photos/B.JPG", 3);
  tree_.WriteFile("Photos/gone.jpg", 3);
  tree_.WriteFile("Photos/a.jpeg", 3);
  tree_.WriteFile("Sound/song.flac", 3);
  tree_.WriteFile("Sound/tune.mp3", 3);
  tree_.WriteFile("Films/clip.mp4", 3);
  tree_.WriteFile("Docs/x.doc", 3);
  tree_.MakeDir("album.jpg");
  LoadTree();
  fs::remove(tree_.path() / "Photos" / "gone.jpg");

  CQVFileArray selected;
  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({1, 2});
  EXPECT_EQ(engine_.BuildSelectedList(selected, profile), 0u);
  const LiveEntries live = LiveBelow(selected, root_);
  EXPECT_EQ(live.files,
            (std::set<std::string>{"Photos\\a.jpg", "Photos\\B.JPG", "Sound\\song.flac", "Sound\\tune.mp3"}));
  // A folder named like the extension is entered as it is found.
  EXPECT_EQ(live.folders, (std::set<std::string>{"Photos", "Sound", "album.jpg"}));

  std::vector<WString> lines = log_.Body();
  EXPECT_TRUE(EachOnceInOrder(lines, {"ENTER CQVBackupEngine::BuildSelectedList", "Audio will be include",
                                      "lpOneExtension mp3", "lpOneExtension flac",
                                      "CQVBackupEngine::BuildSelectedList : RETURNED 0"}));
  EXPECT_EQ(LinesHolding(lines, "lpOneExtension"), 2);  // none for Pictures
  EXPECT_EQ(LinesEndingWith(lines, "Program files changes : " + GroupFilePath()), 2);
  EXPECT_EQ(LinesHolding(lines, "LPCTSTR lpExtension=jpg)"), 1);

  // Video alone: its extensions are traced, and no audio line.
  CQVFileArray video;
  profile = ProfileWith({3});
  engine_.BuildSelectedList(video, profile);
  EXPECT_EQ(LiveBelow(video, root_).files, std::set<std::string>{"Films\\clip.mp4"});
  lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "Audio will be include"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "lpOneExtension mp4"), 1);
}

TEST_F(CategoriesTest, NoCheckedCategoryLeavesTheSelectionAsItWasWithoutReadingGroups) {
  UseGroupFile(engine_, groups_, GroupFileText({{"Pictures", {"jpg"}}}));
  tree_.WriteFile("a.jpg", 1);
  LoadTree();
  CQVFileArray selected;
  ASSERT_NE(selected.Add(W(U8(root_) + "\\a.jpg").c_str()), 0u);
  DWORD size = 0;
  const BYTE* raw = selected.GetRawData(&size);
  const std::vector<BYTE> before(raw, raw + size);

  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({});
  profile.bOthers = TRUE;  // not a category of the groups
  EXPECT_EQ(engine_.BuildSelectedList(selected, profile), 0u);
  raw = selected.GetRawData(&size);
  EXPECT_EQ(std::vector<BYTE>(raw, raw + size), before);
  const std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesHolding(lines, "Program files changes"), 0);
  EXPECT_EQ(LinesHolding(lines, "GroupExt_EnumerateExtensionsInGroup"), 0);
  EXPECT_EQ(LinesEndingWith(lines, "CQVBackupEngine::BuildSelectedList : RETURNED 0"), 1);
}

TEST_F(CategoriesTest, UncheckedCategoriesLoseTheirFilesButNeverAFolder) {
  UseGroupFile(engine_, groups_,
               GroupFileText({{"Pictures", {"jpg"}}, {"Music", {"mp3"}}, {"Video", {"mp4"}}, {"Offices", {"doc"}},
                              {"Mail", {"eml"}}, {"Financial", {"qif"}}}));
  tree_.WriteFile("a.jpg", 1);
  tree_.WriteFile("Music/tune.MP3", 1);
  tree_.WriteFile("song.mp3/readme.txt", 1);  // a folder named like a Music file
  tree_.MakeDir("empty.mp4");                 // an empty one, which deletion alone would take
  tree_.WriteFile("x.doc", 1);
  tree_.WriteFile("x.docx", 1);
  tree_.WriteFile("m.eml", 1);
  tree_.WriteFile("b.qif", 1);
  tree_.WriteFile("notes.txt", 1);
  LoadTree();

  QV_ARCHIVE_PROFILE_BACKUP profile = ProfileWith({1, 5});
  EXPECT_EQ(engine_.SubstractNonCheckedCategories(profile), 0u);
  const LiveEntries live = LiveBelow(engine_.m_qvfaGroup, root_);
  EXPECT_EQ(live.files, (std::set<std::string>{"a.jpg", "song.mp3\\readme.txt", "x.docx", "m.eml", "notes.txt"}));
  EXPECT_EQ(live.folders, (std::set<std::string>{"Music", "song.mp3", "empty.mp4"}));
  const std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "Program files changes : " + GroupFilePath()), 4);
  EXPECT_TRUE(EachOnceInOrder(lines, {"ENTER CQVBackupEngine::SubstractNonCheckedCategories",
                                      "CQVBackupEngine::SubstractNonCheckedCategories : RETURNED 0"}));

  // Directly, on any index: the extension ignores case, folders stay.
  EXPECT_EQ(engine_.SubstractOneExtension(engine_.m_qvfaGroup, QVT("TXT")), 0u);
  EXPECT_EQ(engine_.SubstractOneExtension(engine_.m_qvfaGroup, QVT("mp3")), 0u);
  EXPECT_EQ(LiveBelow(engine_.m_qvfaGroup, root_).files, (std::set<std::string>{"a.jpg", "x.docx", "m.eml"}));
  EXPECT_EQ(LiveBelow(engine_.m_qvfaGroup, root_).folders, live.folders);
}

TEST_F(CategoriesTest, CopyEntersEveryLiveFileAndFolderIntoTheTarget) {
  tree_.WriteFile("Src/A/one.txt", 1);
  tree_.WriteFile("Src/A/B/two.txt", 1);
  tree_.WriteFile("Src/dropped.txt", 1);
  tree_.MakeDir("Src/Empty");
  tree_.WriteFile("Kept/k.txt", 1);
  CQVFileArray source, target;
  ASSERT_TRUE(source.AddDirectory(W(U8(root_) + "\\Src").c_str()));
  const DWORD dropped = source.Add(W(U8(root_) + "\\Src\\dropped.txt").c_str(), nullptr, QVFA_ADD_LOOKUP);
  ASSERT_TRUE(source.DeleteItem(dropped, QVFA_DEL_IFEMPTY));
  EXPECT_EQ(engine_.AddToqvfa(target, CQVString(W(U8(root_) + "\\Kept\\k.txt").c_str())), 0u);
  EXPECT_EQ(LiveBelow(target, root_).files, std::set<std::string>{"Kept\\k.txt"});

  EXPECT_EQ(engine_.Copy_qvfaFromTo(source, target), 0u);
  const LiveEntries copied = LiveBelow(target, root_);
  EXPECT_EQ(copied.files, (std::set<std::string>{"Src\\A\\one.txt", "Src\\A\\B\\two.txt", "Kept\\k.txt"}));
  EXPECT_EQ(copied.folders, (std::set<std::string>{"Src", "Src\\A", "Src\\A\\B", "Src\\Empty", "Kept"}));
  EXPECT_TRUE(log_.Body().empty());  // neither writes a trace line
}

}  // namespace
}  // namespace qvtest
