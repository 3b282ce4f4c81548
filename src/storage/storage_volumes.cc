// The byte stream over volume files: opening volumes, positioning, reading
// and writing across volume boundaries, sizes and cutting.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "log/qv_log.h"
#include "platform/file_ops.h"
#include "platform/file_system.h"
#include "platform/random_access_file.h"
#include "storage/archive_layout.h"
#include "storage/buffered_volume.h"
#include "qvbackup/qvstorage.h"

using namespace qv::storage;
using qv::platform::OpenMode;
using qv::platform::Sharing;

BOOL CQVStorage::OpenVolume(DWORD dwVolume) {
  DWORD increment = GetDword(m_pHeader, header::kIncrement);
  if (m_pVolume != nullptr && dwVolume == m_dwCurrentVolume && increment == m_dwCurrentVolumeIncrement) {
    return TRUE;
  }
  // A volume the host took is not here any more: opening it for writing
  // would make an empty file in its place.
  if (IsVolumeTaken(dwVolume)) return Fail(ERROR_FILE_NOT_FOUND);
  WCHAR path[QVS_VOLUME_PATH_CHARS];
  CQVPathString computed = VolumeFilePath(dwVolume);
  DWORD length = std::min<DWORD>(computed.GetLength(), QVS_VOLUME_PATH_CHARS - 1);
  std::memcpy(path, static_cast<const WCHAR*>(computed), length * sizeof(WCHAR));
  path[length] = 0;

  // Volumes of an archive being read must exist; an archive being written
  // gets its next volume created.
  OpenMode mode = OpenMode::kReadWriteAlways;
  if (m_bSFXReadMode || m_bReadOnly) {
    mode = OpenMode::kReadExisting;
  } else if (m_bReading) {
    mode = OpenMode::kReadWriteExisting;
  }
  for (;;) {
    // New volumes, like the first, are their owner's only.
    auto file = qv::platform::OpenFile(path, mode, Sharing::kReadOwnerOnly);
    if (file) {
      // The volume in use is let go only now: when the next one cannot be
      // had, the archive stays open and its other volumes readable. What
      // was written to it reaches the disk first.
      if (!SyncVolume()) return FALSE;
      CloseVolume();
      // A volume being read is read through a buffer: its blocks' headers
      // and small blocks take no call of their own.
      m_pVolume = mode == OpenMode::kReadWriteAlways ? file.release() : new BufferedVolume(std::move(file));
      m_bVolumeDirty = FALSE;
      m_dwCurrentVolume = dwVolume;
      m_dwCurrentVolumeIncrement = increment;
      return TRUE;
    }
    DWORD error = GetLastError();
    if (m_pfnProgress == nullptr) return Fail(error);
    LONGLONG answer = m_pfnProgress(QVS_PROGRESS_VOLUME_MISSING, m_ullProgressUserValue, dwVolume,
                                    static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(path)));
    path[QVS_VOLUME_PATH_CHARS - 1] = 0;
    if (answer == ERROR_CANCELLED) return Fail(ERROR_CANCELLED);
  }
}

BOOL CQVStorage::OpenVolumeForOffset(ULONGLONG ullOffset) {
  DWORD volume = 0;
  ULONGLONG position = ullOffset;
  if (HasVolumeLimit()) {
    ULONGLONG index = ullOffset / VolumeLimit();
    if (index >= 0xFFFFFFFFull) return Fail(ERROR_NEGATIVE_SEEK);
    volume = static_cast<DWORD>(index);
    position = ullOffset % VolumeLimit();
  }
  if (!OpenVolume(volume)) return FALSE;
  if (!m_pVolume->Seek(position)) return Fail(GetLastError());
  return TRUE;
}

// The index of the last volume holding data up to `ullEndOfData`. When the
// data ends exactly at a volume's limit, the next volume has not been
// created yet, and the last one is the full one before it.
ULONGLONG CQVStorage::LastVolumeOf(ULONGLONG ullEndOfData) const {
  if (!HasVolumeLimit()) return 0;
  ULONGLONG last = ullEndOfData / VolumeLimit();
  if (last > 0 && ullEndOfData % VolumeLimit() == 0) {
    CQVStorage* self = const_cast<CQVStorage*>(this);
    if (!qv::platform::FileExists(self->VolumeFilePath(static_cast<DWORD>(last)))) --last;
  }
  return last;
}

ULONGLONG CQVStorage::GetArchiveOffset() {
  // A reader whose blocks are read ahead is after the last one it was given.
  if (ReadingAhead()) {
    Succeed();
    return m_ullAheadServed;
  }
  if (!SettleQueue()) return QVS_INVALID_OFFSET;
  return CurrentOffset();
}

ULONGLONG CQVStorage::CurrentOffset() {
  ULONGLONG position = 0;
  if (m_pVolume == nullptr || !m_pVolume->Tell(&position)) {
    Fail(ERROR_INVALID_HANDLE);
    return QVS_INVALID_OFFSET;
  }
  Succeed();
  if (!HasVolumeLimit()) return position;
  return static_cast<ULONGLONG>(m_dwCurrentVolume) * VolumeLimit() + position;
}

