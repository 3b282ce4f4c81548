// Reading the bytes of a non-resident NTFS stream through its run list.
//
// The device itself is reached through a callback, so the same code serves
// the POSIX emulation of the volume control codes and the raw MFT reader.
#ifndef QVBACKUP_FILEINDEX_NTFS_STREAM_H_
#define QVBACKUP_FILEINDEX_NTFS_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
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

}  // namespace qv::ntfs

#endif  // QVBACKUP_FILEINDEX_NTFS_STREAM_H_
