#include "fileindex/ntfs_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace qv::ntfs {

bool ReadRuns(const std::vector<Run>& runs, std::uint32_t clusterSize, std::uint64_t offset,
              std::uint8_t* out, std::size_t size, const ReadAt& read) {
  const std::uint64_t cluster = clusterSize;
  if (cluster == 0) return false;
  while (size > 0) {
    std::uint64_t contiguous = 0;
    bool sparse = false;
    auto lcn = MapVcn(runs, offset / cluster, &contiguous, &sparse);
    if (!lcn) return false;
    std::uint64_t into = offset % cluster;
    std::uint64_t available = contiguous > std::numeric_limits<std::uint64_t>::max() / cluster
                                  ? std::numeric_limits<std::uint64_t>::max()
                                  : contiguous * cluster - into;
    auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(available, size));
    if (sparse) {
      std::memset(out, 0, chunk);
    } else {
      if (*lcn > (std::numeric_limits<std::uint64_t>::max() - into) / cluster) return false;
      if (!read(*lcn * cluster + into, out, chunk)) return false;
    }
    out += chunk;
    offset += chunk;
    size -= chunk;
  }
  return true;
}

StreamWindow::StreamWindow(const std::vector<Run>& runs, std::uint32_t clusterSize,
                           std::uint64_t validLength, ReadAt read)
    : runs_(runs), clusterSize_(clusterSize), validLength_(validLength), read_(std::move(read)) {}

bool StreamWindow::Fill(std::uint64_t start) {
  filled_ = false;
  if (start >= validLength_) return false;
  window_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kWindowBytes, validLength_ - start)));
  if (!ReadRuns(runs_, clusterSize_, start, window_.data(), window_.size(), read_)) return false;
  start_ = start;
  filled_ = true;
  return true;
}

bool StreamWindow::Read(std::uint64_t offset, std::uint8_t* out, std::size_t size) {
  if (offset > validLength_ || size > validLength_ - offset) return false;
  bool inside = filled_ && offset >= start_ && offset - start_ + size <= window_.size();
  if (!inside) {
    std::uint64_t start = offset / kWindowBytes * kWindowBytes;
    // A window holding a hole or a damaged run is not kept; the request
    // alone may still be readable.
    inside = offset + size <= start + kWindowBytes && Fill(start);
  }
  if (!inside) return ReadRuns(runs_, clusterSize_, offset, out, size, read_);
  std::memcpy(out, window_.data() + (offset - start_), size);
  return true;
}

}  // namespace qv::ntfs
