#include "platform/raw_volume.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/drive_map.h"
#include "platform/posix/ntfs_control_codes.h"
#include "platform/posix/posix_error.h"

namespace qv::platform {

namespace {

using posix::FailWith;
using posix::FailWithErrno;

class PosixRawVolume final : public RawVolume {
 public:
  explicit PosixRawVolume(int fd) : fd_(fd), controlCodes_(*this) {}
  ~PosixRawVolume() override { ::close(fd_); }
  PosixRawVolume(const PosixRawVolume&) = delete;
  PosixRawVolume& operator=(const PosixRawVolume&) = delete;

  // Devices and image files take reads at any offset, so no bounce buffer.
  bool Read(ULONGLONG offset, void* buffer, DWORD size, DWORD* read) override {
    *read = 0;
    auto* target = static_cast<unsigned char*>(buffer);
    while (*read < size) {
      ULONGLONG at = offset + *read;
      if (at > static_cast<ULONGLONG>(INT64_MAX)) break;  // past any volume's end
      ssize_t count = ::pread(fd_, target + *read, size - *read, static_cast<off_t>(at));
      if (count < 0) {
        if (errno == EINTR) continue;
        return FailWithErrno(errno);
      }
      if (count == 0) break;
      *read += static_cast<DWORD>(count);
    }
    return true;
  }

  bool GetNtfsVolumeData(BYTE out[kNtfsVolumeDataSize]) override {
    return controlCodes_.VolumeData(out);
  }

  bool GetNtfsFileRecord(LONGLONG recordNumber, BYTE* out, DWORD outSize,
                         DWORD* returned) override {
    return controlCodes_.FileRecord(recordNumber, out, outSize, returned);
  }

 private:
  int fd_;
  posix::NtfsControlCodes controlCodes_;
};

}  // namespace

std::unique_ptr<RawVolume> OpenRawVolume(WCHAR driveLetter) {
  std::string device;
  if (!posix::DriveDeviceOf(driveLetter, &device)) return nullptr;
  int fd = ::open(device.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    FailWithErrno(errno);
    return nullptr;
  }
  return std::make_unique<PosixRawVolume>(fd);
}

}  // namespace qv::platform
