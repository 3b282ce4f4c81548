// A volume opened as raw sectors, and the two NTFS volume control codes.
//
// Windows: the device "\\.\X:" and DeviceIoControl. POSIX: the device or
// image file the drive map gives the letter; the control codes are answered
// from the volume's own bytes, as Windows answers them.
//
// Every function that fails sets the thread's last error to a Windows error
// number.
#ifndef QVBACKUP_PLATFORM_RAW_VOLUME_H_
#define QVBACKUP_PLATFORM_RAW_VOLUME_H_

#include <memory>

#include "qvbackup/wintypes.h"

namespace qv::platform {

// Layout of FSCTL_GET_NTFS_VOLUME_DATA's answer (NTFS_VOLUME_DATA_BUFFER).
inline constexpr DWORD kNtfsVolumeDataSize = 96;
inline constexpr DWORD kVolumeSerialNumberAt = 0;     // 8 bytes
inline constexpr DWORD kNumberSectorsAt = 8;          // 8
inline constexpr DWORD kTotalClustersAt = 16;         // 8
inline constexpr DWORD kFreeClustersAt = 24;          // 8
inline constexpr DWORD kTotalReservedAt = 32;         // 8
inline constexpr DWORD kBytesPerSectorAt = 40;        // 4
inline constexpr DWORD kBytesPerClusterAt = 44;       // 4
inline constexpr DWORD kBytesPerFileRecordAt = 48;    // 4
inline constexpr DWORD kClustersPerFileRecordAt = 52; // 4
inline constexpr DWORD kMftValidDataLengthAt = 56;    // 8
inline constexpr DWORD kMftStartLcnAt = 64;           // 8
inline constexpr DWORD kMft2StartLcnAt = 72;          // 8
inline constexpr DWORD kMftZoneStartAt = 80;          // 8
inline constexpr DWORD kMftZoneEndAt = 88;            // 8

// Layout of FSCTL_GET_NTFS_FILE_RECORD's answer
// (NTFS_FILE_RECORD_OUTPUT_BUFFER): the record number found, the record's
// length, then the record with its update-sequence fix-up undone.
inline constexpr DWORD kFileReferenceNumberAt = 0;    // 8 bytes
inline constexpr DWORD kFileRecordLengthAt = 8;       // 4
inline constexpr DWORD kFileRecordBufferAt = 12;

// An open raw volume; closed when the object dies.
class RawVolume {
 public:
  virtual ~RawVolume() = default;

  // Reads up to `size` bytes at byte `offset` of the volume, at any offset
  // and size (alignment to sectors is handled inside). *read gets the
  // count, fewer than `size` only at the end of the volume. False with the
  // system's error (ERROR_READ_FAULT, ERROR_CRC...).
  virtual bool Read(ULONGLONG offset, void* buffer, DWORD size, DWORD* read) = 0;

  // FSCTL_GET_NTFS_VOLUME_DATA into `out` (layout above). False with
  // ERROR_INVALID_FUNCTION when the volume is not NTFS. POSIX: free
  // clusters, reserved clusters and the MFT zone are reported as 0.
  virtual bool GetNtfsVolumeData(BYTE out[kNtfsVolumeDataSize]) = 0;

  // FSCTL_GET_NTFS_FILE_RECORD: the highest in-use file record at or below
  // `recordNumber` (numbers beyond the MFT count from its last record),
  // written to `out` in the layout above; *returned gets the bytes written.
  // False with ERROR_INVALID_PARAMETER for a negative number,
  // ERROR_INSUFFICIENT_BUFFER when `outSize` cannot hold header and record,
  // ERROR_HANDLE_EOF when no usable record is found, ERROR_INVALID_FUNCTION
  // when the volume is not NTFS. POSIX: records whose fix-up check fails
  // are damaged and skipped.
  virtual bool GetNtfsFileRecord(LONGLONG recordNumber, BYTE* out, DWORD outSize,
                                 DWORD* returned) = 0;
};

// Opens the volume of drive `driveLetter` ('A'..'Z', either case) for
// reading, sharing read and write with others. Null with the last error:
// ERROR_INVALID_PARAMETER for a bad letter; POSIX: ERROR_FILE_NOT_FOUND when
// the drive map gives the letter no device, else the error of opening it.
std::unique_ptr<RawVolume> OpenRawVolume(WCHAR driveLetter);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_RAW_VOLUME_H_