ULONGLONG CQVStorage::Seek(ULONGLONG ullOffset, DWORD dwOrigin, BOOL bMove) {
  if (!SettleQueue()) return QVS_INVALID_OFFSET;
  ULONGLONG target;
  switch (dwOrigin) {
    case 0:
      target = ullOffset;
      break;
    case 1:
      target = GetArchiveOffset();
      if (target == QVS_INVALID_OFFSET) return QVS_INVALID_OFFSET;
      break;
    case 2: {
      ULONGLONG last = LastVolumeOf(GetQword(m_pHeader, header::kEndOfData));
      ULONGLONG size = 0;
      if (!qv::platform::GetFileSizeOf(VolumeFilePath(static_cast<DWORD>(last)), &size)) {
        Fail(GetLastError());
        return QVS_INVALID_OFFSET;
      }
      ULONGLONG end = size + (HasVolumeLimit() ? VolumeLimit() * last : 0);
      if (ullOffset > end) {
        Fail(ERROR_NEGATIVE_SEEK);
        return QVS_INVALID_OFFSET;
      }
      target = end - ullOffset;
      break;
    }
    default:
      Fail(ERROR_INVALID_PARAMETER);
      return QVS_INVALID_OFFSET;
  }
  if (bMove && !OpenVolumeForOffset(target)) return QVS_INVALID_OFFSET;
  Succeed();
  return target;
}

