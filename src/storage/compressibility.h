// A cheap guess, before a block is compressed, at whether compressing it
// is worth the time: photos, music, video and archives are compressed
// already, and zlib would spend its full time on them to save nothing.
#ifndef QVBACKUP_STORAGE_COMPRESSIBILITY_H_
#define QVBACKUP_STORAGE_COMPRESSIBILITY_H_

#include "qvbackup/wintypes.h"

namespace qv::storage {

// True when samples taken from the start, the middle and the end of the
// `length` bytes at `data` do not shrink by even 3% under fast
// compression. Blocks under 16 KiB are never judged (false): for them the
// guess would cost as much as compressing.
bool LooksIncompressible(const BYTE* data, DWORD length);

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_COMPRESSIBILITY_H_
