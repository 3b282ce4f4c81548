// The archive as it lies on disk, for hosts that read or check archives
// byte by byte: the offsets of the header, of each block's header, of the
// file record that opens every saved file, of a file entry's user data in
// the saved index, and of the closing record. Every number is
// little-endian; the readers below assemble them at any alignment. The
// caller checks lengths before reading.
//
// Header (246 bytes):
//   0 magic "SQVO" | 4 version 1 | 8 identifier (16) | 24 increment number
//   28 reserved (4) | 32 flags | 36 compression | 40 block size | 44 volume size (8)
//   52 encryption type (1) | 53 replaced archives: count (1), identifiers (5 x 16)
//   134 reserved (15) | 149 extension (6 UTF-16 units)
//   161 password check value (20) | 181 user data (8) | 189 end of data (8)
//   197 identifier copy (16) | 213 member time (8) | 221 reserved (25)
// Block header (14 bytes):
//   0 stored length | 4 kind and marks (2) | 6 data length | 10 checksum
// File record (first block of every file, kind 1):
//   0 offset of the second name (2) | 2 second name's length (2)
//   4 first name's length (2) | 6 27, the header size (4)
//   10 opening value 1 (4) | 14 opening value 2, low byte (1)
//   15 opening value 3 (4) | 19 opening value 4 (4) | 23 entry index (4)
//   27 first name (the file's name), UTF-16 with terminator
//   then the second name (the file's full path), UTF-16 with terminator
// File user data in the index (18 bytes):
//   0 everything delivered for the file (8) | 8 record block offset (8)
//   16 flags (2): bit 0, the file changed while it was read (0 in archives
//   written before the flags were)
// Closing record (kind 0, stored plain):
//   0 "SQVO" | 4 offset of the first index block (8) | 12 image length (4)
#ifndef QVBACKUP_QVARCHIVELAYOUT_H_
#define QVBACKUP_QVARCHIVELAYOUT_H_

#include "qvbackup/wintypes.h"

