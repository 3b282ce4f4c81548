// Loading an NTFS volume from its master file table.
//
// Records are asked for from the highest down; the volume answers with the
// highest in-use record at or below the number asked for. Each named record
// becomes one unlinked entry per name, carrying its parent folder's record
// number as user data; one pass at the end links them into a tree. Every
// field is read through the bounds-checked decoding of ntfs_layout, so a
// damaged record is skipped, never read past.
#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "fileindex/entry_name.h"
#include "fileindex/ntfs_layout.h"
#include "fileindex/ntfs_stream.h"
#include "platform/raw_volume.h"
#include "qvbackup/qvfilearray.h"

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint32_t kStandardInformation = 0x10;
constexpr std::uint32_t kAttributeList = 0x20;
constexpr std::uint32_t kFileName = 0x30;
constexpr std::uint64_t kReferenceMask = 0x0000FFFFFFFFFFFFull;
constexpr DWORD kRootFolderRecord = 5;
constexpr DWORD kReadSteps = 850;
constexpr DWORD kLinkSteps = 150;
constexpr DWORD kRecordHeaderSize = 12;  // record number (8) and length (4) before the record
constexpr std::size_t kBaseReference = 0x20;
constexpr std::size_t kRecordHeaderMinimum = 0x28;

// One name of a record.
struct NameSlot {
  std::u16string name;
  ULONGLONG parent = 0;
  bool folder = false;
};

// What a record (with its extension records) says about its file.
struct RecordFacts {
  std::vector<NameSlot> names;
  DWORD attributes = 0;
  ULONGLONG times[4] = {0, 0, 0, 0};  // creation, last write, change, last access
  ULONGLONG size = 0;
  bool sizeKnown = false;
};

// Reads one $FILE_NAME value into a slot; DOS names are left out (the long
// name of the same file is kept).
bool ReadFileName(Bytes value, NameSlot* slot) {
  if (value.size() < 66) return false;
  std::uint8_t length = value[64];
  std::uint8_t space = value[65];
  if (space == 2 || space == 4 || value.size() < 66u + 2u * length || length == 0) return false;
  slot->parent = qv::ntfs::Le64(value, 0) & kReferenceMask;
  slot->folder = (qv::ntfs::Le32(value, 56) & 0x10000000u) != 0;
  slot->name.resize(length);
  for (std::size_t i = 0; i < length; ++i) {
    slot->name[i] = static_cast<char16_t>(qv::ntfs::Le16(value, 66 + 2 * i));
    // A 0 unit would end the name early in the index image: a damaged name.
    if (slot->name[i] == 0) return false;
  }
  return true;
}

void ReadStandardInformation(Bytes value, RecordFacts* facts) {
  if (value.size() < 36) return;
  for (int i = 0; i < 4; ++i) facts->times[i] = qv::ntfs::Le64(value, 8 * i);
  facts->attributes = qv::ntfs::Le32(value, 32) & 0xFFFFu;
}

void ReadDataSize(const qv::ntfs::AttributeView& attribute, RecordFacts* facts) {
  if (facts->sizeKnown || !attribute.name.empty()) return;
  facts->size = attribute.nonResident ? attribute.dataSize : attribute.value.size();
  facts->sizeKnown = true;
}

// The record of the answer: (record number, length, record).
Bytes RecordOf(const std::vector<BYTE>& answer, ULONGLONG* number) {
  if (answer.size() < kRecordHeaderSize) return {};
  *number = qv::ntfs::Le64(answer, 0);
  DWORD length = qv::ntfs::Le32(answer, 8);
  if (length > answer.size() - kRecordHeaderSize) return {};
  return Bytes(answer.data() + kRecordHeaderSize, length);
}

}  // namespace

