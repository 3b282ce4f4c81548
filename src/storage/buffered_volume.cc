#include "storage/buffered_volume.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace qv::storage {

BufferedVolume::BufferedVolume(std::unique_ptr<platform::RandomAccessFile> file, DWORD capacity)
    : file_(std::move(file)), buffer_(std::max<DWORD>(capacity, 1)) {}

bool BufferedVolume::PlaceFile() {
  if (filePosition_ == position_) return true;
  if (!file_->Seek(position_)) return Lost();
  filePosition_ = position_;
  return true;
}

// Fewer bytes than asked only at the end of the file, as the file's own.
bool BufferedVolume::Read(void* buffer, DWORD size, DWORD* read) {
  BYTE* out = static_cast<BYTE*>(buffer);
  DWORD done = 0;
  while (done < size) {
    if (position_ >= bufferStart_ && position_ < bufferStart_ + held_) {
      const DWORD at = static_cast<DWORD>(position_ - bufferStart_);
      const DWORD count = std::min(held_ - at, size - done);
      std::memcpy(out + done, buffer_.data() + at, count);
      done += count;
      position_ += count;
      continue;
    }
    if (!PlaceFile()) return false;
    const DWORD left = size - done;
    if (left >= buffer_.size()) {
      DWORD got = 0;
      if (!file_->Read(out + done, left, &got)) return Lost();
      done += got;
      position_ += got;
      filePosition_ = position_;
      break;  // all of it, or the end of the file
    }
    Drop();
    DWORD got = 0;
    if (!file_->Read(buffer_.data(), static_cast<DWORD>(buffer_.size()), &got)) return Lost();
    bufferStart_ = position_;
    held_ = got;
    filePosition_ = position_ + got;
    if (got == 0) break;  // the end of the file
  }
  *read = done;
  return true;
}

bool BufferedVolume::Write(const void* data, DWORD size) {
  Drop();
  if (!PlaceFile()) return false;
  if (!file_->Write(data, size)) return Lost();
  position_ += size;
  filePosition_ = position_;
  return true;
}

bool BufferedVolume::Seek(ULONGLONG offset) {
  if (offset > static_cast<ULONGLONG>(INT64_MAX)) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return false;
  }
  position_ = offset;
  return true;
}

bool BufferedVolume::Tell(ULONGLONG* offset) {
  *offset = position_;
  return true;
}

bool BufferedVolume::Truncate() {
  Drop();
  if (!PlaceFile()) return false;
  return file_->Truncate() || Lost();
}

}  // namespace qv::storage
