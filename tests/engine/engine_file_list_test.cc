// Building the list of files to save over a real folder tree: filters below
// a base folder, the exclusion rule, system file names, paths added
// directly, sizes, and the trace lines read back. The folder's volume is not
// read raw here, so only base folders are walked.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/engine_file_list_test_util.h"
#include "engine/engine_log_capture.h"
#include "engine/exclusions.h"
#include "engine/system_file_names.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtest {
namespace {

namespace fs = std::filesystem;

class FileListTest : public ::testing::Test {
 protected:
  FileListTest() : engine_(&recorder_), root_(tree_.DrivePath()) {}

  // `relative` uses '\' as the engine does.
  void Write(std::string relative, std::size_t size) {
    for (char& c : relative) c = c == '\\' ? '/' : c;
    tree_.WriteFile(relative, size);
  }
  WString At(const std::string& relative) const { return W(Below(root_, relative)); }
  std::string Listed8(const std::string& relative) const { return Below(root_, relative); }
  void AddFilter(const std::string& base, const char* extension, DWORD flags, const char* mask) {
    WString basePath = base.empty() ? WString() : At(base);
    engine_.CreateFilters(QVT("filter"), CQVString(basePath.c_str()), W(extension).c_str(), flags, W(mask).c_str());
  }

  TempDir tree_;
  CapturedLog log_;
  MessageRecorder recorder_;
  CQVBackupEngine engine_;
  WString root_;
};

TEST_F(FileListTest, WithoutFiltersTheScanIsAnnouncedAndNothingIsLoaded) {
  ASSERT_TRUE(log_.IsOpen());
  engine_.m_i64SizeOfBackup = 77;
  EXPECT_EQ(engine_.MakeFileList(), 0u);
  EXPECT_EQ(recorder_.codes, std::vector<DWORD>{ENGINE_MSG_SCAN_BEGIN});
  EXPECT_EQ(engine_.m_i64SizeOfBackup, 0);
  EXPECT_TRUE(engine_.m_setFileToBackup.empty());
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "CQVBackupEngine::MakeFileList : filter size in make : 0"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "CQVBackupEngine::MakeFileList : m_strMultiplePartScan="), 1);
  EXPECT_EQ(LinesEndingWith(lines, "CQVBackupEngine::MakeFileList : CQVBackupEngine::MakeFileList () SizeOfBackup"), 1);
  EXPECT_EQ(LinesHolding(lines, "loading volume"), 0);
  EXPECT_EQ(LinesEndingWith(lines, "CQVBackupEngine::MakeFileList : RETURNED 0"), 1);
}

TEST_F(FileListTest, FiltersListFilesBelowTheirBaseFolderButNeverSystemFiles) {
  Write("Data\\a.doc", 10);
  Write("Data\\sub\\b.DOC", 20);
  Write("Data\\c.txt", 5);
  Write("Data\\logfile", 2);  // on the list of system names, unlike NTFS's $LogFile
  Write("Data\\$LogFile", 1);
  Write("Data\\sub\\Desktop.ini", 3);
  Write("Data\\DESKTOP.INI", 4);
  Write("Data\\ntuser.dat", 6);
  Write("Other\\x.doc", 1);
  tree_.MakeDir("Data/sub/deeper");
  AddFilter("Data", "doc", QVFF_RECURSE, "*");
  AddFilter("Data", "", QVFF_RECURSE, "*");

  EXPECT_EQ(engine_.MakeFileList(), 0u);
  std::set<std::string> expected = {Listed8("Data\\a.doc"), Listed8("Data\\sub\\b.DOC"), Listed8("Data\\c.txt"),
                                    Listed8("Data\\$LogFile")};
#ifndef _WIN32
  // Where folders are items of their own, an empty one is saved.
  expected.insert(Listed8("Data\\sub\\deeper"));
#endif
  EXPECT_EQ(Listed(engine_), expected);
  EXPECT_EQ(engine_.m_i64SizeOfBackup, 36);
  EXPECT_TRUE(engine_.m_pFilterManager->m_vecFilters.empty());
  EXPECT_FALSE(engine_.m_bVolumeLoaded);
  QV_FINDFILTER zero;
  std::memset(&zero, 0, sizeof(zero));
  EXPECT_EQ(std::memcmp(&engine_.m_qvFindFilter, &zero, sizeof(zero)), 0);
  EXPECT_EQ(engine_.m_hFileEntry, nullptr);
  std::vector<WString> lines = log_.Body();
  // Two filters on one folder: one load, walked as the volume is not read raw.
  EXPECT_EQ(LinesEndingWith(lines, "loading volume " + U8(root_.substr(0, 3))), 1);
  EXPECT_EQ(LinesEndingWith(lines, "Old School parsing method begin!!"), 1);
  EXPECT_EQ(LinesHolding(lines, "ERROR : ::LoadVolume ("), 1);
  EXPECT_EQ(LinesEndingWith(lines, "filter size in make : 2"), 1);

  // A second run adds to the list and sizes it afresh.
  AddFilter("Other", "doc", QVFF_RECURSE, "*");
  engine_.MakeFileList();
  expected.insert(Listed8("Other\\x.doc"));
  EXPECT_EQ(Listed(engine_), expected);
  EXPECT_EQ(engine_.m_i64SizeOfBackup, 37);
  EXPECT_EQ(recorder_.codes, (std::vector<DWORD>{ENGINE_MSG_SCAN_BEGIN, ENGINE_MSG_SCAN_BEGIN}));
}

