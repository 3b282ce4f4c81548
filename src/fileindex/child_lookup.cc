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
#include <utility>
#include <vector>

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

namespace {

std::size_t SlotOf(DWORD crc, std::size_t mask) {
  // The name key is a CRC: its low bits are spread well already.
  return static_cast<std::size_t>(crc) & mask;
}

}  // namespace

// Puts `child` in a free slot of `table`, doubling the table first when it
// would be more than three quarters full.
void CQVFileArray::InsertChildSlot(qv::fileindex::ChildSlots& table, DWORD dwChild) {
  if ((static_cast<std::size_t>(table.count) + 1) * 4 > table.slots.size() * 3) {
    std::vector<DWORD> old = std::move(table.slots);
    table.slots.assign(old.empty() ? 64 : old.size() * 2, 0);
    table.count = 0;
    for (DWORD child : old) {
      if (child != 0) InsertChildSlot(table, child);
    }
  }
  const std::size_t mask = table.slots.size() - 1;
  std::size_t slot = SlotOf(GetEntry(dwChild)->dwNameCRC, mask);
  while (table.slots[slot] != 0) slot = (slot + 1) & mask;
  table.slots[slot] = dwChild;
  ++table.count;
}

void CQVFileArray::BuildChildLookup(DWORD dwParent) {
  auto& table = m_mapLargeFolders[dwParent];
  DWORD steps = m_dwEntryCount + 1;
  for (DWORD child = GetEntry(dwParent)->dwFirstChild; child != 0 && steps-- != 0;
       child = GetEntry(child)->dwNextSibling) {
    InsertChildSlot(table, child);
  }
}

void CQVFileArray::RememberChild(DWORD dwParent, DWORD /*dwCRC*/, DWORD dwChild) {
  if (m_mapLargeFolders.empty()) return;
  auto folder = m_mapLargeFolders.find(dwParent);
  if (folder != m_mapLargeFolders.end()) InsertChildSlot(folder->second, dwChild);
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
  const qv::fileindex::ChildSlots& table = folder->second;
  const std::size_t mask = table.slots.size() - 1;
  DWORD candidate = 0;
  for (std::size_t slot = SlotOf(dwCRC, mask); table.slots[slot] != 0; slot = (slot + 1) & mask) {
    if (GetEntry(table.slots[slot])->dwNameCRC != dwCRC) continue;
    // Several children with one key (clones, names that differ in case or
    // above U+00FF): the list order decides which comes first, so walk the
    // list.
    if (candidate != 0) return ScanChildren(pszName, dwNameLength, dwCRC, dwParent, bExactCase, &children);
    candidate = table.slots[slot];
  }
  if (candidate == 0) return 0;
  qv::fileindex::EntryName name(GetEntry(candidate));
  const bool match = bExactCase ? EqualExactly(name, pszName, dwNameLength)
                                : EqualNoCaseAZ(name.c_str(), name.length(), pszName, dwNameLength);
  return match ? candidate : 0;
}