BOOL CQVFileArray::ReadMFTEntry(LONGLONG llRecord, std::vector<BYTE>* pBuffer) {
  if (m_pRawVolume == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD returned = 0;
  if (!m_pRawVolume->GetNtfsFileRecord(llRecord, pBuffer->data(), static_cast<DWORD>(pBuffer->size()), &returned)) {
    return FALSE;
  }
  return TRUE;
}

// Adds the names and size an extension record holds (`what`: bit 0 names,
// bit 1 size). Failures are ignored: the base record stands on its own.
static void ReadExtensionRecord(CQVFileArray* index, std::vector<BYTE>* buffer, ULONGLONG reference, int what,
                                RecordFacts* facts,
                                BOOL (CQVFileArray::*read)(LONGLONG, std::vector<BYTE>*)) {
  if (!(index->*read)(static_cast<LONGLONG>(reference), buffer)) return;
  ULONGLONG number = 0;
  Bytes record = RecordOf(*buffer, &number);
  if (record.empty() || number != reference) return;
  qv::ntfs::ForEachAttribute(record, [&](const qv::ntfs::AttributeView& attribute) {
    if ((what & 1) && attribute.type == kFileName && !attribute.nonResident) {
      NameSlot slot;
      if (ReadFileName(attribute.value, &slot)) facts->names.push_back(std::move(slot));
    }
    if ((what & 2) && attribute.type == qv::ntfs::kAttrData && attribute.nonResident) ReadDataSize(attribute, facts);
    return true;
  });
}

BOOL CQVFileArray::ProcessMFTEntry(const std::vector<BYTE>& answer) {
  ULONGLONG number = 0;
  Bytes record = RecordOf(answer, &number);
  if (record.size() < kRecordHeaderMinimum) return TRUE;
  // Extension records are read through their base record.
  if ((qv::ntfs::Le64(record, kBaseReference) & kReferenceMask) != 0) return TRUE;

  RecordFacts facts;
  std::vector<ULONGLONG> extensions;
  std::vector<ULONGLONG> nameExtensions;
  std::vector<std::uint8_t> listBytes;
  bool wellFormed = qv::ntfs::ForEachAttribute(record, [&](const qv::ntfs::AttributeView& attribute) {
    switch (attribute.type) {
      case kStandardInformation:
        if (!attribute.nonResident) ReadStandardInformation(attribute.value, &facts);
        break;
      case kFileName: {
        NameSlot slot;
        if (!attribute.nonResident && ReadFileName(attribute.value, &slot)) facts.names.push_back(std::move(slot));
        break;
      }
      case qv::ntfs::kAttrData:
        ReadDataSize(attribute, &facts);
        break;
      case kAttributeList:
        if (!attribute.nonResident) {
          listBytes.assign(attribute.value.begin(), attribute.value.end());
        } else {
          // A list that does not fit its record is read through all its runs.
          std::vector<qv::ntfs::Run> runs;
          std::uint32_t cluster = qv::ntfs::Le32(Bytes(m_abNtfsVolumeData, sizeof(m_abNtfsVolumeData)),
                                                 qv::platform::kBytesPerClusterAt);
          if (cluster == 0 || attribute.dataSize > (1u << 24) ||
              !qv::ntfs::DecodeRuns(attribute.value, attribute.firstVcn, &runs)) {
            break;
          }
          listBytes.resize(attribute.dataSize);
          std::size_t filled = 0;
          for (const qv::ntfs::Run& run : runs) {
            for (std::uint64_t c = 0; c < run.length && filled < listBytes.size(); ++c) {
              DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(cluster, listBytes.size() - filled));
              DWORD read = 0;
              if (run.sparse || !m_pRawVolume->Read((run.lcn + c) * cluster, listBytes.data() + filled, chunk, &read) ||
                  read != chunk) {
                listBytes.clear();
                return true;
              }
              filled += chunk;
            }
          }
          if (filled != listBytes.size()) listBytes.clear();
        }
        break;
    }
    return true;
  });
  if (!wellFormed) return TRUE;  // a damaged record is skipped

  // Attribute list entries: type (4) at 0, entry length (2) at 4, record at 16.
  Bytes list(listBytes);
  for (std::size_t at = 0; at + 24 <= list.size();) {
    std::uint16_t length = qv::ntfs::Le16(list, at + 4);
    if (length < 24 || at + length > list.size()) break;
    ULONGLONG reference = qv::ntfs::Le64(list, at + 16) & kReferenceMask;
    if (reference != number) {
      bool isName = qv::ntfs::Le32(list, at) == kFileName;
      auto& target = isName ? nameExtensions : extensions;
      if (std::find(target.begin(), target.end(), reference) == target.end()) target.push_back(reference);
    }
    at += length;
  }
  std::vector<BYTE> buffer(answer.size());
  for (ULONGLONG reference : nameExtensions) {
    ReadExtensionRecord(this, &buffer, reference, 3, &facts, &CQVFileArray::ReadMFTEntry);
  }
  for (ULONGLONG reference : extensions) {
    if (std::find(nameExtensions.begin(), nameExtensions.end(), reference) != nameExtensions.end()) continue;
    ReadExtensionRecord(this, &buffer, reference, 2, &facts, &CQVFileArray::ReadMFTEntry);
  }
  if (facts.names.empty()) return TRUE;  // nothing to show: no usable name

  const bool inUse = (qv::ntfs::Le16(record, qv::ntfs::kRecordFlags) & qv::ntfs::kRecordInUse) != 0;
  const bool recordIsFolder = (qv::ntfs::Le16(record, qv::ntfs::kRecordFlags) & qv::ntfs::kRecordIsFolder) != 0;
  if (number == kRootFolderRecord) {
    // The volume's root folder is the drive itself.
    NameSlot root{std::u16string{static_cast<char16_t>(m_wcDrive), u':'}, kRootFolderRecord, true};
    facts.names.assign(1, root);
  }
  for (const NameSlot& slot : facts.names) {
    _tagQVFA_FILEINFO info;
    std::memset(&info, 0, sizeof(info));
    bool folder = slot.folder || recordIsFolder;
    info.dwFileAttributes = facts.attributes | (folder ? FILE_ATTRIBUTE_DIRECTORY : 0);
    info.ftCreationTime.dwLowDateTime = static_cast<DWORD>(facts.times[0]);
    info.ftCreationTime.dwHighDateTime = static_cast<DWORD>(facts.times[0] >> 32);
    info.ftLastWriteTime.dwLowDateTime = static_cast<DWORD>(facts.times[1]);
    info.ftLastWriteTime.dwHighDateTime = static_cast<DWORD>(facts.times[1] >> 32);
    info.ftChangeTime.dwLowDateTime = static_cast<DWORD>(facts.times[2]);
    info.ftChangeTime.dwHighDateTime = static_cast<DWORD>(facts.times[2] >> 32);
    info.ftLastAccessTime.dwLowDateTime = static_cast<DWORD>(facts.times[3]);
    info.ftLastAccessTime.dwHighDateTime = static_cast<DWORD>(facts.times[3] >> 32);
    info.ullSize = folder ? 0 : facts.size;
    info.ullState = inUse ? 1 : 0;
    info.ullReference = number;
    std::vector<WCHAR> name(slot.name.begin(), slot.name.end());
    ULONGLONG parent = slot.parent;
    DWORD entry = CreateDirectoryEntry(&info, name.data(), static_cast<DWORD>(name.size()), QVFA_NOTLINKED,
                                       sizeof(parent), &parent);
    if (entry == 0) return FALSE;
    if (folder) m_mapReference[number] = entry;
  }
  return TRUE;
}

