// Filters: the filter record, the manager that keeps them in order, and the
// engine's operations that create, list, read and clear them.
//
// The filter stored in the manager owns its three masks through plain
// pointers (copies handed out share them), so every path that empties the
// manager frees them first.
#include <cstring>
#include <memory>
#include <stdexcept>

#include "engine/engine_filters.h"
#include "log/qv_log.h"
#include "qvbackup/qvbackupengine.h"

namespace {

// A new string holding `text` (null reads as empty), or null when `text` is
// empty and `emptyIsNull` says an empty text means none.
std::unique_ptr<CQVString> NewMask(const WCHAR* text, bool emptyIsNull = false) {
  if (emptyIsNull && (text == nullptr || text[0] == 0)) return nullptr;
  return std::make_unique<CQVString>(text);
}

const WCHAR* TextOf(const CQVString* mask) { return mask != nullptr ? mask->GetString() : nullptr; }

// Points the filter's search record at its own masks.
void PointAtMasks(CQVFilter& filter) {
  filter.m_findFilter.pszBasePath = TextOf(filter.m_pstrBasePath);
  filter.m_findFilter.pszExtensionMask = TextOf(filter.m_pstrExtensionMask);
  filter.m_findFilter.pszFileMask = TextOf(filter.m_pstrFileMask);
}

// The three masks of a filter in the making, freed unless handed over.
struct PendingMasks {
  std::unique_ptr<CQVString> basePath;
  std::unique_ptr<CQVString> extensionMask;
  std::unique_ptr<CQVString> fileMask;

  void MoveInto(CQVFilter& filter) {
    filter.m_pstrBasePath = basePath.get();
    filter.m_pstrExtensionMask = extensionMask.get();
    filter.m_pstrFileMask = fileMask.get();
    PointAtMasks(filter);
  }
  void Release() {
    basePath.release();
    extensionMask.release();
    fileMask.release();
  }
};

// Appends `filter`, whose masks are held by `masks`, to `manager`; the
// manager's filter owns them afterwards. On failure they are freed.
void AppendOwning(CQVFilterManager& manager, const CQVFilter& filter, PendingMasks& masks) {
  manager.Append(filter);
  masks.Release();
}

// The text of `filter`'s mask that is `text`, mapped onto `other`; null when
// `text` is none of the three.
const WCHAR* SameMaskIn(const CQVFilter& filter, const CQVFilter& other, const WCHAR* text) {
  if (TextOf(filter.m_pstrBasePath) == text) return TextOf(other.m_pstrBasePath);
  if (TextOf(filter.m_pstrExtensionMask) == text) return TextOf(other.m_pstrExtensionMask);
  if (TextOf(filter.m_pstrFileMask) == text) return TextOf(other.m_pstrFileMask);
  return nullptr;
}

const WCHAR* Retarget(const WCHAR* text, const CQVFilterManager& from, const CQVFilterManager& to) {
  if (text == nullptr) return nullptr;
  for (std::size_t i = 0; i < from.m_vecFilters.size() && i < to.m_vecFilters.size(); ++i) {
    if (const WCHAR* mapped = SameMaskIn(from.m_vecFilters[i], to.m_vecFilters[i], text)) return mapped;
  }
  return text;
}

bool IsMaskText(const WCHAR* text, const CQVFilterManager& manager) {
  if (text == nullptr) return false;
  for (const CQVFilter& filter : manager.m_vecFilters) {
    if (SameMaskIn(filter, filter, text) != nullptr) return true;
  }
  return false;
}

}  // namespace

// ---- CQVFilter and CQVFilterManager -----------------------------------------

CQVFilter::CQVFilter() : m_pstrExtensionMask(nullptr), m_pstrBasePath(nullptr), m_pstrFileMask(nullptr) {
  std::memset(&m_findFilter, 0, sizeof(m_findFilter));
}

int CQVFilterManager::GetSizeFilter() {
  theLog.Enter(QVT("CQVFilterManager::GetSizeFilter()"));
  return theLog.Returned(static_cast<int>(m_vecFilters.size()));
}

CQVFilter CQVFilterManager::GetAt(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= m_vecFilters.size()) {
    throw std::out_of_range("CQVFilterManager::GetAt: no filter at this index");
  }
  return m_vecFilters[static_cast<std::size_t>(index)];
}

void CQVFilterManager::Append(const CQVFilter& filter) { m_vecFilters.push_back(filter); }

void CQVFilterManager::EraseAll() { m_vecFilters.clear(); }

// ---- What the engine object uses ---------------------------------------------

