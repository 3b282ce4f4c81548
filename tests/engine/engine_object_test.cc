// The engine object: construction and its trace, the progress percentage,
// callbacks, the restore root, and copies that own their filters.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "engine/engine_file_list_test_util.h"
#include "engine/engine_log_capture.h"
#include "platform/file_system.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtest {
namespace {

// Opens the protected members to the tests.
struct EngineProbe : CQVBackupEngine {
  using CQVBackupEngine::CalculProgress;
};

bool IsAllZero(const QV_FINDFILTER& filter) {
  QV_FINDFILTER zero;
  std::memset(&zero, 0, sizeof(zero));
  return std::memcmp(&filter, &zero, sizeof(zero)) == 0;
}

std::vector<BYTE> ImageOf(CQVFileArray& index) {
  DWORD size = 0;
  const BYTE* image = index.GetRawData(&size);
  return std::vector<BYTE>(image, image + size);
}

TEST(EngineProgressTest, PercentageIsTruncatedClampedAndWraps) {
  EngineProbe engine;
  struct Case {
    ULONGLONG done, total;
    int expected;
  } cases[] = {
      {5, 0, 0}, {1, 3, 33}, {7, 5, 100}, {0, 10, 0}, {10, 10, 100}, {2, 3, 66},
      // done x 100 wraps modulo 2^64: 2^62 x 100 = 25 x 2^64, which is 0.
      {1ull << 62, 1, 0},
      // Only the low 32 bits of the quotient count: 0x1'0000'0032 gives 50...
      {0x100000032ull, 100, 50},
      // ...and 0x8000'0000 reads as a negative number, hence 0.
      {0x80000000ull, 100, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(engine.CalculProgress(c.done, c.total), c.expected) << c.done << " of " << c.total;
  }
}

TEST(EngineConstructionTest, DefaultEngineKnowsTheProgramFolderAndStartsEmpty) {
  CQVBackupEngine engine;
  WString program;
  ASSERT_TRUE(qv::platform::GetExecutablePath(&program));
  WString folder(engine.m_strEnvironementPath);
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), QVT('\\'));
  // The folder is the program's path up to its last separator.
  EXPECT_EQ(program.compare(0, folder.size(), folder), 0);
  EXPECT_EQ(program.find(QVT('\\'), folder.size()), WString::npos);

  EXPECT_TRUE(engine.m_pFilterManager != nullptr && engine.m_pFilterManager->m_vecFilters.empty());
  EXPECT_TRUE(IsAllZero(engine.m_qvFindFilter));
  EXPECT_FALSE(engine.m_bCancel || engine.m_bVolumeLoaded || engine.m_pCallBack || engine.m_pLstIni);
  EXPECT_EQ(WString(engine.GetRestoreRoot()), W("c:\\"));
}

TEST(EngineConstructionTest, OnlyTheDefaultConstructorTracesItself) {
  CapturedLog log;
  ASSERT_TRUE(log.IsOpen());
  MessageRecorder recorder;
  {
    CQVBackupEngine quiet(&recorder);
    EXPECT_EQ(quiet.m_pCallBack, &recorder);
    EXPECT_TRUE(quiet.m_strEnvironementPath.IsEmpty());
  }
  CQVBackupEngine engine;
  const WString name = W("  CQVBackupEngine::CQVBackupEngine : ");
  std::vector<WString> expected = {
      name + W("ENTER CQVBackupEngine::CQVBackupEngine(void)"),
      name + W("CQVBackupEngine - Environment variable  : m_strEnvironementPath = ") +
          WString(engine.m_strEnvironementPath),
      name + W("RETURNED CQVBackupEngine::CQVBackupEngine"),
      W("  "),
  };
  EXPECT_EQ(log.Body(), expected);
  EXPECT_TRUE(recorder.codes.empty());
}

TEST(EngineCallbackTest, MessagesGoOnlyToTheCallbackSetLast) {
  MessageRecorder first, second;
  CQVBackupEngine engine(&first);
  engine.SetpCallBack(&second);
  engine.MakeFileList();
  EXPECT_TRUE(first.codes.empty());
  ASSERT_FALSE(second.codes.empty());
  EXPECT_EQ(second.codes.front(), static_cast<DWORD>(ENGINE_MSG_SCAN_BEGIN));

  // Without a callback the list is built all the same and nothing is sent.
  second.codes.clear();
  engine.SetpCallBack(nullptr);
  engine.MakeFileList();
  EXPECT_TRUE(second.codes.empty());
}

