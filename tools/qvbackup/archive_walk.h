// Walking every block of one archive member, as verify does: each block's
// header is read where the one before it ends, then the whole block is
// read back through the library (lengths, decryption tag, decompression,
// checksum). Where block headers stop making sense, or the volumes end, the
// walk takes up again at the next offset known to start a block (a file's
// record, the index, the closing record), so damage in one place does not
// hide the blocks after it.
#ifndef QVBACKUP_TOOLS_ARCHIVE_WALK_H_
#define QVBACKUP_TOOLS_ARCHIVE_WALK_H_

#include <cstddef>
#include <functional>
#include <vector>

#include "qvbackup/qvstorage.h"

namespace qvtool {

struct WalkedBlock {
  ULONGLONG offset = 0;      // of its block header in the archive stream
  DWORD stored = 0;          // payload bytes after the header
  WORD kind = 0;             // the writer's kind (marks taken off)
  DWORD dataLength = 0;      // as the block header gives it
  DWORD error = 0;           // 0: the block reads back whole
};

// A stretch of the stream where no block could be found.
struct LostStretch {
  ULONGLONG start = 0;
  ULONGLONG end = 0;         // where the walk took up again (the end of data when it could not)
  DWORD error = 0;           // why the block at `start` could not be read
};

// Reads the 246-byte header of the member open in `storage` into `header`
// and sets `*start` to the stream offset of its first block. False when it
// cannot be read.
bool ReadMemberHeader(CQVStorage& storage, BYTE* header, ULONGLONG* start);

class BlockWalk {
 public:
  // Sees each block that reads back whole (blocks()[index]), with its data.
  using Visitor = std::function<void(std::size_t index, const BYTE* data, DWORD length)>;
  // Told the stream offset reached, now and then.
  using Progress = std::function<void(ULONGLONG offset)>;

  // Walks the open archive `storage` from `start` to `endOfData`.
  // `anchors` are offsets known to start blocks, in any order.
  void Run(CQVStorage& storage, ULONGLONG start, ULONGLONG endOfData, std::vector<ULONGLONG> anchors,
           const Visitor& visit, const Progress& progress);

  const std::vector<WalkedBlock>& blocks() const { return blocks_; }
  const std::vector<LostStretch>& lost() const { return lost_; }

  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  // The block that starts at `offset`, or kNone.
  std::size_t Find(ULONGLONG offset) const;
  // Whether block i + 1 exists and starts where block i ends.
  bool Follows(std::size_t i) const;
  // The lost stretch holding `offset`, or null.
  const LostStretch* LostAt(ULONGLONG offset) const;

 private:
  // Reads the block at `at` into blocks_; false (with the error) when its
  // header cannot be read or makes no sense before `limit`.
  bool Step(CQVStorage& storage, ULONGLONG at, ULONGLONG limit, DWORD blockSize, const Visitor& visit,
            DWORD* error);

  std::vector<WalkedBlock> blocks_;
  std::vector<LostStretch> lost_;
};

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_ARCHIVE_WALK_H_
