// Filters: what CreateFilters builds, how filters are listed, read and
// cleared, and the trace lines of those operations.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "engine/engine_log_capture.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtest {
namespace {

class EngineFiltersTest : public ::testing::Test {
 protected:
  void AddThree() {
    ASSERT_TRUE(engine_.CreateFilters(QVT("docs"), QVT("C:\\Docs"), QVT("doc"), QVFF_RECURSE, QVT("*")));
    ASSERT_TRUE(engine_.CreateFilters(QVT("pics"), QVT("D:\\Pics"), QVT("jp*"), QVFF_NOMETAFILES, QVT("img?")));
    ASSERT_TRUE(engine_.CreateFilters(QVT("all"), QVT(""), QVT("*"), 0, QVT("*")));
  }
  int Count() {
    int count = -1;
    EXPECT_EQ(engine_.GetNbFilters(count), 0u);
    return count;
  }

  CQVBackupEngine engine_{nullptr};
};

TEST_F(EngineFiltersTest, WithoutFiltersNothingIsListed) {
  EXPECT_EQ(Count(), 0);
  std::vector<QV_FINDFILTER> filters(1);
  filters[0].dwFlags = 0x77;
  EXPECT_TRUE(engine_.GetFilters(filters));
  ASSERT_EQ(filters.size(), 1u);
  EXPECT_EQ(filters[0].dwFlags, 0x77u);
  EXPECT_FALSE(engine_.ClearFilters());
  EXPECT_THROW(engine_.GetFilterInfosAt(0), std::out_of_range);
}

TEST_F(EngineFiltersTest, SearchRecordPointsAtTheFiltersOwnMasks) {
  AddThree();
  std::vector<QV_FINDFILTER> filters(1);
  EXPECT_TRUE(engine_.GetFilters(filters));
  ASSERT_EQ(filters.size(), 4u);  // appended after what was there

  const QV_FINDFILTER& pics = filters[2];
  EXPECT_EQ(pics.dwFlags, static_cast<DWORD>(QVFF_NOMETAFILES));
  EXPECT_EQ(WString(pics.pszBasePath), W("D:\\Pics"));
  EXPECT_EQ(WString(pics.pszExtensionMask), W("jp*"));
  EXPECT_EQ(WString(pics.pszFileMask), W("img?"));
  // Everything else of the record is zero.
  QV_FINDFILTER rest = pics;
  rest.dwFlags = 0;
  rest.pszBasePath = rest.pszExtensionMask = rest.pszFileMask = nullptr;
  QV_FINDFILTER zero;
  std::memset(&zero, 0, sizeof(zero));
  EXPECT_EQ(std::memcmp(&rest, &zero, sizeof(zero)), 0);

  // Copies share the stored filter's strings.
  CQVFilter copy = engine_.GetFilterInfosAt(1);
  EXPECT_EQ(WString(copy.m_strName), W("pics"));
  EXPECT_EQ(copy.m_pstrFileMask, engine_.m_pFilterManager->m_vecFilters[1].m_pstrFileMask);
  EXPECT_EQ(pics.pszFileMask, copy.m_pstrFileMask->GetString());
}

TEST_F(EngineFiltersTest, FilterInfosReadOneFilterAndRefuseIndexesOutside) {
  AddThree();
  CQVString name, base, extension, mask;
  EXPECT_EQ(engine_.GetFilterInfos(1, name, base, extension, mask), 0u);
  EXPECT_EQ(WString(name), W("pics"));
  EXPECT_EQ(WString(base), W("D:\\Pics"));
  EXPECT_EQ(WString(extension), W("jp*"));
  EXPECT_EQ(WString(mask), W("img?"));

  for (int outside : {3, -1}) {
    SCOPED_TRACE(outside);
    EXPECT_THROW(engine_.GetFilterInfos(outside, name, base, extension, mask), std::out_of_range);
    EXPECT_THROW(engine_.GetFilterInfosAt(outside), std::out_of_range);
    EXPECT_EQ(WString(name), W("pics"));  // nothing changed
  }
  EXPECT_EQ(Count(), 3);
}

TEST_F(EngineFiltersTest, EmptyBasePathAndNullMasks) {
  AddThree();
  CQVFilter all = engine_.GetFilterInfosAt(2);
  EXPECT_EQ(all.m_pstrBasePath, nullptr);
  EXPECT_EQ(all.m_findFilter.pszBasePath, nullptr);
  CQVString name, base = QVT("stale"), extension, mask;
  engine_.GetFilterInfos(2, name, base, extension, mask);
  EXPECT_TRUE(base.IsEmpty());

  // A null mask text is an empty mask, never a null pointer in the record.
  EXPECT_TRUE(engine_.CreateFilters(nullptr, QVT("C:\\"), nullptr, 0, nullptr));
  CQVFilter nulls = engine_.GetFilterInfosAt(3);
  EXPECT_TRUE(nulls.m_strName.IsEmpty());
  ASSERT_NE(nulls.m_findFilter.pszExtensionMask, nullptr);
  ASSERT_NE(nulls.m_findFilter.pszFileMask, nullptr);
  EXPECT_EQ(nulls.m_findFilter.pszExtensionMask[0], 0);
  EXPECT_EQ(nulls.m_findFilter.pszFileMask[0], 0);
}

TEST_F(EngineFiltersTest, ClearingEmptiesTheListAndForgetsTheSearchRecord) {
  AddThree();
  EXPECT_TRUE(engine_.CreateFilterByFolder(QVT("f"), QVT("C:\\Docs")));
  EXPECT_FALSE(engine_.CreateFilterByExtension(QVT("e"), QVT("txt"), nullptr));
  EXPECT_EQ(Count(), 3);

  static const WCHAR kOwnText[] = QVT("own");
  engine_.m_qvFindFilter = engine_.m_pFilterManager->m_vecFilters[0].m_findFilter;
  EXPECT_FALSE(engine_.ClearFilters());
  EXPECT_EQ(Count(), 0);
  // It pointed at freed masks: it is reset rather than left dangling.
  EXPECT_EQ(engine_.m_qvFindFilter.pszFileMask, nullptr);
  EXPECT_EQ(engine_.m_qvFindFilter.dwFlags, 0u);

  // A record on texts of its own survives the clearing.
  AddThree();
  engine_.m_qvFindFilter.pszFileMask = kOwnText;
  EXPECT_EQ(engine_.DeleteFilters(), 0u);
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(engine_.m_qvFindFilter.pszFileMask, kOwnText);
}

// ---- Trace lines ---------------------------------------------------------------

TEST_F(EngineFiltersTest, DeleteFiltersTracesTheOldCountInsideItsOwnTrace) {
  AddThree();
  CapturedLog log;
  ASSERT_TRUE(log.IsOpen());
  EXPECT_EQ(engine_.DeleteFilters(), 0u);
  std::vector<WString> expected = {
      W("  CQVBackupEngine::DeleteFilters : ENTER CQVBackupEngine::DeleteFilters"),
      W("    CQVFilterManager::GetSizeFilter : ENTER CQVFilterManager::GetSizeFilter()"),
      W("    CQVFilterManager::GetSizeFilter : RETURNED 3"),
      W("    "),
      W("  CQVBackupEngine::DeleteFilters : RETURNED 0"),
      W("  "),
  };
  EXPECT_EQ(log.Body(), expected);
  EXPECT_EQ(Count(), 0);
}

// The operations that would leave an unpaired line write a pair, so that a
// caller's trace keeps its depth and name around them.
TEST_F(EngineFiltersTest, EveryTracedOperationLeavesTheCallersTraceIntact) {
  AddThree();
  CapturedLog log;
  ASSERT_TRUE(log.IsOpen());
  theLog.Enter(QVT("Host::Run()"));
  engine_.CreateFilterByFolder(QVT("f"), QVT("C:\\"));
  engine_.CreateFilterByExtension(QVT("e"), QVT("txt"), nullptr);
  CQVString name, base, extension, mask;
  engine_.GetFilterInfos(0, name, base, extension, mask);
  EXPECT_THROW(engine_.GetFilterInfos(5, name, base, extension, mask), std::out_of_range);
  engine_.GetFilterInfosAt(0);
  int count = 0;
  engine_.GetNbFilters(count);
  theLog.Returned(7);

  const WString host = W("  Host::Run : ");
  const WString manager = W("    CQVFilterManager::GetSizeFilter : ");
  std::vector<WString> expected = {
      host + W("ENTER Host::Run()"),
      W("    CQVBackupEngine::CreateFilterByFolder : ENTER CQVBackupEngine::CreateFilterByFolder"),
      W("    CQVBackupEngine::CreateFilterByFolder : RETURNED 1"),
      W("    "),
      W("    CQVBackupEngine::CreateFilterByExtension : ENTER CQVBackupEngine::CreateFilterByExtension()"),
      W("    CQVBackupEngine::CreateFilterByExtension : RETURNED 0"),
      W("    "),
      W("    CQVBackupEngine::GetFilterInfos : ENTER CQVBackupEngine::GetFilterInfos(0)"),
      W("    CQVBackupEngine::GetFilterInfos : RETURNED 0"),
      W("    "),
      W("    CQVBackupEngine::GetFilterInfos : ENTER CQVBackupEngine::GetFilterInfos(5)"),
      W("    CQVBackupEngine::GetFilterInfos : EXIT"),
      W("    "),
      manager + W("ENTER CQVFilterManager::GetSizeFilter()"),
      manager + W("RETURNED 3"),
      W("    "),
      W("    CQVBackupEngine::GetNbFilters : ENTER CQVBackupEngine::GetNbFilters()"),
      W("      CQVFilterManager::GetSizeFilter : ENTER CQVFilterManager::GetSizeFilter()"),
      W("      CQVFilterManager::GetSizeFilter : RETURNED 3"),
      W("      "),
      W("    CQVBackupEngine::GetNbFilters : RETURNED 0"),
      W("    "),
      host + W("RETURNED 7"),
      W("  "),
  };
  EXPECT_EQ(log.Body(), expected);
}

}  // namespace
}  // namespace qvtest
