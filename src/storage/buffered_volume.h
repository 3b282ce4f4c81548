// An archive volume being read, through a buffer: the small reads of a
// block's header and of the small blocks after it are served from one
// larger read, and the position is kept here rather than asked of the
// system. Reads at least as large as the buffer go straight to the file.
// Writes, cuts and syncs reach the file at once, at the position kept
// here; a write drops what was buffered. One thread uses it at a time.
#ifndef QVBACKUP_STORAGE_BUFFERED_VOLUME_H_
#define QVBACKUP_STORAGE_BUFFERED_VOLUME_H_

#include <memory>
#include <vector>

#include "platform/random_access_file.h"

namespace qv::storage {

class BufferedVolume final : public platform::RandomAccessFile {
 public:
  // `file` at its start (position 0), read `capacity` bytes at a time.
  explicit BufferedVolume(std::unique_ptr<platform::RandomAccessFile> file, DWORD capacity = kDefaultCapacity);

  static constexpr DWORD kDefaultCapacity = 64 * 1024;

  bool Read(void* buffer, DWORD size, DWORD* read) override;
  bool Write(const void* data, DWORD size) override;
  bool Seek(ULONGLONG offset) override;
  bool Tell(ULONGLONG* offset) override;
  bool Size(ULONGLONG* size) override { return file_->Size(size); }
  bool Truncate() override;
  bool Sync() override { return file_->Sync(); }
  bool Describe(const WCHAR* path, platform::FileInformation* info) override { return file_->Describe(path, info); }
  DWORD ApplyPosixMetadata(const platform::PosixMetadata& metadata, bool times) override {
    return file_->ApplyPosixMetadata(metadata, times);
  }
  bool NextData(ULONGLONG from, ULONGLONG* start, ULONGLONG* end) override {
    return file_->NextData(from, start, end);
  }

 private:
  // The file's own position moved to where this one is.
  bool PlaceFile();
  void Drop() { held_ = 0; }
  // After a failed call the file's position is not known: the next call
  // puts it back first. False, the call's error kept.
  bool Lost() {
    filePosition_ = kUnknown;
    return false;
  }

  static constexpr ULONGLONG kUnknown = ~0ull;  // never a position: Seek stops below

  std::unique_ptr<platform::RandomAccessFile> file_;
  std::vector<BYTE> buffer_;
  ULONGLONG position_ = 0;      // where the next read or write is
  ULONGLONG filePosition_ = 0;  // where the file's own position is
  ULONGLONG bufferStart_ = 0;   // the file offset of buffer_[0]
  DWORD held_ = 0;              // bytes of buffer_ that hold the file's
};

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_BUFFERED_VOLUME_H_