TEST_F(FileListTest, AFolderWalkedForOneSearchServesTheSearchesBelowIt) {
  Write("Data\\sub\\a.txt", 1);
  Write("Other\\b.txt", 1);
  AddFilter("Missing", "txt", QVFF_RECURSE, "*");  // logged; the next filters still run
  AddFilter("Data", "txt", QVFF_RECURSE, "*");
  AddFilter("Data\\sub", "txt", QVFF_RECURSE, "*");  // inside what was walked
  AddFilter("Other", "txt", QVFF_RECURSE, "*");      // elsewhere: walked anew
  AddFilter("Data", "txt", QVFF_RECURSE, "*");       // walked anew after Other
  engine_.MakeFileList();
  EXPECT_EQ(Listed(engine_), (std::set<std::string>{Listed8("Data\\sub\\a.txt"), Listed8("Other\\b.txt")}));
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesHolding(lines, "loading volume"), 4);
  EXPECT_EQ(LinesHolding(lines, "ERROR : m_qvfaGroup.FindFirstFile(m_hFileEntry,&m_qvFindFilter) return NULL"), 1);
  EXPECT_EQ(U8(engine_.m_strLastVolume.GetString()), Listed8("Data"));
}

TEST_F(FileListTest, ExclusionsCompareWholeComponentsAndExtensionsIgnoringCase) {
  for (const char* file : {"Data\\Temp\\a.txt", "Data\\Temp\\in\\b.txt", "Data\\Temporary\\c.txt", "Data\\keep\\x.txt",
                           "Data\\keep\\x.txt.bak", "Data\\r.doc", "Data\\s.Doc", "Data\\r.docx"}) {
    Write(file, 1);
  }
  CQVString folder(At("DATA\\TEMP\\").c_str());
  folder.MakeLower();  // the exclusion is given in another case than the disk's
  engine_.m_qvsaFoldersExcluded.Add(folder);
  engine_.m_qvsaFilesExcluded.Add(CQVString(At("data\\KEEP\\X.TXT").c_str()));
  engine_.m_qvsaExtensionsExcluded.Add(CQVString(QVT("DOC")));
  AddFilter("Data", "", QVFF_RECURSE, "*");
  engine_.MakeFileList();
  EXPECT_EQ(Listed(engine_), (std::set<std::string>{Listed8("Data\\Temporary\\c.txt"), Listed8("Data\\keep\\x.txt.bak"),
                                                    Listed8("Data\\r.docx")}));
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "iNbFoldersExclude: 1"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "iSizeExtensionsExclude: 1"), 1);
}

