// Comparing entries of two indexes, and removing from one what the other
// holds.
#include "fileindex/entry_name.h"
#include "fileindex/entry_time.h"
#include "fileindex/name_crc.h"
#include "platform/text.h"
#include "qvbackup/qvfilearray.h"

using qv::fileindex::EqualNoCaseAZ;
using qv::fileindex::TextLength;

namespace {

// The extension with its dot, empty when the name has none.
qv::WStringView ExtensionWithDot(const WCHAR* name) {
  std::size_t length = TextLength(name);
  const WCHAR* extension = qv::fileindex::FindExtension(name, length);
  if (extension == nullptr) return {};
  return qv::WStringView(extension - 1, length - static_cast<std::size_t>(extension - 1 - name));
}

bool EqualViews(qv::WStringView a, qv::WStringView b) {
  return EqualNoCaseAZ(a.data(), a.size(), b.data(), b.size());
}

}  // namespace

BOOL CQVFileArray::CompareEntries(DWORD dwIndex, CQVFileArray& other, DWORD dwOtherIndex,
                                  DWORD dwCompareFlags) {
  QVFA_INDEXENTRY* mine = CheckedEntry(dwIndex);
  QVFA_INDEXENTRY* theirs = other.CheckedEntry(dwOtherIndex);
  if (mine == nullptr || theirs == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  qv::fileindex::EntryName myEntryName(mine);
  qv::fileindex::EntryName theirEntryName(theirs);
  const WCHAR* myName = myEntryName.c_str();
  const WCHAR* theirName = theirEntryName.c_str();
  ULONGLONG myTime = QVFA_TIME_VALUE(mine->ftLastWriteTime);
  ULONGLONG theirTime = QVFA_TIME_VALUE(theirs->ftLastWriteTime);
  BOOL holds = TRUE;
  if ((dwCompareFlags & QVFA_CMP_NAME) &&
      !EqualNoCaseAZ(myName, TextLength(myName), theirName, TextLength(theirName))) {
    holds = FALSE;
  } else if ((dwCompareFlags & QVFA_CMP_EXT) &&
             !EqualViews(ExtensionWithDot(myName), ExtensionWithDot(theirName))) {
    holds = FALSE;
  } else if (dwCompareFlags & QVFA_CMP_PATH) {
    CQVString myPath = GetPath(dwIndex);
    CQVString theirPath = other.GetPath(dwOtherIndex);
    if (!EqualViews(qv::WStringView(myPath, myPath.GetLength()),
                    qv::WStringView(theirPath, theirPath.GetLength()))) {
      holds = FALSE;
    }
  }
  if (holds) {
    if ((dwCompareFlags & QVFA_CMP_SAMETIME) && myTime != theirTime) holds = FALSE;
    else if ((dwCompareFlags & QVFA_CMP_OLDER) && !(myTime < theirTime)) holds = FALSE;
    else if ((dwCompareFlags & QVFA_CMP_SAMESIZE) && mine->ullSize != theirs->ullSize) holds = FALSE;
    else if ((dwCompareFlags & QVFA_CMP_SMALLER) && !(mine->ullSize < theirs->ullSize)) holds = FALSE;
    else if ((dwCompareFlags & QVFA_CMP_NOTNEWER) && myTime > theirTime) holds = FALSE;
    else if ((dwCompareFlags & QVFA_CMP_NOTLARGER) && mine->ullSize > theirs->ullSize) holds = FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  return holds;
}

// The search for each counterpart goes forward from the previous match, so
// two indexes filled in the same order are subtracted in one pass.
BOOL CQVFileArray::SubtractArray(CQVFileArray& other, DWORD dwCompareFlags) {
  if (m_bChunkLoading || other.m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  if (other.m_dwEntryCount == other.m_dwDeletedCount) return TRUE;

  DWORD start = 0;
  for (DWORD theirs = other.GetEntry(0)->wSize; theirs != 0;) {
    const QVFA_INDEXENTRY* entry = other.GetEntry(theirs);
    DWORD match = FastFindNameCRC(entry->dwNameCRC, start);
    if (match == 0) {
      start = 0;
    } else {
      if (CompareEntries(match, other, theirs, dwCompareFlags)) DeleteItem(match, QVFA_DEL_IFEMPTY);
      start = match;
    }
    theirs = entry->wSize == 0 ? 0 : theirs + entry->wSize;
  }
  return Compact(TRUE);
}
