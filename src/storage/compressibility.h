// A cheap look, before a block is compressed, at how well it will shrink:
// photos, music, video and archives are compressed already, and deflate
// would spend its full time on them to save nothing; text shrinks to a
// quarter and pays back a more thorough search, code-like data shrinks by
// half and gains nothing from one.
#ifndef QVBACKUP_STORAGE_COMPRESSIBILITY_H_
#define QVBACKUP_STORAGE_COMPRESSIBILITY_H_

#include "qvbackup/wintypes.h"

namespace qv::storage {

// What SamplePercent answers for blocks under 16 KiB, which are not
// judged: for them the look would cost as much as compressing.
inline constexpr DWORD kNotJudged = 0xFFFFFFFFu;

// Samples taken from the start, the middle and the end of the `length`
// bytes at `data`, compressed fast: their compressed size in percent of
// their own, rounded up, at most 100 (also when they grow).
DWORD SamplePercent(const BYTE* data, DWORD length);

// True when the samples do not shrink by even 3%: the block is stored as
// it is. Never for blocks under 16 KiB.
inline bool LooksIncompressible(DWORD samplePercent) {
  return samplePercent != kNotJudged && samplePercent > 97;
}

// The compression level for a block under `effort` (QVS_EFFORT_*) whose
// samples shrank to `samplePercent`, from the compressor's kDeflateLevels.
int DeflateLevel(DWORD effort, DWORD samplePercent);

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_COMPRESSIBILITY_H_