BOOL CQVFileArray::LoadNTFSVolume(LPCWSTR pszPath, QVFA_PROGRESSPROC pfnProgress, ULONGLONG ullUserValue) {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  ResetImage();
  return AddNTFSVolume(pszPath, pfnProgress, ullUserValue);
}

// What both NTFS loaders check first: a tree that may change, and a path
// that names a drive.
BOOL CQVFileArray::StartNtfsLoad(LPCWSTR pszPath) {
  if (m_bChunkLoading) {
    SetLastError(ERROR_INVALID_STATE);
    return FALSE;
  }
  if (pszPath == nullptr || pszPath[0] == 0 || pszPath[1] == 0) {
    SetLastError(ERROR_BAD_PATHNAME);
    return FALSE;
  }
  m_wcDrive = pszPath[0];
  return TRUE;
}

BOOL CQVFileArray::AddNTFSVolume(LPCWSTR pszPath, QVFA_PROGRESSPROC pfnProgress, ULONGLONG ullUserValue) {
  if (!StartNtfsLoad(pszPath)) return FALSE;
  if (m_pRawVolume == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!m_pRawVolume->GetNtfsVolumeData(m_abNtfsVolumeData)) {
    DWORD error = GetLastError();
    CloseDrive();
    SetLastError(error);
    return FALSE;
  }
  Bytes volumeData(m_abNtfsVolumeData, sizeof(m_abNtfsVolumeData));
  DWORD recordSize = qv::ntfs::Le32(volumeData, qv::platform::kBytesPerFileRecordAt);
  ULONGLONG validLength = qv::ntfs::Le64(volumeData, qv::platform::kMftValidDataLengthAt);
  if (recordSize < 256 || recordSize > 65536) {
    SetLastError(ERROR_BAD_FORMAT);
    return FALSE;
  }
  LONGLONG highest = static_cast<LONGLONG>(validLength / recordSize) - 1;
  ULONGLONG step = std::max<ULONGLONG>(static_cast<ULONGLONG>(std::max<LONGLONG>(highest, 0)) / kReadSteps, 1);
  DWORD start = m_dwUsed;
  ULONGLONG counter = 0;
  if (pfnProgress != nullptr) pfnProgress(0, ullUserValue, 0, 0);

  std::vector<BYTE> answer(kRecordHeaderSize + recordSize);
  for (LONGLONG next = highest; next >= 0;) {
    if (!ReadMFTEntry(next, &answer)) break;  // nothing in use below: the end
    ULONGLONG number = qv::ntfs::Le64(answer, 0);
    if (static_cast<LONGLONG>(number) > next) break;
    if (!ProcessMFTEntry(answer)) return FALSE;
    next = static_cast<LONGLONG>(number) - 1;
    if (pfnProgress != nullptr && next >= 0 && static_cast<ULONGLONG>(next) % step == 0 && counter < kReadSteps) {
      pfnProgress(0, ullUserValue, ++counter, 0);
    }
  }
  RelinkDatabase(start, pfnProgress, ullUserValue);
  m_mapReference.clear();
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// Links the entries from `dwStart` on below the folders their user data
// names. A folder whose parents would lead back to itself (a damaged
// volume) is made top-level, so every path ends.
void CQVFileArray::RelinkDatabase(DWORD dwStart, QVFA_PROGRESSPROC pfnProgress, ULONGLONG ullUserValue) {
  std::vector<DWORD> entries;
  for (DWORD offset = dwStart; offset < m_dwUsed;) {
    if (!IsValidIndex(offset)) break;
    entries.push_back(offset);
    WORD size = GetEntry(offset)->wSize;
    if (size == 0) break;
    offset += size;
  }
  std::unordered_map<DWORD, std::size_t> ordinal;
  for (std::size_t i = 0; i < entries.size(); ++i) ordinal[entries[i]] = i;

  std::vector<DWORD> parents(entries.size(), 0);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    QVFA_INDEXENTRY* entry = GetEntry(entries[i]);
    qv::fileindex::EntryName name(entry);
    if (name.length() >= 2 && name.c_str()[1] == u':') continue;  // a drive: top level
    ULONGLONG reference = 0;
    std::memcpy(&reference, reinterpret_cast<BYTE*>(entry) + entry->wUserDataOffset,
                std::min<std::size_t>(entry->bUserDataSize, sizeof(reference)));
    auto found = m_mapReference.find(reference);
    if (found != m_mapReference.end() && found->second != entries[i]) parents[i] = found->second;
  }
  // Break cycles in the parent links: 0 new, 1 on the current walk, 2 done.
  std::vector<BYTE> state(entries.size(), 0);
  std::vector<std::size_t> walk;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    walk.clear();
    std::size_t at = i;
    for (;;) {
      if (state[at] == 2) break;
      if (state[at] == 1) {
        parents[walk.back()] = 0;  // the link that closes the loop
        break;
      }
      state[at] = 1;
      walk.push_back(at);
      auto next = ordinal.find(parents[at]);
      if (parents[at] == 0 || next == ordinal.end()) break;
      at = next->second;
    }
    for (std::size_t visited : walk) state[visited] = 2;
  }

  ULONGLONG counter = 851;
  DWORD span = std::max<DWORD>((m_dwUsed - dwStart) / kLinkSteps, 1);
  DWORD nextReport = dwStart + span;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    DWORD index = entries[i];
    LinkAsLastChild(index, parents[i]);
    RememberChild(parents[i], GetEntry(index)->dwNameCRC, index);
    if (pfnProgress != nullptr && index >= nextReport) {
      pfnProgress(0, ullUserValue, ++counter, 0);
      nextReport += span;
    }
  }
}