namespace qvlayout {

namespace header {
constexpr DWORD kMagic = 0;
constexpr DWORD kVersion = 4;
constexpr DWORD kIdentifier = 8;
constexpr DWORD kIdentifierSize = 16;
constexpr DWORD kIncrement = 24;
constexpr DWORD kReserved1 = 28;
constexpr DWORD kReserved1Size = 4;
constexpr DWORD kFlags = 32;
constexpr DWORD kCompression = 36;
constexpr DWORD kBlockSize = 40;
constexpr DWORD kVolumeSize = 44;
constexpr DWORD kEncryptionType = 52;
// A base archive that replaced others under its name lists their
// identifiers, so that a member of theirs still beside it (the run that
// wrote it was stopped while clearing them away) is known for a leftover,
// never read as part of its chain. 0 to 5 of them; unused slots are 0.
constexpr DWORD kReplacedCount = 53;
constexpr DWORD kReplacedIdentifiers = 54;
constexpr DWORD kMostReplaced = 5;
// How an encrypted archive's keys are made. Archives written before this
// byte was used hold 0 here: their salt is the same for every archive and
// their blocks are bound to nothing. From then on an encrypted archive
// holds 1: its identifier is part of the salt, so equal passwords give
// unrelated keys and check values, and each encrypted block authenticates
// where it lies (identifier, increment, offset, its header's kind, length
// and checksum). Archives without a password hold 0.
constexpr DWORD kKeyScheme = 134;
constexpr BYTE kKeySchemeShared = 0;
constexpr BYTE kKeySchemeOwn = 1;
constexpr DWORD kReserved2 = 135;
constexpr DWORD kReserved2Size = 14;
constexpr DWORD kExtension = 149;
constexpr DWORD kExtensionUnits = 6;  // 5 characters and the terminator
constexpr DWORD kCheckValue = 161;
constexpr DWORD kCheckValueSize = 20;
constexpr DWORD kUserData = 181;
constexpr DWORD kEndOfData = 189;
// An encrypted archive with keys of its own keeps a second copy of its
// identifier here (0 otherwise): the identifier is part of its keys' salt,
// and one damaged byte of it must not pass for a wrong password.
constexpr DWORD kKeyIdentifierCopy = 197;
// When the member's backup began: seconds since 1970 UTC (signed); 0 in
// archives written before members recorded it.
constexpr DWORD kMemberTime = 213;
constexpr DWORD kReserved3 = 221;
constexpr DWORD kReserved3Size = 25;
constexpr DWORD kSize = 246;
constexpr DWORD kVersionNumber = 1;
constexpr BYTE kMagicBytes[4] = {'S', 'Q', 'V', 'O'};
}  // namespace header

namespace block {
constexpr DWORD kStoredLength = 0;
constexpr DWORD kKind = 4;
constexpr DWORD kDataLength = 6;
constexpr DWORD kChecksum = 10;
constexpr DWORD kSize = 14;
constexpr WORD kKindMask = 0x0FFF;
constexpr WORD kUnknownMarks = 0xC000;
constexpr DWORD kEncryptionOverhead = 28;  // nonce and tag
constexpr WORD kKindData = 1;              // file records, file content, the index image
constexpr WORD kKindClosing = 0;
// Written after the record and data of a file whose source failed part-way:
// what precedes it since the record is not the file's whole content. Its
// payload is the file's entry in the index image (4 bytes).
constexpr WORD kKindAbandoned = 2;
constexpr DWORD kAbandonedSize = 4;
// The metadata table of a member (modes, owners, links...), in blocks of
// its own kind, so that no reader takes them for a file's data; then,
// right before the index and stored plain, where the table lies (see
// locator below). Readers that go by the closing record never meet them.
constexpr WORD kKindMetadata = 3;
constexpr WORD kKindMetadataLocator = 4;
// An increment's record of which items of earlier members still exist at
// its time, and its locator (laid out as the metadata table's, "QVMS"),
// right before the metadata table, or before the index when there is none.
constexpr WORD kKindChainState = 5;
constexpr WORD kKindChainStateLocator = 6;
}  // namespace block

namespace locator {
constexpr DWORD kMagic = 0;        // "QVMT"
constexpr DWORD kTableOffset = 4;  // the table's first block (8)
constexpr DWORD kTableLength = 12; // its length in bytes (8)
constexpr DWORD kReserved = 20;    // 0 (4)
constexpr DWORD kSize = 24;
}  // namespace locator

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
// Opening value 4: how the content is laid out in the data blocks. Plain:
// the file's bytes from first to last. Runs (a file with large holes):
// runs of (offset (8), length (8), that many bytes), in order and apart,
// the holes between them left out; the file's size is its entry's.
constexpr DWORD kContentPlain = 1;
constexpr DWORD kContentRuns = 2;
constexpr DWORD kRunHeaderSize = 16;
// What the file service delivers besides the content: its opening record
// (16 bytes) and its naming record (48 bytes and the terminated name).
constexpr ULONGLONG kOpeningBytes = 16;
constexpr ULONGLONG kNamingBytes = 48;
// Both records of a file whose name has `nameLength` code units.
constexpr ULONGLONG RecordBytes(DWORD nameLength) {
  return kOpeningBytes + kNamingBytes + (static_cast<ULONGLONG>(nameLength) + 1) * 2;
}
}  // namespace record

namespace userdata {
constexpr DWORD kFileBytes = 0;
constexpr DWORD kRecordOffset = 8;
constexpr DWORD kFlags = 16;
constexpr DWORD kSize = 18;
// The file was saved as read while it changed: its content need not be as
// long as the size its entry gives (the size when the backup found it).
constexpr WORD kChangedWhileRead = 0x0001;
// Set on every saved file by writers that mark changed files: only then
// does a content of another length than the entry's size mean damage. In
// entries written before (flags 0) a file that changed while read cannot
// be told from a damaged one, so its length is taken as it was saved.
constexpr WORD kChangesMarked = 0x0002;

// Whether a saved file's content may be of another length than its size.
inline bool LengthMayDiffer(WORD flags) { return (flags & kChangesMarked) == 0 || (flags & kChangedWhileRead) != 0; }
}  // namespace userdata

namespace closing {
constexpr DWORD kMagic = 0;
constexpr DWORD kIndexOffset = 4;
constexpr DWORD kImageLength = 12;
constexpr DWORD kSize = 16;
}  // namespace closing

inline WORD GetWord(const BYTE* base, DWORD at) { return static_cast<WORD>(base[at] | base[at + 1] << 8); }
inline DWORD GetDword(const BYTE* base, DWORD at) {
  return static_cast<DWORD>(base[at]) | static_cast<DWORD>(base[at + 1]) << 8 |
         static_cast<DWORD>(base[at + 2]) << 16 | static_cast<DWORD>(base[at + 3]) << 24;
}
inline ULONGLONG GetQword(const BYTE* base, DWORD at) {
  return static_cast<ULONGLONG>(GetDword(base, at)) | static_cast<ULONGLONG>(GetDword(base, at + 4)) << 32;
}

}  // namespace qvlayout

#endif  // QVBACKUP_QVARCHIVELAYOUT_H_
