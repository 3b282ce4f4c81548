// Reading the bytes of a non-resident NTFS stream through its run list, and
// finding the run list of the master file table itself.
//
// The device itself is reached through a callback, so the same code serves
// the POSIX emulation of the volume control codes and the raw MFT reader.
#ifndef QVBACKUP_FILEINDEX_NTFS_STREAM_H_
#define QVBACKUP_FILEINDEX_NTFS_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "fileindex/ntfs_layout.h"

namespace qv::ntfs {

// Reads exactly `size` bytes of the volume at byte `offset`; false otherwise.
using ReadAt = std::function<bool(std::uint64_t offset, std::uint8_t* out, std::size_t size)>;

// Reads bytes `offset`..`offset + size` of a stream laid out by `runs`:
// holes read as zeros. False when a byte lies outside the runs, a position
// overflows, or `read` fails (its error stands).
bool ReadRuns(const std::vector<Run>& runs, std::uint32_t clusterSize, std::uint64_t offset,
              std::uint8_t* out, std::size_t size, const ReadAt& read);

// Reads a stream a window at a time. The MFT readers walk the table record
// by record, downwards; one read of 256 records costs far less than 256
// reads of one. Requests must not cross a window boundary to be served from
// the window (records never do); others are read directly.
class StreamWindow {
 public:
  static constexpr std::size_t kWindowBytes = 256 * 1024;

  // `validLength`: the stream's bytes past it are not read.
  StreamWindow(const std::vector<Run>& runs, std::uint32_t clusterSize, std::uint64_t validLength,
               ReadAt read);

  bool Read(std::uint64_t offset, std::uint8_t* out, std::size_t size);

 private:
  bool Fill(std::uint64_t start);

  const std::vector<Run>& runs_;
  std::uint32_t clusterSize_;
  std::uint64_t validLength_;
  ReadAt read_;
  std::vector<std::uint8_t> window_;
  std::uint64_t start_ = 0;
  bool filled_ = false;
};

// Where the master file table lies, and how much of it there is.
struct MftLayout {
  std::vector<Run> runs;  // by VCN, from VCN 0, without gaps or overlaps
  std::uint64_t validLength = 0;
  std::uint64_t dataSize = 0;
  std::uint64_t allocatedSize = 0;
};

// The most extension records LoadMftLayout reads for the $MFT, and the
// most runs it accepts in all: far above what a real volume needs, low
// enough that hostile bytes cannot make the look-ups take long.
inline constexpr std::size_t kMaxMftExtensionRecords = 4096;
inline constexpr std::size_t kMaxMftRuns = 65536;

// Collects the run list of the $MFT's unnamed $DATA from `record0` (record
// 0, fix-up already undone) and, when that record has an attribute list,
// from the extension records the list names for that $DATA. The pieces are
// joined in VCN order; the piece at VCN 0, which must be in record 0, gives
// the sizes.
//
// An extension record is read through the runs known when its list entry
// is reached, so it must lie in an earlier piece; it must carry the "FILE"
// signature, a valid fix-up, the in-use flag and a base reference to record
// 0. Entries naming record 0, or a record already read, are passed over.
//
// False, with `*out` unspecified, when anything would leave records out of
// reach: a malformed record, list (over 256 KiB, or an entry that does not
// fit) or piece (runs not spanning its VCN range), an extension record that
// cannot be read or fails a check above, pieces that overlap or leave a
// gap, runs ending short of the valid length, or more extension records or
// runs than the limits above. Sets no last error of its own: `read` may
// have set one; callers report the failure their own way.
bool LoadMftLayout(std::span<const std::uint8_t> record0, const BootSector& boot, const ReadAt& read,
                   MftLayout* out);

}  // namespace qv::ntfs

#endif  // QVBACKUP_FILEINDEX_NTFS_STREAM_H_
