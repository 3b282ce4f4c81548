#include "file_record.h"

#include <algorithm>

#include "archive_layout.h"

namespace qvtool {

namespace {

using namespace layout;

constexpr DWORD kOpeningVersion = 1;
constexpr BYTE kOpeningKindFile = 1;

// The terminated UTF-16 text of `units` code units at `at` (`end` bounds it).
bool ReadName(const BYTE* data, DWORD at, DWORD units, DWORD end, WString* name) {
  const ULONGLONG after = at + (static_cast<ULONGLONG>(units) + 1) * 2;
  if (after > end || Word(data, static_cast<DWORD>(after - 2)) != 0) return false;
  name->clear();
  for (DWORD i = 0; i < units; ++i) name->push_back(static_cast<WCHAR>(Word(data, at + 2 * i)));
  return true;
}

}  // namespace

ULONGLONG FileRecord::RecordBytes() const {
  return record::RecordBytes(static_cast<DWORD>(name.size()));
}

bool ParseFileRecord(const BYTE* data, DWORD length, FileRecord* parsed) {
  if (data == nullptr || length < record::kSize || Dword(data, record::kHeaderSize) != record::kSize) return false;
  const DWORD content = Dword(data, record::kOpening4);
  if (Dword(data, record::kOpening1) != kOpeningVersion || data[record::kOpening2] != kOpeningKindFile ||
      (content != record::kContentPlain && content != record::kContentRuns)) {
    return false;
  }
  const DWORD firstLength = Word(data, record::kFirstNameLength);
  const DWORD secondOffset = Word(data, record::kSecondNameOffset);
  if (secondOffset != record::kSize + (firstLength + 1) * 2) return false;
  if (!ReadName(data, record::kSize, firstLength, length, &parsed->name)) return false;
  if (!ReadName(data, secondOffset, Word(data, record::kSecondNameLength), length, &parsed->path)) return false;
  parsed->entry = Dword(data, record::kEntry);
  parsed->content = content;
  return true;
}

bool ParseExactFileRecord(const BYTE* data, DWORD length, FileRecord* parsed) {
  if (!ParseFileRecord(data, length, parsed) || parsed->entry == 0 || parsed->name.empty()) return false;
  const DWORD end = Word(data, record::kSecondNameOffset) + (static_cast<DWORD>(parsed->path.size()) + 1) * 2;
  const WString& path = parsed->path;
  const std::size_t folderEnd = path.size() - std::min(path.size(), parsed->name.size());
  return length == end && folderEnd > 0 && (path[folderEnd - 1] == '\\' || path[folderEnd - 1] == '/') &&
         path.compare(folderEnd, WString::npos, parsed->name) == 0;
}

WString NotSavedWholeReason() {
  return Widen("it was not saved whole: the file could not be read when it was backed up");
}

}  // namespace qvtool
