// The metadata table of an archive member: for each entry of its index that
// has any, what a POSIX system keeps of the item beyond its content (type,
// mode, owner, times to the nanosecond, link target, extended attributes,
// the other name of a file saved once). The backup writes it as blocks
// before the index and names it in the closing record; readers that know
// nothing of it never read it.
//
// Layout (little-endian): "QVMT", version (2, 1), 0 (2), record count (4),
// then per record: the entry (4), the bytes of its fields (4), the fields.
// A field: its type (2), its length (4), its value. Types:
//   1 type and mode: mode (4: 07777 bits), type (1: 1 file, 2 folder, 3 link)
//   2 owner: user number (4), group number (4)
//   3 owner's name, 4 group's name: UTF-8
//   5 modified, 6 accessed: seconds since 1970 (8, signed), nanoseconds (4)
//   7 symbolic link target: its bytes
//   8 other name of: the entry (4) whose content this file shares
//   9 extended attribute: name length (2), name, value
// Readers skip fields of a type they do not know.
#ifndef QVBACKUP_CONTROL_METADATA_TABLE_H_
#define QVBACKUP_CONTROL_METADATA_TABLE_H_

#include <cstddef>
#include <map>
#include <vector>

#include "platform/posix_metadata.h"
#include "qvbackup/wintypes.h"

namespace qv::control {

struct EntryMetadata {
  platform::PosixMetadata item;  // device, inode and links are not stored
  DWORD sameFileAs = 0;          // an entry saved with this file's content, 0: none
};

using MetadataTable = std::map<DWORD, EntryMetadata>;  // by index entry

std::vector<BYTE> EncodeMetadataTable(const MetadataTable& table);

// Reads a table from the `length` bytes at `data` into *table. False with
// ERROR_INVALID_DATA when the bytes are no table (a record or field running
// past the end, a count that does not match, an entry twice).
bool DecodeMetadataTable(const BYTE* data, std::size_t length, MetadataTable* table);

}  // namespace qv::control

#endif  // QVBACKUP_CONTROL_METADATA_TABLE_H_
