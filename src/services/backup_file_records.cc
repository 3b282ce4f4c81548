#include "services/backup_file_records.h"

#include <cstring>

namespace qv::services {

namespace {

DWORD GetDword(const BYTE* base, DWORD at) {
  return static_cast<DWORD>(base[at]) | static_cast<DWORD>(base[at + 1]) << 8 |
         static_cast<DWORD>(base[at + 2]) << 16 | static_cast<DWORD>(base[at + 3]) << 24;
}

ULONGLONG GetQword(const BYTE* base, DWORD at) {
  return static_cast<ULONGLONG>(GetDword(base, at)) | static_cast<ULONGLONG>(GetDword(base, at + 4)) << 32;
}

FILETIME GetTime(const BYTE* base, DWORD at) { return FILETIME{GetDword(base, at), GetDword(base, at + 4)}; }

void PutDword(BYTE* base, DWORD at, DWORD value) {
  for (int i = 0; i < 4; ++i) base[at + i] = static_cast<BYTE>(value >> (8 * i));
}

void PutQword(BYTE* base, DWORD at, ULONGLONG value) {
  for (int i = 0; i < 8; ++i) base[at + i] = static_cast<BYTE>(value >> (8 * i));
}

void PutTime(BYTE* base, DWORD at, const FILETIME& time) {
  PutDword(base, at, time.dwLowDateTime);
  PutDword(base, at + 4, time.dwHighDateTime);
}

bool InvalidData() {
  SetLastError(ERROR_INVALID_DATA);
  return false;
}

}  // namespace

void EncodeOpeningRecord(DWORD attributes, BYTE (&record)[opening::kSize], DWORD streams) {
  PutDword(record, opening::kVersion, QVBF_OPENING_VERSION);
  PutDword(record, opening::kKind, QVBF_KIND_FILE);
  PutDword(record, opening::kAttributes, attributes);
  PutDword(record, opening::kStreams, streams);
}

bool CheckOpeningRecord(const BYTE* record, DWORD length, DWORD* streams) {
  if (record == nullptr || length < opening::kSize) return InvalidData();
  // Only the kind's low byte survives in an archive.
  const DWORD content = GetDword(record, opening::kStreams);
  bool known = GetDword(record, opening::kVersion) == QVBF_OPENING_VERSION &&
               (GetDword(record, opening::kKind) & 0xFF) == QVBF_KIND_FILE &&
               (content == opening::kOneStream || content == opening::kRuns);
  if (known && streams != nullptr) *streams = content;
  return known || InvalidData();
}

std::vector<BYTE> EncodeNamingRecord(const FileDescription& file, const WCHAR* path) {
  std::vector<BYTE> record(naming::kName + (file.name.size() + 1) * sizeof(WCHAR), 0);
  BYTE* base = record.data();
  PutDword(base, naming::kTag, QVBF_NAMING_RECORD_TAG);
  std::memcpy(base + naming::kPath, &path, sizeof(path));
  PutDword(base, naming::kAttributes, file.attributes);
  PutQword(base, naming::kSize, file.size);
  PutTime(base, naming::kCreationTime, file.creationTime);
  PutTime(base, naming::kLastAccessTime, file.lastAccessTime);
  PutTime(base, naming::kLastWriteTime, file.lastWriteTime);
  // UTF-16 code units are stored little-endian, one after the other.
  for (std::size_t i = 0; i < file.name.size(); ++i) {
    base[naming::kName + 2 * i] = static_cast<BYTE>(file.name[i]);
    base[naming::kName + 2 * i + 1] = static_cast<BYTE>(file.name[i] >> 8);
  }
  return record;
}

bool DecodeNamingRecord(const BYTE* record, DWORD length, FileDescription* file, DWORD* recordLength) {
  if (record == nullptr || length < naming::kName) return InvalidData();
  if (GetDword(record, naming::kTag) != QVBF_NAMING_RECORD_TAG) return InvalidData();
  WString name;
  DWORD at = naming::kName;
  for (;; at += 2) {
    if (length - at < 2) return InvalidData();  // no terminator in the bytes given
    WCHAR unit = static_cast<WCHAR>(record[at] | record[at + 1] << 8);
    if (unit == 0) break;
    name.push_back(unit);
  }
  file->attributes = GetDword(record, naming::kAttributes);
  file->size = GetQword(record, naming::kSize);
  file->creationTime = GetTime(record, naming::kCreationTime);
  file->lastAccessTime = GetTime(record, naming::kLastAccessTime);
  file->lastWriteTime = GetTime(record, naming::kLastWriteTime);
  file->name = std::move(name);
  *recordLength = at + 2;
  return true;
}

}  // namespace qv::services
