// Finding a child by name. Children form a linked list in the order they
// were added, and small folders are simply walked, comparing name keys
// before names. A folder found to hold many children gets a table from name
// key to child, kept up to date as children are added, so that adding the
// n-th file of a folder costs no walk past the n-1 before it.
#include <iterator>

#include "fileindex/entry_name.h"
#include "fileindex/name_crc.h"
#include "qvbackup/qvfilearray.h"

using qv::fileindex::EqualNoCaseAZ;

namespace {

// Folders with more children than this get a lookup table.
constexpr DWORD kLargeFolder = 32;

}  // namespace

DWORD CQVFileArray::ScanChildren(LPCWSTR pszName, DWORD dwNameLength, DWORD dwCRC, DWORD dwParent,
                                 DWORD* pdwChildren) {
  // The walk is bounded by the entry count so that a link cycle cannot hold it.
  DWORD steps = m_dwEntryCount + 1;
  DWORD children = 0;
  for (DWORD child = GetEntry(dwParent)->dwFirstChild; child != 0 && steps-- != 0;
       child = GetEntry(child)->dwNextSibling) {
    if (!IsValidIndex(child)) break;
    ++children;
    QVFA_INDEXENTRY* entry = GetEntry(child);
    if (entry->dwNameCRC != dwCRC) continue;
    qv::fileindex::EntryName name(entry);
    if (EqualNoCaseAZ(name.c_str(), name.length(), pszName, dwNameLength)) return child;
  }
  *pdwChildren = children;
  return 0;
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
                                     DWORD dwParent) {
  auto folder = m_mapLargeFolders.find(dwParent);
  if (folder == m_mapLargeFolders.end()) {
    DWORD children = 0;
    DWORD found = ScanChildren(pszName, dwNameLength, dwCRC, dwParent, &children);
    if (found == 0 && children > kLargeFolder) BuildChildLookup(dwParent);
    return found;
  }
  auto [first, last] = folder->second.equal_range(dwCRC);
  if (first == last) return 0;
  // Several children with one key (clones, or names that differ above
  // U+00FF): the list order decides which comes first, so walk the list.
  if (std::next(first) != last) {
    DWORD children = 0;
    return ScanChildren(pszName, dwNameLength, dwCRC, dwParent, &children);
  }
  qv::fileindex::EntryName name(GetEntry(first->second));
  return EqualNoCaseAZ(name.c_str(), name.length(), pszName, dwNameLength) ? first->second : 0;
}
