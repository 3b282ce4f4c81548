// Where an NTFS entry's data lies on its volume: the extents of its data
// streams, decoded from its file record.
#include <algorithm>
#include <cstring>
#include <span>

#include "fileindex/ntfs_layout.h"
#include "platform/raw_volume.h"
#include "qvbackup/qvfilearray.h"

namespace {

using Bytes = std::span<const std::uint8_t>;
constexpr DWORD kAnswerHeader = 12;

}  // namespace

// Walks the data streams of the entry's record; with `dwStream` all ones
// every stream is collected, else only that one. *pdwFound counts streams.
BOOL CQVFileArray::CollectStreams(DWORD dwIndex, DWORD dwStream, std::vector<QVFA_RUN>* pRuns, DWORD* pdwFound,
                                  std::vector<BYTE>* pResident) {
  *pdwFound = 0;
  QVFA_INDEXENTRY* entry = CheckedEntry(dwIndex);
  if (entry == nullptr) return FALSE;
  DWORD reference = entry->dwVolumeReference;
  bool opened = false;
  if (m_pRawVolume == nullptr) {
    if (!OpenDrive(m_wcDrive)) return FALSE;
    opened = true;
  }
  auto done = [&](BOOL result) {
    DWORD error = GetLastError();
    if (opened) CloseDrive();
    SetLastError(error);
    return result;
  };
  Bytes volumeData(m_abNtfsVolumeData, sizeof(m_abNtfsVolumeData));
  DWORD recordSize = qv::ntfs::Le32(volumeData, qv::platform::kBytesPerFileRecordAt);
  DWORD cluster = qv::ntfs::Le32(volumeData, qv::platform::kBytesPerClusterAt);
  if (recordSize < 256 || recordSize > 65536 || cluster == 0) {
    SetLastError(ERROR_BAD_FORMAT);
    return done(FALSE);
  }
  std::vector<BYTE> answer(kAnswerHeader + recordSize);
  DWORD returned = 0;
  if (!m_pRawVolume->GetNtfsFileRecord(reference, answer.data(), static_cast<DWORD>(answer.size()), &returned)) {
    return done(FALSE);
  }
  if (qv::ntfs::Le64(answer, 0) != reference) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return done(FALSE);
  }
  DWORD length = std::min<DWORD>(qv::ntfs::Le32(answer, 8), recordSize);
  Bytes record(answer.data() + kAnswerHeader, length);

  // A resident stream lies inside the MFT: find where the record itself is.
  auto recordPosition = [&]() -> ULONGLONG {
    std::vector<BYTE> mft(kAnswerHeader + recordSize);
    DWORD got = 0;
    if (!m_pRawVolume->GetNtfsFileRecord(0, mft.data(), static_cast<DWORD>(mft.size()), &got)) return 0;
    Bytes mftRecord(mft.data() + kAnswerHeader, std::min<DWORD>(qv::ntfs::Le32(mft, 8), recordSize));
    auto data = qv::ntfs::FindUnnamedAttribute(mftRecord, qv::ntfs::kAttrData);
    std::vector<qv::ntfs::Run> runs;
    if (!data || !data->nonResident || !qv::ntfs::DecodeRuns(data->value, data->firstVcn, &runs)) return 0;
    ULONGLONG byte = static_cast<ULONGLONG>(reference) * recordSize;
    std::uint64_t contiguous = 0;
    bool sparse = false;
    auto lcn = qv::ntfs::MapVcn(runs, byte / cluster, &contiguous, &sparse);
    return lcn && !sparse ? *lcn * cluster + byte % cluster : 0;
  };

  DWORD stream = 0;
  bool ok = qv::ntfs::ForEachAttribute(record, [&](const qv::ntfs::AttributeView& attribute) {
    if (attribute.type != qv::ntfs::kAttrData) return true;
    const bool wanted = dwStream == 0xFFFFFFFFu || stream == dwStream;
    ++stream;
    if (!wanted) return true;
    ++*pdwFound;
    if (!attribute.nonResident) {
      ULONGLONG valueAt = static_cast<ULONGLONG>(attribute.value.data() - record.data());
      ULONGLONG position = recordPosition();
      pRuns->push_back({attribute.value.size(), position == 0 ? 0 : position + valueAt});
      if (pResident != nullptr) pResident->assign(attribute.value.begin(), attribute.value.end());
      return true;
    }
    std::vector<qv::ntfs::Run> runs;
    if (!qv::ntfs::DecodeRuns(attribute.value, attribute.firstVcn, &runs)) return false;
    for (const qv::ntfs::Run& run : runs) {
      pRuns->push_back({run.length * cluster, run.sparse ? 0 : run.lcn * cluster});
    }
    return true;
  });
  if (!ok) {
    SetLastError(ERROR_INVALID_DATA);
    return done(FALSE);
  }
  SetLastError(ERROR_SUCCESS);
  return done(TRUE);
}

DWORD CQVFileArray::GetRunList(DWORD dwIndex, std::vector<QVFA_RUN>& runs) {
  DWORD found = 0;
  if (!CollectStreams(dwIndex, 0xFFFFFFFFu, &runs, &found)) return 0;
  return static_cast<DWORD>(runs.size());
}

QVFA_ENTRYDATA* CQVFileArray::FindEntryData(DWORD dwIndex, DWORD dwStream) {
  auto* data = new QVFA_ENTRYDATA();
  std::memset(data->abReserved, 0, sizeof(data->abReserved));
  DWORD found = 0;
  if (dwStream == 0xFFFFFFFFu || !CollectStreams(dwIndex, dwStream, &data->runs, &found, &data->resident) ||
      found == 0) {
    if (found == 0 && GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_NOT_FOUND);
    delete data;
    return nullptr;
  }
  return data;
}

BOOL CQVFileArray::ReadEntryData(QVFA_ENTRYDATA* pData, BYTE* pBuffer, DWORD dwSize) {
  if (pData == nullptr || (pBuffer == nullptr && dwSize != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!pData->resident.empty() || (pData->runs.size() == 1 && pData->runs[0].ullLength == 0)) {
    DWORD count = static_cast<DWORD>(std::min<std::size_t>(pData->resident.size(), dwSize));
    if (count != 0) std::memcpy(pBuffer, pData->resident.data(), count);
    if (count < dwSize) std::memset(pBuffer + count, 0, dwSize - count);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  bool opened = false;
  if (m_pRawVolume == nullptr) {
    if (!OpenDrive(m_wcDrive)) return FALSE;
    opened = true;
  }
  BOOL result = TRUE;
  DWORD filled = 0;
  for (const QVFA_RUN& run : pData->runs) {
    if (filled == dwSize) break;
    DWORD count = static_cast<DWORD>(std::min<ULONGLONG>(run.ullLength, dwSize - filled));
    if (run.ullOffset == 0) {
      std::memset(pBuffer + filled, 0, count);  // a hole
    } else {
      DWORD read = 0;
      if (!m_pRawVolume->Read(run.ullOffset, pBuffer + filled, count, &read) || read != count) {
        if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_HANDLE_EOF);
        result = FALSE;
        break;
      }
    }
    filled += count;
  }
  if (result && filled < dwSize) std::memset(pBuffer + filled, 0, dwSize - filled);
  DWORD error = GetLastError();
  if (opened) CloseDrive();
  SetLastError(result ? ERROR_SUCCESS : error);
  return result;
}

void CQVFileArray::ReleaseEntryData(QVFA_ENTRYDATA* pData) { delete pData; }
