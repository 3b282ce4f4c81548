// The index object: its image buffer, capacity, validity of indexes and the
// counts.
#include <cstdlib>
#include <cstring>
#include <new>

#include "fileindex/entry_name.h"
#include "qvbackup/qvfilearray.h"

namespace {

constexpr DWORD kInitialCapacity = 2048;
constexpr DWORD kTrailerSize = 2;

WORD ReadWord(const BYTE* at) {
  WORD value;
  std::memcpy(&value, at, sizeof(value));
  return value;
}

void WriteWord(BYTE* at, WORD value) { std::memcpy(at, &value, sizeof(value)); }

}  // namespace

CQVFileArray::CQVFileArray(DWORD, DWORD, DWORD)
    : m_pImage(nullptr),
      m_abRecordBuffer{},
      m_dwUsed(0),
      m_dwCapacity(0),
      m_hVolume(INVALID_HANDLE_VALUE),
      m_wcDrive(0),
      m_bChunkLoading(FALSE),
      m_dwEntryCount(0),
      m_dwDeletedCount(0),
      m_abBootSector{},
      m_abNtfsVolumeData{},
      m_dwFileSystem(0),
      m_pPreviousImage(nullptr),
      m_dwPreviousUsed(0),
      m_dwPreviousCapacity(0),
      m_pRawVolume(nullptr) {
  ResetImage();
}

CQVFileArray::CQVFileArray(const CQVFileArray& other) : CQVFileArray() {
  // An index being loaded in chunks has no image to copy yet.
  if (other.m_bChunkLoading) return;
  SetRawData(other.m_pImage, other.m_dwUsed + kTrailerSize);
}

CQVFileArray::~CQVFileArray() {
  CloseDrive();
  for (const void* handle : m_setSearchHandles) FreeSearch(handle);
  std::free(m_pImage);
  std::free(m_pPreviousImage);
}

// Back to the root alone, in a buffer of the initial capacity. Memory
// exhaustion here leaves nothing sensible to report through a result, so it
// ends in std::bad_alloc like any other construction.
void CQVFileArray::ResetImage() {
  if (m_pImage == nullptr || m_dwCapacity != kInitialCapacity) {
    BYTE* image = static_cast<BYTE*>(std::realloc(m_pImage, kInitialCapacity));
    if (image == nullptr) throw std::bad_alloc();
    m_pImage = image;
    m_dwCapacity = kInitialCapacity;
  }
  std::memset(m_pImage, 0, m_dwCapacity);
  m_mapLargeFolders.clear();
  WriteWord(m_pImage + offsetof(QVFA_INDEXENTRY, wTag), QVFA_ENTRYTAG);
  WriteWord(m_pImage + QVFA_ROOTSIZE, QVFA_ROOTSIZE);
  m_dwUsed = QVFA_ROOTSIZE;
  m_dwEntryCount = 0;
  m_dwDeletedCount = 0;
}

BOOL CQVFileArray::RemoveAll() {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  if (m_dwUsed > QVFA_ROOTSIZE) ResetImage();
  return TRUE;
}

// Makes room for an entry of `dwEntrySize` bytes by doubling the capacity;
// entries never move, so indexes stay valid (only the buffer's address may
// change). The image is addressed by 32-bit offsets, which caps it at 4 GiB.
bool CQVFileArray::EnsureCapacity(DWORD dwEntrySize) {
  ULONGLONG needed = static_cast<ULONGLONG>(dwEntrySize) + m_dwUsed + 4;
  ULONGLONG capacity = m_dwCapacity;
  while (capacity < needed) capacity *= 2;
  if (capacity == m_dwCapacity) return true;
  if (capacity > 0xFFFFFFFFull) {
    if (needed > 0xFFFFFFFFull) {
      SetLastError(ERROR_OUTOFMEMORY);
      return false;
    }
    capacity = 0xFFFFFFFFull;
  }
  BYTE* image = static_cast<BYTE*>(std::realloc(m_pImage, static_cast<std::size_t>(capacity)));
  if (image == nullptr) {
    SetLastError(ERROR_OUTOFMEMORY);
    return false;
  }
  m_pImage = image;
  m_dwCapacity = static_cast<DWORD>(capacity);
  return true;
}

// Installs `pImage` (owned from now on) as the image.
void CQVFileArray::TakeImage(BYTE* pImage, DWORD dwUsed, DWORD dwCapacity) {
  std::free(m_pImage);
  m_mapLargeFolders.clear();
  m_pImage = pImage;
  m_dwUsed = dwUsed;
  m_dwCapacity = dwCapacity;
  CountItems();
}

void CQVFileArray::CountItems() {
  m_dwEntryCount = 0;
  m_dwDeletedCount = 0;
  DWORD offset = 0;
  for (;;) {
    WORD size = ReadWord(m_pImage + offset);
    if (size == 0) break;
    offset += size;
    if (offset >= m_dwUsed) break;
    ++m_dwEntryCount;
    if (GetEntry(offset)->bState & QVFA_DELETED) ++m_dwDeletedCount;
  }
}

QVFA_INDEXENTRY* CQVFileArray::GetEntry(DWORD dwIndex) const {
  return reinterpret_cast<QVFA_INDEXENTRY*>(m_pImage + dwIndex);
}

DWORD CQVFileArray::GetOffset(const QVFA_INDEXENTRY* pEntry) const {
  return static_cast<DWORD>(reinterpret_cast<const BYTE*>(pEntry) - m_pImage);
}

// An index is valid when a whole entry starts there: the tag, a name whose
// terminator lies before the user data, and user data inside the image. This
// keeps every later read of the entry inside the buffer, even for an index
// that a caller made up.
bool CQVFileArray::IsValidIndex(DWORD dwIndex) const {
  if (m_pImage == nullptr || m_bChunkLoading) return false;
  ULONGLONG end = static_cast<ULONGLONG>(m_dwUsed) + kTrailerSize;
  if (static_cast<ULONGLONG>(dwIndex) + QVFA_ROOTSIZE > end) return false;
  const QVFA_INDEXENTRY* entry = GetEntry(dwIndex);
  if (entry->wTag != QVFA_ENTRYTAG) return false;
  if (dwIndex == 0) return true;
  DWORD dataOffset = entry->wUserDataOffset;
  if (dataOffset < QVFA_ROOTSIZE || (dataOffset & 1) != 0) return false;
  if (dataOffset - QVFA_ENTRYHEADERSIZE > qv::fileindex::kMaxNameBytes) return false;
  if (static_cast<ULONGLONG>(dwIndex) + dataOffset + entry->bUserDataSize > m_dwUsed) return false;
  return ReadWord(m_pImage + dwIndex + dataOffset - 2) == 0;
}

QVFA_INDEXENTRY* CQVFileArray::CheckedEntry(DWORD dwIndex) const {
  if (!IsValidIndex(dwIndex)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return GetEntry(dwIndex);
}

DWORD CQVFileArray::GetItemCount(BOOL bIncludeDeleted) {
  return bIncludeDeleted ? m_dwEntryCount : m_dwEntryCount - m_dwDeletedCount;
}