BOOL CQVFileArray::AddNTFSVolume2(LPCWSTR pszPath, QVFA_PROGRESSPROC pfnProgress, ULONGLONG ullUserValue) {
  if (!StartNtfsLoad(pszPath)) return FALSE;
  auto geometry = qv::ntfs::ParseBootSector(Bytes(m_abBootSector, sizeof(m_abBootSector)));
  if (m_pRawVolume == nullptr || !geometry) {
    SetLastError(m_pRawVolume == nullptr ? ERROR_INVALID_HANDLE : ERROR_BAD_FORMAT);
    return FALSE;
  }
  const DWORD recordSize = geometry->bytesPerFileRecord;
  const DWORD cluster = geometry->bytesPerCluster;
  auto fail = [&](DWORD error) {
    CloseDrive();
    SetLastError(error);
    return FALSE;
  };
  qv::ntfs::ReadAt readVolume = [this](std::uint64_t offset, std::uint8_t* out, std::size_t size) {
    DWORD got = 0;
    return m_pRawVolume->Read(offset, out, static_cast<DWORD>(size), &got) && got == size;
  };
  // The MFT's own record says where the rest of the MFT lies.
  std::vector<BYTE> answer(kRecordHeaderSize + recordSize, 0);
  std::span<std::uint8_t> record(answer.data() + kRecordHeaderSize, recordSize);
  qv::ntfs::MftLayout layout;
  if (geometry->mftLcn > ~0ull / cluster || !readVolume(geometry->mftLcn * cluster, record.data(), recordSize) ||
      !qv::ntfs::ApplyFixup(record, qv::ntfs::kFileSignature) ||
      !qv::ntfs::LoadMftLayout(record, *geometry, readVolume, &layout)) {
    return fail(ERROR_INVALID_DATA);
  }
  LONGLONG highest = static_cast<LONGLONG>(layout.validLength / recordSize) - 1;
  ULONGLONG step = std::max<ULONGLONG>(static_cast<ULONGLONG>(std::max<LONGLONG>(highest, 0)) / kReadSteps, 1);
  DWORD start = m_dwUsed;
  ULONGLONG counter = 0;
  if (pfnProgress != nullptr) pfnProgress(0, ullUserValue, 0, 0);
  qv::ntfs::StreamWindow mft(layout.runs, cluster, layout.validLength, readVolume);
  for (LONGLONG number = highest; number >= 1; --number) {
    if (!mft.Read(static_cast<ULONGLONG>(number) * recordSize, record.data(), recordSize) ||
        !qv::ntfs::ApplyFixup(record, qv::ntfs::kFileSignature)) {
      continue;  // a damaged or unused slot
    }
    for (int i = 0; i < 8; ++i) answer[i] = static_cast<BYTE>(static_cast<ULONGLONG>(number) >> (8 * i));
    for (int i = 0; i < 4; ++i) answer[8 + i] = static_cast<BYTE>(recordSize >> (8 * i));
    if (!ProcessMFTEntry(answer)) return fail(GetLastError());
    if (pfnProgress != nullptr && static_cast<ULONGLONG>(number) % step == 0 && counter < kReadSteps) {
      pfnProgress(0, ullUserValue, ++counter, 0);
    }
  }
  RelinkDatabase(start, pfnProgress, ullUserValue);
  m_mapReference.clear();
  CloseDrive();
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
