// Opening a volume raw and recognising its file system from the boot sector.
#include <cstring>

#include "platform/raw_volume.h"
#include "qvbackup/qvfilearray.h"

namespace {

bool TextAt(const BYTE* sector, DWORD at, const char* text) {
  return std::memcmp(sector + at, text, std::strlen(text)) == 0;
}

}  // namespace

BOOL CQVFileArray::OpenDrive(WCHAR wcDrive) {
  CloseDrive();
  std::unique_ptr<qv::platform::RawVolume> volume = qv::platform::OpenRawVolume(wcDrive);
  if (!volume) return FALSE;
  DWORD read = 0;
  if (!volume->Read(0, m_abBootSector, sizeof(m_abBootSector), &read)) return FALSE;
  if (read != sizeof(m_abBootSector)) {
    SetLastError(ERROR_HANDLE_EOF);
    return FALSE;
  }
  DWORD kind = QVFA_FS_NONE;
  if (TextAt(m_abBootSector, 54, "FAT12")) kind = QVFA_FS_FAT12;
  if (TextAt(m_abBootSector, 54, "FAT16")) kind = QVFA_FS_FAT16;
  if (TextAt(m_abBootSector, 82, "FAT32")) kind = QVFA_FS_FAT32;
  if (TextAt(m_abBootSector, 3, "NTFS    ")) {
    kind = QVFA_FS_NTFS;
    if (!volume->GetNtfsVolumeData(m_abNtfsVolumeData)) return FALSE;
  }
  if (kind == QVFA_FS_NONE && TextAt(m_abBootSector, 3, "RECOVERY")) {
    kind = m_abBootSector[16] != 0 ? QVFA_FS_FAT32 : QVFA_FS_NTFS;
  }
  if (kind == QVFA_FS_NONE) {
    SetLastError(ERROR_BAD_FORMAT);
    return FALSE;
  }
  m_pRawVolume = volume.release();
  m_hVolume = static_cast<HANDLE>(m_pRawVolume);
  m_wcDrive = wcDrive;
  m_dwFileSystem = kind;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

void CQVFileArray::CloseDrive() {
  delete m_pRawVolume;
  m_pRawVolume = nullptr;
  m_hVolume = INVALID_HANDLE_VALUE;
  m_dwFileSystem = QVFA_FS_NONE;
}

DWORD CQVFileArray::GetFatSystem() { return m_dwFileSystem; }
HANDLE CQVFileArray::GetHandle() { return m_hVolume; }
HANDLE CQVFileArray::GetVolumeHandle() { return m_hVolume; }

BOOL CQVFileArray::LoadVolume(LPCWSTR pszPath, QVFA_PROGRESSPROC pfnProgress, ULONGLONG ullUserValue) {
  if (pszPath == nullptr || pszPath[0] == 0) {
    SetLastError(ERROR_BAD_PATHNAME);
    return FALSE;
  }
  if (!OpenDrive(pszPath[0])) return FALSE;
  BOOL loaded = FALSE;
  if (m_dwFileSystem == QVFA_FS_NTFS) {
    loaded = LoadNTFSVolume(pszPath, pfnProgress, ullUserValue);
  } else {
    loaded = LoadFATVolume(pszPath);
  }
  DWORD error = GetLastError();
  CloseDrive();
  SetLastError(error);
  return loaded;
}
