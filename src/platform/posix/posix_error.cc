#include "platform/posix/posix_error.h"

#include <cerrno>

namespace qv::platform::posix {

DWORD WindowsErrorFromErrno(int errnoValue) {
  switch (errnoValue) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;  // what Windows answers for opening a folder as a file
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_FILE_EXISTS;
    // A file grown past its file system's limit (4 GiB on FAT) is reported
    // by Windows as a full disk, so callers see one reason for both.
    case EFBIG:
    case EDQUOT:
    case ENOSPC: return ERROR_DISK_FULL;
    case EIO: return ERROR_READ_FAULT;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY: return ERROR_BUSY;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    // On files EAGAIN comes from a conflicting lock (F_SETLK), Windows'
    // lock violation; plain reads and writes never see it.
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
#if EOPNOTSUPP != ENOTSUP
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
#endif
    case ESPIPE: return ERROR_SEEK;
    default: return ERROR_GEN_FAILURE;
  }
}

bool FailWithErrno(int errnoValue) { return FailWith(WindowsErrorFromErrno(errnoValue)); }

bool FailWith(DWORD error) {
  SetLastError(error);
  return false;
}

}  // namespace qv::platform::posix
