// The archive's records on disk (qvbackup/qvarchivelayout.h has them all,
// with a picture of each), as the container reads and writes them.
#ifndef QVBACKUP_STORAGE_ARCHIVE_LAYOUT_H_
#define QVBACKUP_STORAGE_ARCHIVE_LAYOUT_H_

#include <cstring>

#include "qvbackup/qvarchivelayout.h"
#include "qvbackup/wintypes.h"

namespace qv::storage {

namespace header = ::qvlayout::header;
namespace block = ::qvlayout::block;
using ::qvlayout::GetDword;
using ::qvlayout::GetQword;
using ::qvlayout::GetWord;

// Where a self-extracting program's DOS header keeps the archive's offset.
constexpr DWORD kStubMarkerOffset = 28;
constexpr DWORD kStubProbeSize = 40;

inline void PutWord(BYTE* base, DWORD at, WORD value) {
  base[at] = static_cast<BYTE>(value);
  base[at + 1] = static_cast<BYTE>(value >> 8);
}
inline void PutDword(BYTE* base, DWORD at, DWORD value) {
  for (int i = 0; i < 4; ++i) base[at + i] = static_cast<BYTE>(value >> (8 * i));
}
inline void PutQword(BYTE* base, DWORD at, ULONGLONG value) {
  for (int i = 0; i < 8; ++i) base[at + i] = static_cast<BYTE>(value >> (8 * i));
}

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_ARCHIVE_LAYOUT_H_