TEST_F(FileListTest, SearchesSkipWhatTheDiskNoLongerHoldsAndCountEveryAcceptedFile) {
  Write("Data\\real.txt", 3);
  ASSERT_NE(engine_.m_qvfaGroup.Add(At("Data").c_str()), 0u);
  _tagQVFA_FILEINFO ghost;
  std::memset(&ghost, 0, sizeof(ghost));
  ghost.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
  WString ghostPath = At("Data\\ghost.txt");
  std::memcpy(ghost.szName, ghostPath.c_str(), (ghostPath.size() + 1) * sizeof(WCHAR));
  ASSERT_NE(engine_.m_qvfaGroup.Add(nullptr, &ghost), 0u);
  ASSERT_NE(engine_.m_qvfaGroup.Add(At("Data\\real.txt").c_str()), 0u);

  // The all-zero search: every entry, folders and the drive included.
  int counter = 0;
  EXPECT_TRUE(engine_.PutFAIntoSTL(&counter));
  EXPECT_EQ(counter, 1);
  EXPECT_EQ(Listed(engine_), std::set<std::string>{Listed8("Data\\real.txt")});
  EXPECT_TRUE(engine_.PutFAIntoSTL(&counter));
  EXPECT_EQ(counter, 2);  // counted again, listed once
  EXPECT_EQ(engine_.m_setFileToBackup.size(), 1u);
  EXPECT_EQ(engine_.m_hFileEntry, nullptr);
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "insert1 : 0"), 2);
  EXPECT_EQ(LinesEndingWith(lines, "m_qvFindFilter.pszBasePath: (null)"), 2);
}

TEST_F(FileListTest, SearchRecordsOfTheCallerLeaveFiltersSizeAndHostAlone) {
  Write("Data\\a.txt", 1);
  Write("Data\\sub\\b.txt", 1);
  Write("Data\\sub\\c.bin", 1);
  Write("Data\\sub\\deeper\\d.bin", 1);
  AddFilter("Data", "", QVFF_RECURSE, "*");
  WString data = At("Data"), sub = At("Data\\sub");
  QV_FINDFILTER texts, binaries;
  std::memset(&texts, 0, sizeof(texts));
  std::memset(&binaries, 0, sizeof(binaries));
  texts.dwFlags = QVFF_RECURSE;
  texts.pszBasePath = data.c_str();
  texts.pszFileMask = QVT("*.txt");
  texts.pszExtensionMask = QVT("");  // empty: no extension condition
  binaries.pszBasePath = sub.c_str();  // children only: no QVFF_RECURSE
  binaries.pszExtensionMask = QVT("bin");
  std::vector<QV_FINDFILTER> records = {texts, binaries};

  EXPECT_EQ(engine_.BuildListOfFileFromFilters(records), 0u);
  EXPECT_EQ(Listed(engine_), (std::set<std::string>{Listed8("Data\\a.txt"), Listed8("Data\\sub\\b.txt"),
                                                    Listed8("Data\\sub\\c.bin")}));
  EXPECT_EQ(engine_.m_pFilterManager->m_vecFilters.size(), 1u);
  EXPECT_EQ(engine_.m_i64SizeOfBackup, 0);
  EXPECT_TRUE(recorder_.codes.empty());
  EXPECT_TRUE(engine_.m_bVolumeLoaded);
  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "pszBasePath non vide"), 2);
  EXPECT_EQ(LinesEndingWith(lines, "pszExtensionMask non vide"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "m_qvFindFilter.pszExtensionMask: bin"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "m_currentDiskScanned: " + U8(root_.substr(0, 3))), 2);
  EXPECT_EQ(LinesEndingWith(lines, "m_qvFindFilter.pszFileMask: *.txt"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "m_qvFindFilter.pszFileMask: (null)"), 1);
  EXPECT_EQ(LinesHolding(lines, "loading volume"), 1);  // the second folder lies in the first
}

