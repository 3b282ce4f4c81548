// Finding a child by name. Children form a linked list in the order they
// were added, and small folders are simply walked, comparing name keys
// before names. A folder found to hold many children gets a table from name
// key to child, kept up to date as children are added, so that adding the
// n-th file of a folder costs no walk past the n-1 before it.
//
// Names match ignoring the case of a to z, but a folder read from a file
// system that tells case apart may hold two children whose names differ
// only in case: a child named exactly as asked is preferred to one that
// only matches ignoring case, and an exact-case search takes no other.
#include <algorithm>
#include <iterator>

#include "fileindex/entry_name.h"
#include "fileindex/name_crc.h"
#include "qvbackup/qvfilearray.h"

using qv::fileindex::EqualNoCaseAZ;

namespace {

// Folders with more children than this get a lookup table.
constexpr DWORD kLargeFolder = 32;

}  // namespace

namespace {

bool EqualExactly(const qv::fileindex::EntryName& name, LPCWSTR text, DWORD length) {
  return name.length() == length && std::equal(text, text + length, name.c_str());
}

}  // namespace

DWORD CQVFileArray::ScanChildren(LPCWSTR pszName, DWORD dwNameLength, DWORD dwCRC, DWORD dwParent,
                                 bool bExactCase, DWORD* pdwChildren) {
  // The walk is bounded by the entry count so that a link cycle cannot hold it.
  DWORD steps = m_dwEntryCount + 1;
  DWORD children = 0;
  DWORD folded = 0;  // the first child that matches ignoring case only
  for (DWORD child = GetEntry(dwParent)->dwFirstChild; child != 0 && steps-- != 0;
       child = GetEntry(child)->dwNextSibling) {
    if (!IsValidIndex(child)) break;
    ++children;
    QVFA_INDEXENTRY* entry = GetEntry(child);
    if (entry->dwNameCRC != dwCRC) continue;
    qv::fileindex::EntryName name(entry);
    if (EqualExactly(name, pszName, dwNameLength)) return child;
    if (!bExactCase && folded == 0 && EqualNoCaseAZ(name.c_str(), name.length(), pszName, dwNameLength)) {
      folded = child;
    }
  }
  *pdwChildren = children;
  return folded;
}

void CQVFileArray::BuildChildLookup(DWORD dwParent) {
  auto& table = m_mapLargeFolders[dwParent];
  DWORD steps = m_dwEntryCount + 1;
  for (DWORD child = GetEntry(dwParent)->dwFirstChild; child != 0 && steps-- != 0;
       child = GetEntry(child)->dwNextSibling) {
    DWORD crc = GetEntry(child)->dwNameCRC;  // a copy: the field is packed
    table.emplace(crc, child);
  }
}

void CQVFileArray::RememberChild(DWORD dwParent, DWORD dwCRC, DWORD dwChild) {
  if (m_mapLargeFolders.empty()) return;
  auto folder = m_mapLargeFolders.find(dwParent);
  if (folder != m_mapLargeFolders.end()) folder->second.emplace(dwCRC, dwChild);
}

DWORD CQVFileArray::FindChildWithCRC(LPCWSTR pszName, DWORD dwNameLength, DWORD dwCRC,
                                     DWORD dwParent, bool bExactCase) {
  auto folder = m_mapLargeFolders.find(dwParent);
  DWORD children = 0;
  if (folder == m_mapLargeFolders.end()) {
    DWORD found = ScanChildren(pszName, dwNameLength, dwCRC, dwParent, bExactCase, &children);
    if (found == 0 && children > kLargeFolder) BuildChildLookup(dwParent);
    return found;
  }
  auto [first, last] = folder->second.equal_range(dwCRC);
  if (first == last) return 0;
  // Several children with one key (clones, names that differ in case or
  // above U+00FF): the list order decides which comes first, so walk the
  // list.
  if (std::next(first) != last) return ScanChildren(pszName, dwNameLength, dwCRC, dwParent, bExactCase, &children);
  qv::fileindex::EntryName name(GetEntry(first->second));
  const bool match = bExactCase ? EqualExactly(name, pszName, dwNameLength)
                                : EqualNoCaseAZ(name.c_str(), name.length(), pszName, dwNameLength);
  return match ? first->second : 0;
}
