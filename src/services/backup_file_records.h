// The two records CQVBackupFile hands over before a file's content, as bytes
// at named offsets (little-endian, packed; the layouts of
// qvbackup/qvbackupfile.h):
//
// Opening record (16 bytes):
//   0 version (1) | 4 kind (1, a file) | 8 attributes | 12 content streams (1)
// Naming record (48 bytes, then the name):
//   0 tag (50) | 4 address of the full path (not stored) | 12 attributes
//   16 size (8) | 24 creation time (8) | 32 last access time (8)
//   40 last write time (8) | 48 name, UTF-16, terminated
#ifndef QVBACKUP_SERVICES_BACKUP_FILE_RECORDS_H_
#define QVBACKUP_SERVICES_BACKUP_FILE_RECORDS_H_

#include <cstddef>
#include <vector>

#include "platform/text.h"
#include "qvbackup/qvbackupfile.h"
#include "qvbackup/wintypes.h"

namespace qv::services {

namespace opening {
constexpr DWORD kVersion = 0;
constexpr DWORD kKind = 4;
constexpr DWORD kAttributes = 8;
constexpr DWORD kStreams = 12;
constexpr DWORD kSize = 16;
constexpr DWORD kOneStream = 1;
// The content of a file with holes: runs of (offset (8), length (8), that
// many bytes), in order, the holes between them left out; the file's size
// is the naming record's. Readers that know only one stream refuse it
// (ERROR_INVALID_DATA) rather than give back other bytes.
constexpr DWORD kRuns = 2;
}  // namespace opening

namespace naming {
constexpr DWORD kTag = 0;
constexpr DWORD kPath = 4;
constexpr DWORD kAttributes = 12;
constexpr DWORD kSize = 16;
constexpr DWORD kCreationTime = 24;
constexpr DWORD kLastAccessTime = 32;
constexpr DWORD kLastWriteTime = 40;
constexpr DWORD kName = 48;
// The room a restore offers for the name, terminator included; the longest
// name that can be saved is one code unit shorter.
constexpr DWORD kNameRoom = 1024;
constexpr DWORD kLongestName = kNameRoom - 1;
constexpr DWORD kRestoreBufferSize = kName + kNameRoom * 2;
}  // namespace naming

static_assert(opening::kSize == sizeof(QVBF_OPENING_RECORD));
static_assert(opening::kAttributes == offsetof(QVBF_OPENING_RECORD, dwAttributes));
static_assert(opening::kStreams == offsetof(QVBF_OPENING_RECORD, dwStreams));
static_assert(naming::kPath == offsetof(QVBF_NAMING_RECORD, pszPath));
static_assert(naming::kAttributes == offsetof(QVBF_NAMING_RECORD, dwAttributes));
static_assert(naming::kSize == offsetof(QVBF_NAMING_RECORD, ullSize));
static_assert(naming::kCreationTime == offsetof(QVBF_NAMING_RECORD, ftCreationTime));
static_assert(naming::kLastAccessTime == offsetof(QVBF_NAMING_RECORD, ftLastAccessTime));
static_assert(naming::kLastWriteTime == offsetof(QVBF_NAMING_RECORD, ftLastWriteTime));
static_assert(naming::kName == sizeof(QVBF_NAMING_RECORD));

// What the naming record says of a file.
struct FileDescription {
  DWORD attributes = 0;
  ULONGLONG size = 0;
  FILETIME creationTime = {0, 0};
  FILETIME lastAccessTime = {0, 0};
  FILETIME lastWriteTime = {0, 0};
  WString name;
};

// The opening record of a file with `attributes` whose content is
// `streams` (opening::kOneStream, or opening::kRuns for a file with holes).
void EncodeOpeningRecord(DWORD attributes, BYTE (&record)[opening::kSize], DWORD streams = opening::kOneStream);

// Checks the opening record in `length` bytes at `record`: at least 16 bytes,
// version 1, kind 1 (read from its low byte, the part that is kept) and one
// content stream or runs; *streams (when given) gets which. False with
// ERROR_INVALID_DATA otherwise.
bool CheckOpeningRecord(const BYTE* record, DWORD length, DWORD* streams = nullptr);

// The naming record of `file`, its reference to `path` included (the address
// is only valid while `path` is). Its length is 48 + (name length + 1) × 2.
std::vector<BYTE> EncodeNamingRecord(const FileDescription& file, const WCHAR* path);

// Reads the naming record in `length` bytes at `record`: the tag must be 50
// and the name must end with its terminator within the bytes given. Fills
// *file and stores the record's length (48 + (name length + 1) × 2) in
// *recordLength. False with ERROR_INVALID_DATA otherwise.
bool DecodeNamingRecord(const BYTE* record, DWORD length, FileDescription* file, DWORD* recordLength);

}  // namespace qv::services

#endif  // QVBACKUP_SERVICES_BACKUP_FILE_RECORDS_H_
