// Deleting entries: a bit in the entry's state, counted; the entry keeps its
// place and links until Compact removes it.
#include <vector>

#include "qvbackup/qvfilearray.h"

namespace {

bool IsFolder(const QVFA_INDEXENTRY* entry) {
  return (entry->dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsDeletedEntry(const QVFA_INDEXENTRY* entry) { return (entry->bState & QVFA_DELETED) != 0; }

}  // namespace

void CQVFileArray::MarkDeleted(QVFA_INDEXENTRY* pEntry) {
  if (IsDeletedEntry(pEntry)) return;
  pEntry->bState |= QVFA_DELETED;
  ++m_dwDeletedCount;
}

BOOL CQVFileArray::DeleteItem(DWORD dwIndex, DWORD dwMode) {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  // The root holds the tree together; it is never deleted.
  QVFA_INDEXENTRY* entry = dwIndex == 0 ? nullptr : CheckedEntry(dwIndex);
  if (entry == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  switch (dwMode) {
    case QVFA_DEL_UNLESSPARENTDELETED: {
      DWORD parent = entry->dwParent;
      if (parent != 0 && parent != QVFA_NOTLINKED && IsDeletedEntry(GetEntry(parent))) {
        SetLastError(ERROR_INVALID_STATE);
        return FALSE;
      }
      break;
    }
    case QVFA_DEL_IFEMPTY:
      if (IsFolder(entry)) {
        for (DWORD child = entry->dwFirstChild; child != 0; child = GetEntry(child)->dwNextSibling) {
          if (!IsDeletedEntry(GetEntry(child))) {
            SetLastError(ERROR_DIR_NOT_EMPTY);
            return FALSE;
          }
        }
      }
      break;
    case QVFA_DEL_FORCE:
      break;
    case QVFA_DEL_TREE:
      DeleteSubItems(dwIndex, FALSE, nullptr);
      entry = GetEntry(dwIndex);
      break;
    default:
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
  }
  MarkDeleted(entry);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// Marks the entries below a folder deleted: all of them, or with
// `bOnlyEmptyFolders` just the folders below which no live file remains
// (and then *pbLiveRemains tells whether a live entry is left among the
// children). Walks with its own stack, so depth costs no call stack.
BOOL CQVFileArray::DeleteSubItems(DWORD dwIndex, BOOL bOnlyEmptyFolders, BOOL* pbLiveRemains) {
  if (CheckedEntry(dwIndex) == nullptr) return FALSE;
  struct Frame {
    DWORD folder;
    DWORD nextChild;
    bool liveRemains;
  };
  std::vector<Frame> stack;
  stack.push_back({dwIndex, GetEntry(dwIndex)->dwFirstChild, false});
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.nextChild == 0) {
      Frame done = frame;
      stack.pop_back();
      if (stack.empty()) {
        if (done.liveRemains && pbLiveRemains != nullptr) *pbLiveRemains = TRUE;
        break;
      }
      QVFA_INDEXENTRY* folder = GetEntry(done.folder);
      if (!IsDeletedEntry(folder)) {
        if (!bOnlyEmptyFolders || !done.liveRemains) {
          MarkDeleted(folder);
        } else {
          stack.back().liveRemains = true;
        }
      }
      continue;
    }
    DWORD child = frame.nextChild;
    QVFA_INDEXENTRY* entry = GetEntry(child);
    frame.nextChild = entry->dwNextSibling;
    if (IsFolder(entry)) {
      stack.push_back({child, entry->dwFirstChild, false});
    } else if (!IsDeletedEntry(entry)) {
      if (!bOnlyEmptyFolders) {
        MarkDeleted(entry);
      } else {
        frame.liveRemains = true;
      }
    }
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