TEST_F(FileListTest, PathsAddedDirectlyTakeNoExclusionsAndSizesAddUp) {
  Write("Data\\Desktop.ini", 3);
  Write("Data\\sub\\n.txt", 4);
  Write("Data\\sub\\deeper\\m.bin", 5);
  tree_.MakeDir("Data/empty");
  engine_.m_qvsaExtensionsExcluded.Add(CQVString(QVT("txt")));
  WString desktop = At("Data\\Desktop.ini"), missing = At("Data\\missing.txt");
  EXPECT_EQ(engine_.InsertElement(desktop.c_str()), 0u);
  EXPECT_EQ(engine_.InsertElement(desktop.c_str()), 0u);
  EXPECT_EQ(engine_.InsertElement(missing.c_str()), 5u);
  engine_.ScanAndAddFolder(CQVString((At("Data") + W("\\\\")).c_str()));
  engine_.ScanAndAddFolder(CQVString(At("Nowhere").c_str()));
  std::set<std::string> expected = {Listed8("Data\\Desktop.ini"), Listed8("Data\\sub\\n.txt"),
                                    Listed8("Data\\sub\\deeper\\m.bin")};
#ifndef _WIN32
  expected.insert(Listed8("Data\\empty"));  // a folder of its own where folders are items
#endif
  EXPECT_EQ(Listed(engine_), expected);

  // Sizes add to what is there; a path gone from the disk counts nothing.
  engine_.m_i64SizeOfBackup = 100;
  EXPECT_FALSE(engine_.SizeOfBackup());
  EXPECT_EQ(engine_.m_i64SizeOfBackup, 112);
  fs::remove(tree_.path() / "Data" / "sub" / "n.txt");
  engine_.SizeOfBackup();
  EXPECT_EQ(engine_.m_i64SizeOfBackup, 120);
  EXPECT_EQ(engine_.ClearListofFileToBackup(), 0u);
  EXPECT_TRUE(engine_.m_setFileToBackup.empty());
  EXPECT_EQ(engine_.m_i64SizeOfBackup, 120);

  std::vector<WString> lines = log_.Body();
  EXPECT_EQ(LinesEndingWith(lines, "ENTER BOOL CQVBackupEngine::InsertElement(LPCTSTR lpElement : " + U8(missing) + ")"),
            1);
  EXPECT_EQ(LinesEndingWith(lines, "BOOL CQVBackupEngine::InsertElement : RETURNED 5"), 1);
  EXPECT_EQ(LinesEndingWith(lines, "File to backup : " + Listed8("Data\\sub\\deeper\\m.bin")), 1);
  EXPECT_EQ(LinesEndingWith(lines, "ENTER CQVBackupEngine::SizeOfBackup()"), 2);
  EXPECT_EQ(LinesEndingWith(lines, "ENTER CQVBackupEngine::ClearListofFileToBackup"), 1);
}

// The rule itself, on texts alone.
CQVStringArray ArrayOf(std::initializer_list<const char*> texts) {
  CQVStringArray array(4);
  for (const char* text : texts) array.Add(CQVString(W(text).c_str()));
  return array;
}

TEST(ExclusionRulesTest, PathsByWholeComponentsExtensionsByLastComponent) {
  qv::engine::ExclusionRules rules(ArrayOf({"C:\\Users\\X\\Temp", "D:\\", "", "E:\\Cache\\\\"}),
                                   ArrayOf({"c:\\data\\secret.TXT"}), ArrayOf({"DOC", ".jpg", ""}));
  struct Case {
    const char* path;
    bool excluded;
  } cases[] = {
      {"c:\\users\\x\\temp", true},          {"C:\\Users\\X\\TEMP\\a.txt", true},
      {"C:\\Users\\X\\Temporary\\b.txt", false}, {"C:\\Users\\X\\Tem", false},
      {"D:\\anything\\at\\all.bin", true},    {"E:\\cache\\x.bin", true},
      {"E:\\Cached\\x.bin", false},           {"C:\\Data\\Secret.txt", true},
      {"C:\\Data\\Secret.txt.bak", false},    {"C:\\a.doc", true},
      {"C:\\a.Doc", true},                    {"C:\\a.docx", false},
      {"C:\\photo.JPG", true},                {"C:\\report.doc\\notes", false},
      {"C:\\no_extension", false},            {"C:\\ends.", false},
  };
  for (const Case& c : cases) EXPECT_EQ(rules.Excludes(CQVString(W(c.path).c_str())), c.excluded) << c.path;
  // Nothing is excluded by empty lists, not even a path without a drive.
  qv::engine::ExclusionRules none(ArrayOf({}), ArrayOf({}), ArrayOf({}));
  EXPECT_FALSE(none.Excludes(CQVString(QVT("C:\\a.doc"))));
}

TEST(ExclusionRulesTest, SystemFileNamesAreWholeLoweredNames) {
  using qv::engine::IsSystemFileName;
  for (const char* name : {"desktop.ini", "ntuser.dat", "$mft", "logfile", "system volume information",
                           "er00000000000000000002", "$txflogcontainer00000000000000000001"}) {
    EXPECT_TRUE(IsSystemFileName(W(name))) << name;
  }
  for (const char* name : {"Desktop.ini", "$logfile", "desktop.ini.bak", "er0000000000000000000", "$dollar.txt", ""}) {
    EXPECT_FALSE(IsSystemFileName(W(name))) << name;
  }
}

}  // namespace
}  // namespace qvtest
