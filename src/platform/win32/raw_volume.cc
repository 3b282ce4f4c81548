#include "platform/raw_volume.h"

#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/win32_support.h"

namespace qv::platform {

namespace {

using win32::FileHandle;

// Reads of a volume handle must start and end on sector boundaries and land
// in suitably aligned memory; reads go through this much aligned memory.
constexpr DWORD kBounceSize = 1u << 20;
constexpr DWORD kDefaultSector = 4096;

class Win32RawVolume final : public RawVolume {
 public:
  Win32RawVolume(HANDLE handle, DWORD sectorSize)
      : handle_(handle), sector_(sectorSize), storage_(kBounceSize + sectorSize) {}

  bool Read(ULONGLONG offset, void* buffer, DWORD size, DWORD* read) override {
    *read = 0;
    auto* target = static_cast<BYTE*>(buffer);
    while (*read < size) {
      ULONGLONG at = offset + *read;
      ULONGLONG start = at - at % sector_;
      DWORD skip = static_cast<DWORD>(at - start);
      DWORD want = static_cast<DWORD>(
          std::min<ULONGLONG>(ULONGLONG{size - *read} + skip, kBounceSize));
      want = (want + sector_ - 1) / sector_ * sector_;
      DWORD got = 0;
      if (!ReadAligned(start, want, &got)) return false;
      if (got <= skip) break;  // the end of the volume
      DWORD useful = std::min<DWORD>(got - skip, size - *read);
      std::memcpy(target + *read, Bounce() + skip, useful);
      *read += useful;
      if (got < want) break;
    }
    return true;
  }

  bool GetNtfsVolumeData(BYTE out[kNtfsVolumeDataSize]) override {
    NTFS_VOLUME_DATA_BUFFER data{};
    static_assert(sizeof(data) == kNtfsVolumeDataSize);
    DWORD returned = 0;
    if (!::DeviceIoControl(handle_.Get(), FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &data,
                           sizeof data, &returned, nullptr)) {
      return false;
    }
    std::memcpy(out, &data, kNtfsVolumeDataSize);
    return true;
  }

  bool GetNtfsFileRecord(LONGLONG recordNumber, BYTE* out, DWORD outSize,
                         DWORD* returned) override {
    *returned = 0;
    if (recordNumber < 0) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    NTFS_FILE_RECORD_INPUT_BUFFER input{};
    input.FileReferenceNumber.QuadPart = recordNumber;
    return ::DeviceIoControl(handle_.Get(), FSCTL_GET_NTFS_FILE_RECORD, &input, sizeof input,
                             out, outSize, returned, nullptr) != FALSE;
  }

 private:
  BYTE* Bounce() {
    auto address = reinterpret_cast<ULONG_PTR>(storage_.data());
    return storage_.data() + (sector_ - address % sector_) % sector_;
  }

  bool ReadAligned(ULONGLONG offset, DWORD size, DWORD* got) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    if (::ReadFile(handle_.Get(), Bounce(), size, got, &position)) return true;
    // Reading at or past the volume's end is an end, not a failure.
    if (::GetLastError() == ERROR_HANDLE_EOF || ::GetLastError() == ERROR_SECTOR_NOT_FOUND) {
      *got = 0;
      return true;
    }
    return false;
  }

  FileHandle handle_;
  DWORD sector_;
  std::vector<BYTE> storage_;
};

DWORD SectorSizeOf(const wchar_t root[4]) {
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (!::GetDiskFreeSpaceW(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters) ||
      bytesPerSector == 0 || (bytesPerSector & (bytesPerSector - 1)) != 0 ||
      bytesPerSector > kBounceSize) {
    return kDefaultSector;  // a multiple of every common sector size
  }
  return bytesPerSector;
}

}  // namespace

std::unique_ptr<RawVolume> OpenRawVolume(WCHAR driveLetter) {
  wchar_t letter = static_cast<wchar_t>(driveLetter & ~0x20);
  if (letter < L'A' || letter > L'Z') {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const wchar_t device[] = {L'\\', L'\\', L'.', L'\\', letter, L':', 0};
  const wchar_t root[] = {letter, L':', L'\\', 0};
  HANDLE handle = ::CreateFileW(device, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32RawVolume>(handle, SectorSizeOf(root));
}

}  // namespace qv::platform