// One read or write of `dwLength` bytes from the current position, moving
// on to the following volumes when a volume limit is reached. *pdwDone
// tells how far it got; a read that meets the end of the data fails with
// ERROR_HANDLE_EOF.
BOOL CQVStorage::Transfer(BYTE* pBuffer, DWORD dwLength, bool bWrite, DWORD* pdwDone) {
  *pdwDone = 0;
  if (m_pVolume == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (bWrite && m_dwSyncError != ERROR_SUCCESS) return Fail(m_dwSyncError);
  auto transferHere = [&](DWORD count) -> BOOL {
    if (count == 0) return TRUE;
    if (bWrite) {
      m_bVolumeDirty = TRUE;
      if (!m_pVolume->Write(pBuffer + *pdwDone, count)) return Fail(GetLastError());
      *pdwDone += count;
      return TRUE;
    }
    DWORD read = 0;
    if (!m_pVolume->Read(pBuffer + *pdwDone, count, &read)) return Fail(GetLastError());
    *pdwDone += read;
    return read == count ? TRUE : Fail(ERROR_HANDLE_EOF);
  };
  if (!HasVolumeLimit()) return transferHere(dwLength);

  ULONGLONG position = 0;
  if (!m_pVolume->Tell(&position)) return Fail(GetLastError());
  ULONGLONG room = position < VolumeLimit() ? VolumeLimit() - position : 0;
  DWORD now = static_cast<DWORD>(std::min<ULONGLONG>(room, dwLength));
  if (!transferHere(now)) return FALSE;
  while (*pdwDone < dwLength) {
    const DWORD finished = m_dwCurrentVolume;
    if (!OpenVolume(finished + 1)) return FALSE;
    if (bWrite && !OfferWrittenVolume(finished)) return FALSE;
    if (!m_pVolume->Seek(0)) return Fail(GetLastError());
    DWORD left = dwLength - *pdwDone;
    if (!transferHere(static_cast<DWORD>(std::min<ULONGLONG>(VolumeLimit(), left)))) return FALSE;
  }
  return TRUE;
}

void CQVStorage::SetVolumeWrittenProc(QVS_VOLUMEPROC pfnWritten, ULONGLONG ullUserValue) {
  m_pfnVolumeWritten = pfnWritten;
  m_ullVolumeWrittenValue = ullUserValue;
}

// OpenVolume synced the volume before it let it go. Each volume is offered
// once, and only by an archive being created under temporary names (the
// members of a rewritten chain wait for one another, so none is offered).
BOOL CQVStorage::OfferWrittenVolume(DWORD dwVolume) {
  if (m_pfnVolumeWritten == nullptr || !m_bStaged || m_bRewriting || m_bReading || dwVolume == 0 ||
      dwVolume < m_dwVolumesOffered) {
    return TRUE;
  }
  m_dwVolumesOffered = dwVolume + 1;
  const CQVPathString path = VolumeFilePath(dwVolume);
  const DWORD answer = m_pfnVolumeWritten(m_ullVolumeWrittenValue, dwVolume, path);
  if (answer == QVS_VOLUME_LEFT) return TRUE;
  if (answer == QVS_VOLUME_TAKEN) {
    theLog.LogDetail(QVT("Volume %s taken by the host"), static_cast<const WCHAR*>(path));
    m_vTakenVolumes.push_back(dwVolume);
    return TRUE;
  }
  // The host could not take it where it must go: the archive is given up,
  // as after a failed sync.
  m_dwSyncError = answer;
  return Fail(answer);
}

bool CQVStorage::IsVolumeTaken(DWORD dwVolume) const {
  return std::find(m_vTakenVolumes.begin(), m_vTakenVolumes.end(), dwVolume) != m_vTakenVolumes.end();
}

void CQVStorage::ForgetTakenVolumes() {
  m_vTakenVolumes.clear();
  m_dwVolumesOffered = 0;
}

BOOL CQVStorage::ReadData(BYTE* pBuffer, DWORD dwLength) {
  if (pBuffer == nullptr && dwLength != 0) return Fail(ERROR_INVALID_PARAMETER);
  if (!SettleQueue()) return FALSE;
  DWORD done = 0;
  return Transfer(pBuffer, dwLength, false, &done) ? Succeed() : FALSE;
}

BOOL CQVStorage::WriteData(const BYTE* pBuffer, DWORD dwLength) {
  if (pBuffer == nullptr && dwLength != 0) return Fail(ERROR_INVALID_PARAMETER);
  if (m_bSFXReadMode || m_bReadOnly) return Fail(ERROR_ACCESS_DENIED);
  if (!SettleQueue()) return FALSE;
  DWORD done = 0;
  return Transfer(const_cast<BYTE*>(pBuffer), dwLength, true, &done) ? Succeed() : FALSE;
}

BOOL CQVStorage::DataFitsInCurrentVolume(DWORD dwLength, ULONGLONG* pullRoom) {
  if (!HasVolumeLimit()) return TRUE;
  if (!SettleQueue()) return FALSE;
  ULONGLONG position = 0;
  if (m_pVolume == nullptr || !m_pVolume->Tell(&position)) return Fail(ERROR_INVALID_HANDLE);
  ULONGLONG room = position < VolumeLimit() ? VolumeLimit() - position : 0;
  if (pullRoom != nullptr) *pullRoom = room;
  return room >= dwLength;
}

DWORD CQVStorage::GetVolumeCount(DWORD) {
  if (!HasVolumeLimit()) return 1;
  SettleQueue();
  return static_cast<DWORD>(LastVolumeOf(GetQword(m_pHeader, header::kEndOfData)) + 1);
}

ULONGLONG CQVStorage::GetVolumeSize() {
  if (!IsOpen()) {
    Fail(ERROR_INVALID_HANDLE);
    return 0;
  }
  Succeed();
  return VolumeLimit();
}

DWORD CQVStorage::GetArchiveBlockSize() {
  if (m_pHeader == nullptr) return 0xFFFFFFFFu;
  return GetDword(m_pHeader, header::kBlockSize);
}

DWORD CQVStorage::GetArchiveKeySize() {
  if (m_pHeader == nullptr || m_pHeader[header::kEncryptionType] == 0) return 0;
  return GetKeySize(m_pHeader[header::kEncryptionType]);
}

BOOL CQVStorage::IsArchiveCompressed() {
  return m_pHeader != nullptr && GetDword(m_pHeader, header::kCompression) != 0 ? TRUE : FALSE;
}

ULONGLONG CQVStorage::GetArchiveSize(DWORD dwSelector) {
  if (!SettleQueue()) return QVS_INVALID_OFFSET;
  DWORD increment = GetDword(m_pHeader, header::kIncrement);
  if (dwSelector == 0 && increment != 0) --increment;
  ULONGLONG last = LastVolumeOf(GetQword(m_pHeader, header::kEndOfData));
  ULONGLONG size = 0;
  if (!qv::platform::GetFileSizeOf(VolumeFilePath(static_cast<DWORD>(last), increment), &size)) {
    Fail(GetLastError());
    return QVS_INVALID_OFFSET;
  }
  Succeed();
  return size + (HasVolumeLimit() ? VolumeLimit() * last : 0);
}

// Cuts the stream at the current position. The end-of-data offset follows
// when it lay beyond the cut, so that the header never points past the data.
BOOL CQVStorage::SetEndOfArchive() {
  if (!IsOpen()) return Fail(ERROR_INVALID_HANDLE);
  if (m_bSFXReadMode || m_bReadOnly) return Fail(ERROR_ACCESS_DENIED);
  if (!SettleQueue()) return FALSE;
  ULONGLONG offset = CurrentOffset();
  if (offset == QVS_INVALID_OFFSET) return FALSE;
  m_bVolumeDirty = TRUE;
  if (!m_pVolume->Truncate()) return Fail(GetLastError());
  if (GetQword(m_pHeader, header::kEndOfData) > offset) PutQword(m_pHeader, header::kEndOfData, offset);
  if (!HasVolumeLimit()) return Succeed();
  for (DWORD volume = m_dwCurrentVolume + 1; volume != 0; ++volume) {
    CQVPathString path = VolumeFilePath(volume);
    if (!qv::platform::FileExists(path)) return Succeed();
    qv::platform::MakeWritable(path);
    if (!qv::platform::RemoveFile(path)) return Fail(GetLastError());
  }
  return Succeed();
}
