// The image as one piece: handed out, taken back whole or in chunks, saved
// to and loaded from a file. Every image that comes in is verified first, so
// a damaged archive or a crafted file cannot make later calls read outside
// the buffer.
#include <cstdlib>
#include <cstring>

#include "fileindex/image_check.h"
#include "platform/handle_io.h"
#include "qvbackup/qvfilearray.h"

using qv::fileindex::IsWellFormedImage;

namespace {

constexpr DWORD kTrailerSize = 2;
constexpr DWORD kFileHeaderSize = 8;  // magic and used length
constexpr DWORD kFilePadding = 2;

void PutDword(BYTE* at, DWORD value) { std::memcpy(at, &value, sizeof(value)); }

DWORD GetDword(const BYTE* at) {
  DWORD value;
  std::memcpy(&value, at, sizeof(value));
  return value;
}

// Reads up to `limit` bytes into a buffer that grows by steps as the bytes
// come, so a crafted length in a file's header allocates no more than the
// file holds. The buffer (malloc'd, at least `capacity` bytes) or null with
// the last error; *got gets the count read.
BYTE* ReadGrowing(HANDLE file, DWORD limit, DWORD capacity, DWORD* got) {
  constexpr DWORD kStep = 1u << 20;
  BYTE* buffer = nullptr;
  *got = 0;
  for (DWORD size = 0; *got < limit;) {
    const DWORD want = limit - *got < kStep ? limit - *got : kStep;
    BYTE* grown = static_cast<BYTE*>(std::realloc(buffer, size + want));
    if (grown == nullptr) {
      std::free(buffer);
      SetLastError(ERROR_OUTOFMEMORY);
      return nullptr;
    }
    buffer = grown;
    size += want;
    DWORD read = 0;
    if (!qv::platform::ReadHandle(file, buffer + *got, want, &read)) {
      std::free(buffer);
      return nullptr;
    }
    *got += read;
    if (read < want) break;
  }
  BYTE* whole = static_cast<BYTE*>(std::realloc(buffer, *got > capacity ? *got : capacity));
  if (whole == nullptr) {
    std::free(buffer);
    SetLastError(ERROR_OUTOFMEMORY);
  }
  return whole;
}

}  // namespace

const BYTE* CQVFileArray::GetRawData(DWORD* pdwSize) {
  if (pdwSize == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  *pdwSize = m_dwUsed + kTrailerSize;
  return m_pImage;
}

BOOL CQVFileArray::SetRawData(const BYTE* pData, DWORD dwLength) {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  if (!IsWellFormedImage(pData, dwLength)) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  BYTE* image = static_cast<BYTE*>(std::malloc(dwLength));
  if (image == nullptr) {
    SetLastError(ERROR_OUTOFMEMORY);
    return FALSE;
  }
  std::memcpy(image, pData, dwLength);
  TakeImage(image, dwLength - kTrailerSize, dwLength);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// The previous image is kept aside until the new one has proved well formed,
// so a damaged transfer leaves the index as it was.
BOOL CQVFileArray::StartSetRawData(DWORD dwTotalLength) {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  if (dwTotalLength == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  BYTE* image = static_cast<BYTE*>(std::malloc(dwTotalLength));
  if (image == nullptr) {
    SetLastError(ERROR_OUTOFMEMORY);
    return FALSE;
  }
  m_pPreviousImage = m_pImage;
  m_dwPreviousUsed = m_dwUsed;
  m_dwPreviousCapacity = m_dwCapacity;
  m_pImage = image;
  m_dwCapacity = dwTotalLength;
  m_dwUsed = 0;
  m_bChunkLoading = TRUE;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CQVFileArray::AddRawDataChunk(const BYTE* pData, DWORD dwLength) {
  if (!m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  if (pData == nullptr && dwLength != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (static_cast<ULONGLONG>(m_dwUsed) + dwLength > m_dwCapacity) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  if (dwLength != 0) std::memcpy(m_pImage + m_dwUsed, pData, dwLength);
  m_dwUsed += dwLength;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CQVFileArray::EndSetRawData() {
  if (!m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  m_bChunkLoading = FALSE;
  BYTE* received = m_pImage;
  DWORD receivedLength = m_dwUsed;
  if (!IsWellFormedImage(received, receivedLength)) {
    std::free(received);
    m_pImage = m_pPreviousImage;
    m_dwUsed = m_dwPreviousUsed;
    m_dwCapacity = m_dwPreviousCapacity;
    m_pPreviousImage = nullptr;
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  m_pImage = m_pPreviousImage;  // freed by TakeImage
  m_pPreviousImage = nullptr;
  TakeImage(received, receivedLength - kTrailerSize, m_dwCapacity);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL CQVFileArray::SaveToFile(HANDLE hFile) {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  BYTE header[kFileHeaderSize];
  PutDword(header, QVFA_FILEMAGIC);
  PutDword(header + 4, m_dwUsed);
  const BYTE padding[kFilePadding] = {0, 0};
  DWORD written = 0;
  if (!qv::platform::WriteHandle(hFile, header, sizeof(header), &written) ||
      !qv::platform::WriteHandle(hFile, m_pImage, m_dwUsed + kTrailerSize, &written) ||
      !qv::platform::WriteHandle(hFile, padding, sizeof(padding), &written)) {
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// Reads into a fresh buffer and installs it only once it is complete and
// well formed: a short or damaged file leaves the index as it was.
BOOL CQVFileArray::LoadFromFile(HANDLE hFile) {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  BYTE header[kFileHeaderSize];
  DWORD read = 0;
  if (!qv::platform::ReadHandle(hFile, header, sizeof(header), &read)) return FALSE;
  if (read != sizeof(header)) {
    SetLastError(ERROR_HANDLE_EOF);
    return FALSE;
  }
  if (GetDword(header) != QVFA_FILEMAGIC) {
    SetLastError(ERROR_BAD_FORMAT);
    return FALSE;
  }
  DWORD used = GetDword(header + 4);
  if (used < QVFA_ROOTSIZE || used > 0xFFFFFFFFu - kTrailerSize - kFilePadding) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  BYTE* image = ReadGrowing(hFile, used + kTrailerSize + kFilePadding, m_dwCapacity, &read);
  if (image == nullptr) return FALSE;
  const DWORD capacity = read > m_dwCapacity ? read : m_dwCapacity;
  // The two bytes of padding after the image carry nothing: a file that
  // ends without them is still whole.
  if (read < used + kTrailerSize) {
    std::free(image);
    SetLastError(ERROR_HANDLE_EOF);
    return FALSE;
  }
  if (!IsWellFormedImage(image, used + kTrailerSize)) {
    std::free(image);
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  TakeImage(image, used, capacity);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
