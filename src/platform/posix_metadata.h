// What a POSIX system keeps of a file beyond its content and the Windows
// description: its type (file, folder, symbolic link), mode, owner, times
// to the nanosecond, link target, extended attributes, and which file it is
// (for its other names). Read at backup, given back at restore. Windows
// keeps none of it here: reading finds nothing to keep and applying is a
// no-op, so archives made on Linux restore there with their content.
//
// Paths are drive paths, as everywhere in the platform layer. Functions
// that fail set the thread's last error to a Windows error number.
#ifndef QVBACKUP_PLATFORM_POSIX_METADATA_H_
#define QVBACKUP_PLATFORM_POSIX_METADATA_H_

#include <cstdint>
#include <string>
#include <vector>

#include "qvbackup/wintypes.h"

namespace qv::platform {

enum class ItemType : BYTE {
  kOther = 0,  // nothing a backup keeps (device, FIFO, socket)
  kFile = 1,
  kFolder = 2,
  kSymbolicLink = 3,
};

struct ExtendedAttribute {
  std::string name;  // with its namespace: "user.comment", "security.capability"
  std::vector<BYTE> value;
};

struct PosixMetadata {
  ItemType type = ItemType::kOther;
  DWORD mode = 0;  // permissions, set-user-id, set-group-id and sticky (07777)
  DWORD uid = 0;
  DWORD gid = 0;
  std::string user;   // the owner's name, empty when the number has none here
  std::string group;  // likewise for the group
  std::int64_t modifiedSeconds = 0;  // since 1970
  DWORD modifiedNanoseconds = 0;
  std::int64_t accessedSeconds = 0;
  DWORD accessedNanoseconds = 0;
  std::string linkTarget;  // a symbolic link's target, byte for byte
  std::vector<ExtendedAttribute> attributes;
  // Which file this is, to tell its other names (not stored).
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t links = 0;  // names the file has
};

// Whether this system keeps such metadata (POSIX systems do).
bool KeepsPosixMetadata();

// Reads the metadata of `path`, a final symbolic link not followed (its
// own metadata and target). Extended attributes that cannot be read are
// left out. False with the system's error; on Windows false with
// ERROR_NOT_SUPPORTED.
bool ReadPosixMetadata(const WCHAR* path, PosixMetadata* metadata);

// What ApplyPosixMetadata could not give back, as bits.
constexpr DWORD kMetadataOwnerNotSet = 0x1;       // owner or group (only root sets them)
constexpr DWORD kMetadataModeNotSet = 0x2;
constexpr DWORD kMetadataAttributesNotSet = 0x4;  // a user.* extended attribute
constexpr DWORD kMetadataTimesNotSet = 0x8;

// Gives `path` (a final symbolic link not followed) the metadata it had:
// the owner and group when this process may give them (root; the names
// where this system knows them, else the numbers), then the mode (not for
// a link), the extended attributes (user.* ones failing are told; the
// others are given where the process may, silently otherwise), and with
// `times` the access and modification times. Returns the bits of what was
// not given back (0: all of it); an owner left to a restoring user who is
// not root is not told. On Windows: 0, nothing done.
DWORD ApplyPosixMetadata(const WCHAR* path, const PosixMetadata& metadata, bool times);

// Creates the symbolic link `path` holding `target` as it is. False with
// the system's error (ERROR_FILE_EXISTS when `path` exists); on Windows
// ERROR_NOT_SUPPORTED: such links need rights a restore does not have.
bool CreateSymbolicLink(const WCHAR* path, const std::string& target);

// Gives the file `existing` the further name `path`. False with the
// system's error (ERROR_FILE_EXISTS when `path` exists,
// ERROR_NOT_SAME_DEVICE across volumes).
bool CreateHardLink(const WCHAR* existing, const WCHAR* path);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_POSIX_METADATA_H_
