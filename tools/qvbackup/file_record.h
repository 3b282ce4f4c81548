// The record block that starts every saved file: which index entry it
// belongs to, the file's name and the full path it was saved from.
#ifndef QVBACKUP_TOOLS_FILE_RECORD_H_
#define QVBACKUP_TOOLS_FILE_RECORD_H_

#include "console.h"

namespace qvtool {

struct FileRecord {
  DWORD entry = 0;   // the file's entry in its member's index image
  WString name;      // the file's name
  WString path;      // the full path it was saved from
  DWORD content = 1;  // how its content is laid out: record::kContentPlain or kContentRuns
  // What the file service delivered besides the content: its opening and
  // naming records.
  ULONGLONG RecordBytes() const;
};

// Decodes a record block's `length` bytes. False when they are not a file
// record: too short, a header size other than 27, names that do not fit,
// lack their terminator or do not follow each other, or opening values
// other than those of one file with its content plain or in runs.
bool ParseFileRecord(const BYTE* data, DWORD length, FileRecord* record);

// ParseFileRecord, and exactly as the writer lays a record out: the block
// ends with the second name, the entry is not 0, and the first name is the
// last component of the full path. Used where a record must be told from
// file content that merely looks like one.
bool ParseExactFileRecord(const BYTE* data, DWORD length, FileRecord* record);

// Why a file followed by the writer's abandoned-file marker is no whole file.
WString NotSavedWholeReason();

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_FILE_RECORD_H_