// ---- Copies ----------------------------------------------------------------

class EngineCopyTest : public ::testing::Test {
 protected:
  // Three filters, a search record on the second one's masks, and a little
  // of every other kind of state.
  void Fill(CQVBackupEngine& engine) {
    engine.CreateFilters(QVT("docs"), QVT("C:\\Docs"), QVT("doc"), QVFF_RECURSE, QVT("*"));
    engine.CreateFilters(QVT("pics"), QVT(""), QVT("jpg"), 0, QVT("img*"));
    engine.CreateFilters(QVT("music"), QVT("D:\\Music"), QVT("mp3"), QVFF_RECURSE, QVT("*"));
    engine.m_qvFindFilter = engine.m_pFilterManager->m_vecFilters[1].m_findFilter;
    engine.m_qvsaFoldersExcluded.Add(QVT("C:\\Windows"));
    engine.m_strMultiplePartScan = QVT("CD");
    dir_.WriteFile("a.txt", 10);
    ASSERT_NE(engine.m_qvfaGroup.Add((dir_.DrivePath() + W("\\a.txt")).c_str()), 0u);
    engine.SetRestoreRoot(QVT("E:\\Back"));
    image_ = ImageOf(engine.m_qvfaGroup);
  }

  // `copy` holds the filters with masks of its own and its search record
  // on them; called after the source's filters were freed.
  void ExpectOwnState(CQVBackupEngine& copy) {
    const auto& filters = copy.m_pFilterManager->m_vecFilters;
    ASSERT_EQ(filters.size(), 3u);
    for (const CQVFilter& filter : filters) {
      EXPECT_EQ(filter.m_findFilter.pszFileMask, filter.m_pstrFileMask->GetString());
      EXPECT_EQ(filter.m_findFilter.pszExtensionMask, filter.m_pstrExtensionMask->GetString());
    }
    EXPECT_EQ(WString(filters[2].m_findFilter.pszBasePath), W("D:\\Music"));
    EXPECT_EQ(filters[2].m_findFilter.dwFlags, static_cast<DWORD>(QVFF_RECURSE));
    EXPECT_EQ(copy.m_qvFindFilter.pszFileMask, filters[1].m_pstrFileMask->GetString());
    EXPECT_EQ(copy.m_qvFindFilter.pszBasePath, nullptr);
    EXPECT_EQ(WString(copy.m_qvsaFoldersExcluded[0]), W("C:\\Windows"));
    EXPECT_EQ(copy.m_strMultiplePartScan, W("CD"));
    EXPECT_EQ(ImageOf(copy.m_qvfaGroup), image_);
    EXPECT_EQ(WString(copy.GetRestoreRoot()), W("E:\\Back"));
  }

  TempDir dir_;
  std::vector<BYTE> image_;
};

TEST_F(EngineCopyTest, CopyOwnsItsFiltersAndOutlivesTheSource) {
  MessageRecorder recorder;
  auto source = std::make_unique<CQVBackupEngine>(&recorder);
  Fill(*source);
  CQVBackupEngine copy(*source);
  EXPECT_EQ(copy.m_pCallBack, &recorder);
  // Under AddressSanitizer a shared mask would be read after being freed.
  source->ClearFilters();
  source.reset();
  ExpectOwnState(copy);
}

TEST_F(EngineCopyTest, AssignmentReplacesFiltersAndIsSafeOnItself) {
  CQVBackupEngine source(nullptr);
  Fill(source);
  CQVBackupEngine target(nullptr);
  target.CreateFilters(QVT("old"), QVT("Z:\\Old"), QVT("tmp"), 0, QVT("*"));
  target = source;
  source.ClearFilters();
  ExpectOwnState(target);
  target = static_cast<const CQVBackupEngine&>(target);
  ExpectOwnState(target);
}

TEST_F(EngineCopyTest, SearchRecordNotOnTheFiltersIsCopiedAsItIs) {
  static const WCHAR kOutside[] = QVT("outside");
  CQVBackupEngine source(nullptr);
  source.CreateFilters(QVT("docs"), QVT("C:\\Docs"), QVT("doc"), 0, QVT("*"));
  source.m_qvFindFilter.pszFileMask = kOutside;
  EXPECT_EQ(CQVBackupEngine(source).m_qvFindFilter.pszFileMask, kOutside);
}

}  // namespace
}  // namespace qvtest