namespace qv::engine {

void FreeFilterMasks(CQVFilterManager& manager) {
  for (CQVFilter& filter : manager.m_vecFilters) {
    delete filter.m_pstrBasePath;
    delete filter.m_pstrExtensionMask;
    delete filter.m_pstrFileMask;
  }
  manager.EraseAll();
}

void FilterManagerDeleter::operator()(CQVFilterManager* manager) const {
  if (manager == nullptr) return;
  FreeFilterMasks(*manager);
  delete manager;
}

FilterManagerPtr CopyFilterManager(const CQVFilterManager& source) {
  FilterManagerPtr copy(new CQVFilterManager);
  copy->m_vecFilters.reserve(source.m_vecFilters.size());
  for (const CQVFilter& filter : source.m_vecFilters) {
    PendingMasks masks;
    if (filter.m_pstrBasePath != nullptr) masks.basePath = NewMask(*filter.m_pstrBasePath);
    if (filter.m_pstrExtensionMask != nullptr) masks.extensionMask = NewMask(*filter.m_pstrExtensionMask);
    if (filter.m_pstrFileMask != nullptr) masks.fileMask = NewMask(*filter.m_pstrFileMask);
    CQVFilter own = filter;
    masks.MoveInto(own);
    AppendOwning(*copy, own, masks);
  }
  return copy;
}

QV_FINDFILTER RetargetFindFilter(const QV_FINDFILTER& filter, const CQVFilterManager& from,
                                 const CQVFilterManager& to) {
  QV_FINDFILTER result = filter;
  result.pszBasePath = Retarget(filter.pszBasePath, from, to);
  result.pszExtensionMask = Retarget(filter.pszExtensionMask, from, to);
  result.pszFileMask = Retarget(filter.pszFileMask, from, to);
  return result;
}

bool PointsIntoFilters(const QV_FINDFILTER& filter, const CQVFilterManager& manager) {
  return IsMaskText(filter.pszBasePath, manager) || IsMaskText(filter.pszExtensionMask, manager) ||
         IsMaskText(filter.pszFileMask, manager);
}

}  // namespace qv::engine

// ---- The engine's filter operations --------------------------------------------

BOOL CQVBackupEngine::CreateFilters(LPCWSTR pszName, CQVString strBasePath, LPCWSTR pszExtensionMask,
                                    DWORD dwFlags, LPCWSTR pszFileMask) {
  CQVFilter filter;
  filter.m_strName = pszName;
  PendingMasks masks;
  masks.basePath = NewMask(strBasePath, true);
  masks.extensionMask = NewMask(pszExtensionMask);
  masks.fileMask = NewMask(pszFileMask);
  masks.MoveInto(filter);
  filter.m_findFilter.dwFlags = dwFlags;
  AppendOwning(*m_pFilterManager, filter, masks);
  return TRUE;
}

// Creates nothing. Its entry line gets a matching leaving line so that the
// lines logged after it keep their caller's indentation and name.
BOOL CQVBackupEngine::CreateFilterByFolder(LPCWSTR, LPCWSTR) {
  theLog.Enter(QVT("CQVBackupEngine::CreateFilterByFolder"));
  return theLog.Returned(TRUE);
}

// Creates nothing. Traced as a pair: a leaving line alone would end the
// caller's traced operation in the log.
BOOL CQVBackupEngine::CreateFilterByExtension(LPCWSTR, LPCWSTR, CQVString*) {
  theLog.Enter(QVT("CQVBackupEngine::CreateFilterByExtension()"));
  return theLog.Returned(FALSE);
}

BOOL CQVBackupEngine::GetFilters(std::vector<QV_FINDFILTER>& filters) {
  for (const CQVFilter& filter : m_pFilterManager->m_vecFilters) filters.push_back(filter.m_findFilter);
  return TRUE;
}

DWORD CQVBackupEngine::GetNbFilters(int& count) {
  theLog.Enter(QVT("CQVBackupEngine::GetNbFilters()"));
  count = m_pFilterManager->GetSizeFilter();
  return theLog.Returned(static_cast<DWORD>(0));
}

CQVFilter CQVBackupEngine::GetFilterInfosAt(int index) {
  m_pFilterManager->GetSizeFilter();
  return m_pFilterManager->GetAt(index);
}

DWORD CQVBackupEngine::GetFilterInfos(int index, CQVString& name, CQVString& basePath, CQVString& extensionMask,
                                      CQVString& fileMask) {
  theLog.Enter(QVT("CQVBackupEngine::GetFilterInfos(%d)"), index);
  CQVFilter filter;
  try {
    filter = m_pFilterManager->GetAt(index);
  } catch (const std::out_of_range&) {
    theLog.Exit();
    throw;
  }
  name = filter.m_strName;
  basePath = TextOf(filter.m_pstrBasePath);
  extensionMask = TextOf(filter.m_pstrExtensionMask);
  fileMask = TextOf(filter.m_pstrFileMask);
  return theLog.Returned(static_cast<DWORD>(0));
}

// The engine's own search record must not be left pointing at freed masks.
BOOL CQVBackupEngine::ClearFilters() {
  m_pFilterManager->GetSizeFilter();
  if (qv::engine::PointsIntoFilters(m_qvFindFilter, *m_pFilterManager)) {
    std::memset(&m_qvFindFilter, 0, sizeof(m_qvFindFilter));
  }
  qv::engine::FreeFilterMasks(*m_pFilterManager);
  return FALSE;
}

DWORD CQVBackupEngine::DeleteFilters() {
  theLog.Enter(QVT("CQVBackupEngine::DeleteFilters"));
  ClearFilters();
  return theLog.Returned(static_cast<DWORD>(0));
}
