// Reading and writing through a file handle of the system's kind: a Windows
// HANDLE, or on POSIX a file descriptor cast to HANDLE (so a host passes
// `reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd))`).
#ifndef QVBACKUP_PLATFORM_HANDLE_IO_H_
#define QVBACKUP_PLATFORM_HANDLE_IO_H_

#include "qvbackup/wintypes.h"

namespace qv::platform {

// ReadFile: reads up to `size` bytes at the handle's position into `buffer`
// and stores the count in *read; fewer than asked only at the end of the
// file. False with the system's error (ERROR_INVALID_HANDLE for a handle
// that is not open).
bool ReadHandle(HANDLE file, void* buffer, DWORD size, DWORD* read);

// WriteFile: writes all `size` bytes at the handle's position and stores the
// count in *written. False with the system's error (ERROR_DISK_FULL when the
// volume fills up).
bool WriteHandle(HANDLE file, const void* data, DWORD size, DWORD* written);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_HANDLE_IO_H_
