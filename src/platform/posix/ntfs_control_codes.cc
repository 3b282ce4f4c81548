#include "platform/posix/ntfs_control_codes.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/posix/posix_error.h"

namespace qv::platform::posix {

namespace {

void Put64(BYTE* out, DWORD at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out[at + i] = static_cast<BYTE>(value >> (8 * i));
}

void Put32(BYTE* out, DWORD at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<BYTE>(value >> (8 * i));
}

// A bitmap larger than this is not a plausible MFT bitmap (2^31 records).
constexpr std::uint64_t kMaxBitmapBytes = std::uint64_t{1} << 28;

}  // namespace

bool NtfsControlCodes::ReadExactly(std::uint64_t offset, std::uint8_t* out, std::size_t size) {
  DWORD read = 0;
  if (!volume_.Read(offset, out, static_cast<DWORD>(size), &read)) return false;
  if (read != size) return FailWith(ERROR_HANDLE_EOF);
  return true;
}

ntfs::ReadAt NtfsControlCodes::Reader() {
  return [this](std::uint64_t offset, std::uint8_t* out, std::size_t size) {
    return ReadExactly(offset, out, size);
  };
}

bool NtfsControlCodes::ReadStream(const std::vector<ntfs::Run>& runs, std::uint64_t offset,
                                  std::uint8_t* out, std::size_t size) {
  SetLastError(ERROR_SUCCESS);
  if (ntfs::ReadRuns(runs, boot_.bytesPerCluster, offset, out, size, Reader())) return true;
  // A byte outside the runs; a failed read keeps its own error.
  if (GetLastError() == ERROR_SUCCESS) FailWith(ERROR_HANDLE_EOF);
  return false;
}

bool NtfsControlCodes::Load() {
  if (loaded_) return true;
  std::uint8_t sector[512];
  if (!ReadExactly(0, sector, sizeof sector)) return FailWith(ERROR_INVALID_FUNCTION);
  auto boot = ntfs::ParseBootSector(sector);
  if (!boot) return FailWith(ERROR_INVALID_FUNCTION);
  boot_ = *boot;
  if (!LoadMft()) return false;
  loaded_ = true;
  return true;
}

// The $MFT describes itself: record 0, found through the boot sector, holds
// the run list every other record is located through (with the extension
// records its attribute list names, on a fragmented volume), and the bitmap
// that says which records are in use.
bool NtfsControlCodes::LoadMft() {
  const std::uint64_t cluster = boot_.bytesPerCluster;
  if (boot_.mftLcn > std::numeric_limits<std::uint64_t>::max() / cluster) {
    return FailWith(ERROR_INVALID_FUNCTION);
  }
  std::vector<std::uint8_t> record(boot_.bytesPerFileRecord);
  if (!ReadExactly(boot_.mftLcn * cluster, record.data(), record.size())) return false;
  if (!ntfs::ApplyFixup(record, ntfs::kFileSignature)) return FailWith(ERROR_INVALID_FUNCTION);
  auto bitmap = ntfs::FindUnnamedAttribute(record, ntfs::kAttrBitmap);
  if (!bitmap || !ntfs::LoadMftLayout(record, boot_, Reader(), &mft_)) return FailWith(ERROR_INVALID_FUNCTION);
  recordCount_ = std::min(mft_.dataSize, mft_.allocatedSize) / boot_.bytesPerFileRecord;
  mftWindow_.emplace(mft_.runs, boot_.bytesPerCluster, mft_.validLength, Reader());
  return LoadBitmap(*bitmap);
}

bool NtfsControlCodes::LoadBitmap(const ntfs::AttributeView& bitmap) {
  if (!bitmap.nonResident) {
    bitmap_.assign(bitmap.value.begin(), bitmap.value.end());
    return true;
  }
  std::vector<ntfs::Run> runs;
  std::uint64_t size = std::min(bitmap.dataSize, bitmap.validDataSize);
  if (size > kMaxBitmapBytes || !ntfs::DecodeRuns(bitmap.value, bitmap.firstVcn, &runs)) {
    return FailWith(ERROR_INVALID_FUNCTION);
  }
  bitmap_.resize(static_cast<std::size_t>(size));
  if (!ReadStream(runs, 0, bitmap_.data(), bitmap_.size())) return FailWith(ERROR_INVALID_FUNCTION);
  return true;
}

bool NtfsControlCodes::InUse(std::uint64_t number) const {
  return number / 8 < bitmap_.size() && ((bitmap_[number / 8] >> (number % 8)) & 1) != 0;
}

bool NtfsControlCodes::ReadRecord(std::uint64_t number, std::vector<std::uint8_t>* record) {
  record->assign(boot_.bytesPerFileRecord, 0);
  std::uint64_t offset = number * boot_.bytesPerFileRecord;
  // Bytes past the valid length are not on disk yet: such a record is not
  // a record.
  if (offset + record->size() > mft_.validLength) return false;
  if (!mftWindow_->Read(offset, record->data(), record->size())) return false;
  return ntfs::ApplyFixup(*record, ntfs::kFileSignature);
}

bool NtfsControlCodes::VolumeData(BYTE out[kNtfsVolumeDataSize]) {
  if (!Load()) return false;
  std::memset(out, 0, kNtfsVolumeDataSize);
  const std::uint32_t sectorsPerCluster = boot_.bytesPerCluster / boot_.bytesPerSector;
  Put64(out, kVolumeSerialNumberAt, boot_.serialNumber);
  Put64(out, kNumberSectorsAt, boot_.totalSectors);
  Put64(out, kTotalClustersAt, boot_.totalSectors / sectorsPerCluster);
  Put32(out, kBytesPerSectorAt, boot_.bytesPerSector);
  Put32(out, kBytesPerClusterAt, boot_.bytesPerCluster);
  Put32(out, kBytesPerFileRecordAt, boot_.bytesPerFileRecord);
  // Records smaller than a cluster are reported as 0 clusters each.
  Put32(out, kClustersPerFileRecordAt, boot_.bytesPerFileRecord / boot_.bytesPerCluster);
  Put64(out, kMftValidDataLengthAt, mft_.validLength);
  Put64(out, kMftStartLcnAt, boot_.mftLcn);
  Put64(out, kMft2StartLcnAt, boot_.mftMirrorLcn);
  return true;
}

bool NtfsControlCodes::FileRecord(LONGLONG recordNumber, BYTE* out, DWORD outSize,
                                  DWORD* returned) {
  *returned = 0;
  if (recordNumber < 0) return FailWith(ERROR_INVALID_PARAMETER);
  if (!Load()) return false;
  if (outSize < kFileRecordBufferAt + boot_.bytesPerFileRecord) {
    return FailWith(ERROR_INSUFFICIENT_BUFFER);
  }
  if (recordCount_ == 0) return FailWith(ERROR_HANDLE_EOF);
  std::uint64_t number = std::min(static_cast<std::uint64_t>(recordNumber), recordCount_ - 1);
  std::vector<std::uint8_t> record;
  while (true) {
    if (InUse(number) && ReadRecord(number, &record)) break;
    if (number == 0) return FailWith(ERROR_HANDLE_EOF);
    --number;
  }
  Put64(out, kFileReferenceNumberAt, number);
  Put32(out, kFileRecordLengthAt, boot_.bytesPerFileRecord);
  std::memcpy(out + kFileRecordBufferAt, record.data(), record.size());
  *returned = kFileRecordBufferAt + boot_.bytesPerFileRecord;
  return true;
}

}  // namespace qv::platform::posix
