// The backup control's records, decoded at named offsets.
//
// File record (first block of every file, kind 1):
//   0 offset of the second name (2) | 2 second name's length (2)
//   4 first name's length (2) | 6 27, the header size (4)
//   10 opening value 1 (4) | 14 opening value 2, low byte (1)
//   15 opening value 3 (4) | 19 opening value 4 (4) | 23 entry index (4)
//   27 first name (the file's name), UTF-16 with terminator
//   then the second name (the file's full path), UTF-16 with terminator
// File user data in the index (18 bytes):
//   0 everything delivered for the file (8) | 8 record block offset (8) | 16 0 (2)
// Closing record (kind 0, stored plain):
//   0 "SQVO" | 4 offset of the first index block (8) | 12 image length (4)
#ifndef QVBACKUP_CONTROL_CONTROL_RECORDS_H_
#define QVBACKUP_CONTROL_CONTROL_RECORDS_H_

#include "qvbackup/wintypes.h"

namespace qv::control {

namespace record {
constexpr DWORD kSecondNameOffset = 0;
constexpr DWORD kSecondNameLength = 2;
constexpr DWORD kFirstNameLength = 4;
constexpr DWORD kHeaderSize = 6;
constexpr DWORD kOpening1 = 10;
constexpr DWORD kOpening2 = 14;
constexpr DWORD kOpening3 = 15;
constexpr DWORD kOpening4 = 19;
constexpr DWORD kEntry = 23;
constexpr DWORD kSize = 27;
}  // namespace record

namespace userdata {
constexpr DWORD kFileBytes = 0;
constexpr DWORD kRecordOffset = 8;
constexpr DWORD kSize = 18;
}  // namespace userdata

namespace closing {
constexpr DWORD kMagic = 0;
constexpr DWORD kIndexOffset = 4;
constexpr DWORD kImageLength = 12;
constexpr DWORD kSize = 16;
}  // namespace closing

constexpr WORD kBlockKindData = 1;
constexpr WORD kBlockKindClosing = 0;

}  // namespace qv::control

#endif  // QVBACKUP_CONTROL_CONTROL_RECORDS_H_
