// Compaction: removing deleted entries from the image and closing the gaps.
//
// Kept entries move down in image order, each once; before an entry moves,
// every link that names it is rewritten, so the links always hold current
// offsets and can be followed at any point of the walk.
#include <cstring>
#include <vector>

#include "qvbackup/qvfilearray.h"

namespace {

bool IsFolder(const QVFA_INDEXENTRY* entry) {
  return (entry->dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsDeletedEntry(const QVFA_INDEXENTRY* entry) { return (entry->bState & QVFA_DELETED) != 0; }

DWORD Extent(const QVFA_INDEXENTRY* entry) {
  return static_cast<DWORD>(entry->wUserDataOffset) + entry->bUserDataSize;
}

}  // namespace

// Decides a live folder's fate before compaction: child folders lose what
// holds no live file; the folder itself goes when nothing live is left.
void CQVFileArray::RemoveEmptyFolders(QVFA_INDEXENTRY* pFolder) {
  DWORD folderIndex = GetOffset(pFolder);
  bool stays = false;
  for (DWORD child = pFolder->dwFirstChild; child != 0; child = GetEntry(child)->dwNextSibling) {
    QVFA_INDEXENTRY* entry = GetEntry(child);
    if (IsFolder(entry)) {
      BOOL liveBelow = FALSE;
      DeleteSubItems(child, TRUE, &liveBelow);
      if (IsDeletedEntry(entry)) continue;
      if (liveBelow) {
        stays = true;
      } else {
        MarkDeleted(entry);
      }
    } else if (!IsDeletedEntry(entry)) {
      stays = true;
    }
  }
  if (!stays) MarkDeleted(GetEntry(folderIndex));
}

BOOL CQVFileArray::Compact(BOOL bRemoveEmptyFolders) {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  if (GetEntry(0)->wSize == 0) {
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  // Entries are about to move: the child tables would name old offsets.
  m_mapLargeFolders.clear();
  // A folder deleted by force may still have live children. Removing the
  // folder would leave them naming an entry that no longer exists, so they
  // go with it.
  if (m_dwDeletedCount != 0) DeleteBelowDeletedFolders();

  DWORD lastKept = 0;
  DWORD write = QVFA_ROOTSIZE;
  DWORD offset = QVFA_ROOTSIZE;
  while (offset != 0) {
    QVFA_INDEXENTRY* entry = GetEntry(offset);
    if (entry->wTag != QVFA_ENTRYTAG) {
      SetLastError(ERROR_INVALID_STATE);
      return FALSE;
    }
    DWORD next = entry->wSize == 0 ? 0 : offset + entry->wSize;
    if (bRemoveEmptyFolders && IsFolder(entry) && !IsDeletedEntry(entry)) RemoveEmptyFolders(entry);

    if (IsDeletedEntry(entry)) {
      UnlinkEntry(offset);
    } else {
      if (write != offset) MoveEntry(offset, write);
      lastKept = write;
      write += Extent(GetEntry(write));
    }
    offset = next;
  }

  QVFA_INDEXENTRY* last = GetEntry(lastKept);
  DWORD lastSize = lastKept == 0 ? QVFA_ROOTSIZE : Extent(last);
  last->wSize = 0;
  m_dwUsed = lastKept + lastSize;
  WORD trailer = static_cast<WORD>(lastSize);
  std::memcpy(m_pImage + m_dwUsed, &trailer, sizeof(trailer));
  // Recounted rather than adjusted: an entry that lies before its folder in
  // the image can be found empty only after it was kept.
  CountItems();
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// Takes a removed entry out of its sibling list and its parent's child links.
// Its children (all deleted, see DeleteBelowDeletedFolders) are cut loose so
// that their own removal does not write into bytes that may be reused.
void CQVFileArray::UnlinkEntry(DWORD dwIndex) {
  QVFA_INDEXENTRY* entry = GetEntry(dwIndex);
  DWORD previous = entry->dwPrevSibling;
  DWORD next = entry->dwNextSibling;
  if (previous != 0) GetEntry(previous)->dwNextSibling = next;
  if (next != 0) GetEntry(next)->dwPrevSibling = previous;
  if (entry->dwParent != QVFA_NOTLINKED) {
    QVFA_INDEXENTRY* parent = GetEntry(entry->dwParent);
    if (parent->dwFirstChild == dwIndex) parent->dwFirstChild = next;
    if (parent->dwLastChild == dwIndex) parent->dwLastChild = previous;
  }
  for (DWORD child = entry->dwFirstChild; child != 0; child = GetEntry(child)->dwNextSibling) {
    GetEntry(child)->dwParent = QVFA_NOTLINKED;
  }
}

// Moves a kept entry from `dwFrom` down to `dwTo`, after pointing every link
// that names it at the new place.
void CQVFileArray::MoveEntry(DWORD dwFrom, DWORD dwTo) {
  QVFA_INDEXENTRY* entry = GetEntry(dwFrom);
  if (entry->dwPrevSibling != 0) GetEntry(entry->dwPrevSibling)->dwNextSibling = dwTo;
  if (entry->dwNextSibling != 0) GetEntry(entry->dwNextSibling)->dwPrevSibling = dwTo;
  if (entry->dwParent != QVFA_NOTLINKED) {
    QVFA_INDEXENTRY* parent = GetEntry(entry->dwParent);
    if (parent->dwFirstChild == dwFrom) parent->dwFirstChild = dwTo;
    if (parent->dwLastChild == dwFrom) parent->dwLastChild = dwTo;
  }
  for (DWORD child = entry->dwFirstChild; child != 0; child = GetEntry(child)->dwNextSibling) {
    GetEntry(child)->dwParent = dwTo;
  }
  std::memmove(m_pImage + dwTo, m_pImage + dwFrom, Extent(entry));
}

// Marks deleted every entry that has a deleted ancestor, walking each tree
// from its head once.
void CQVFileArray::DeleteBelowDeletedFolders() {
  struct Pending {
    DWORD index;
    bool ancestorDeleted;
  };
  std::vector<Pending> pending;
  for (DWORD offset = 0;;) {
    QVFA_INDEXENTRY* entry = GetEntry(offset);
    if (offset == 0 || entry->dwParent == QVFA_NOTLINKED) pending.push_back({offset, false});
    if (entry->wSize == 0) break;
    offset += entry->wSize;
  }
  while (!pending.empty()) {
    Pending item = pending.back();
    pending.pop_back();
    QVFA_INDEXENTRY* entry = GetEntry(item.index);
    if (item.ancestorDeleted) MarkDeleted(entry);
    bool deleted = item.index != 0 && IsDeletedEntry(entry);
    for (DWORD child = entry->dwFirstChild; child != 0; child = GetEntry(child)->dwNextSibling) {
      pending.push_back({child, deleted});
    }
  }
}
