// The archive's records as they lie on disk, for the commands that check
// an archive byte by byte (see doc/archive_format.md): named offsets and
// little-endian readers. Every read is preceded by a length check at the
// call site.
#ifndef QVBACKUP_TOOLS_ARCHIVE_LAYOUT_H_
#define QVBACKUP_TOOLS_ARCHIVE_LAYOUT_H_

#include "qvbackup/qvarchivelayout.h"
#include "qvbackup/wintypes.h"

namespace qvtool::layout {

namespace header = ::qvlayout::header;
namespace block = ::qvlayout::block;
namespace record = ::qvlayout::record;
namespace userdata = ::qvlayout::userdata;
namespace closing = ::qvlayout::closing;

inline WORD Word(const BYTE* base, DWORD at) { return ::qvlayout::GetWord(base, at); }
inline DWORD Dword(const BYTE* base, DWORD at) { return ::qvlayout::GetDword(base, at); }
inline ULONGLONG Qword(const BYTE* base, DWORD at) { return ::qvlayout::GetQword(base, at); }
inline bool AllZero(const BYTE* base, DWORD at, DWORD count) {
  for (DWORD i = 0; i < count; ++i) {
    if (base[at + i] != 0) return false;
  }
  return true;
}

}  // namespace qvtool::layout

#endif  // QVBACKUP_TOOLS_ARCHIVE_LAYOUT_H_
