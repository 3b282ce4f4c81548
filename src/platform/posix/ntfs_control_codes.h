// The NTFS volume control codes (volume data, file record by number)
// answered from a raw volume's bytes, for systems whose kernel has no such
// calls. The answers follow what Windows returns; see platform/raw_volume.h.
#ifndef QVBACKUP_PLATFORM_POSIX_NTFS_CONTROL_CODES_H_
#define QVBACKUP_PLATFORM_POSIX_NTFS_CONTROL_CODES_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "fileindex/ntfs_layout.h"
#include "fileindex/ntfs_stream.h"
#include "platform/raw_volume.h"

namespace qv::platform::posix {

// Reads the volume through `volume.Read`, which must outlive this object.
// The geometry, the $MFT's run list and its bitmap are read on first use and
// kept: the volume is assumed not to change while it is open.
class NtfsControlCodes {
 public:
  explicit NtfsControlCodes(RawVolume& volume) : volume_(volume) {}
  NtfsControlCodes(const NtfsControlCodes&) = delete;
  NtfsControlCodes& operator=(const NtfsControlCodes&) = delete;

  // Same contracts as RawVolume::GetNtfsVolumeData and GetNtfsFileRecord.
  bool VolumeData(BYTE out[kNtfsVolumeDataSize]);
  bool FileRecord(LONGLONG recordNumber, BYTE* out, DWORD outSize, DWORD* returned);

 private:
  bool Load();
  bool LoadMft();
  bool LoadBitmap(const ntfs::AttributeView& bitmap);
  // Reads `size` bytes at `offset` of a stream laid out by `runs`; holes
  // read as zeros. False when a byte lies outside the runs or the volume.
  bool ReadStream(const std::vector<ntfs::Run>& runs, std::uint64_t offset, std::uint8_t* out,
                  std::size_t size);
  ntfs::ReadAt Reader();
  bool ReadExactly(std::uint64_t offset, std::uint8_t* out, std::size_t size);
  bool ReadRecord(std::uint64_t number, std::vector<std::uint8_t>* record);
  bool InUse(std::uint64_t number) const;

  RawVolume& volume_;
  bool loaded_ = false;
  ntfs::BootSector boot_;
  ntfs::MftLayout mft_;
  std::optional<ntfs::StreamWindow> mftWindow_;  // set once the runs are known
  std::uint64_t recordCount_ = 0;
  std::vector<std::uint8_t> bitmap_;
};

}  // namespace qv::platform::posix

#endif  // QVBACKUP_PLATFORM_POSIX_NTFS_CONTROL_CODES_H_
