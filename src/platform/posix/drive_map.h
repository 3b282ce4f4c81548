// The POSIX drive map: gives each drive letter of the library's Windows-form
// paths ("C:\Users\a.txt") a native root folder and, optionally, a raw device
// or image file that stands for the volume.
//
// Names cross the boundary component by component: native bytes become
// UTF-16 with the escape of platform/text.h (bytes that are not UTF-8 become
// U+DC80..U+DCFF), and the two characters a Windows name cannot hold but a
// POSIX name can, ':' and '\', become U+F03A and U+F05C. A native name that
// really contains U+F03A or U+F05C comes back as ':' or '\'; those private-use
// characters are not expected in file names.
#ifndef QVBACKUP_PLATFORM_POSIX_DRIVE_MAP_H_
#define QVBACKUP_PLATFORM_POSIX_DRIVE_MAP_H_

#include <array>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "qvbackup/wintypes.h"

namespace qv::platform::posix {

// A drive path resolved to the native file system.
struct NativePath {
  std::string path;          // absolute, no trailing '/' except for "/"
  bool isDriveRoot = false;  // the path names its drive's root folder
};

// One name component, drive form -> native form and back (see above).
std::string NativeNameOf(WStringView driveName);
WString DriveNameOf(std::string_view nativeName);

// Makes `path` absolute against the current folder when it is relative and
// resolves "." and ".." and repeated '/' lexically; symbolic links are not
// resolved and nothing needs to exist. ".." at the top stays at "/". False
// with the last error when the current folder cannot be read.
bool AbsoluteNativePath(std::string_view path, std::string* absolute);

// A map of the 26 letters. A value: the process's map is one of these behind
// a lock (the free functions below); tests make their own.
class DriveMap {
 public:
  // Starts as "C" -> "/" with no device.
  DriveMap();

  // Applies a QV_DRIVES-style list "C=/;E=/mnt/usb,/dev/sdb1;F=,/tmp/fat.img":
  // entries "letter=root[,device]" separated by ';', spaces before an entry
  // skipped. Each entry replaces its letter's mapping; an empty root leaves
  // the letter without a folder. Malformed entries are ignored.
  void ApplyList(std::string_view list);

  // Maps `letter` (either case) to `root` and `device` (empty: none).
  // Relative paths are made absolute against the current folder now.
  // False with ERROR_INVALID_PARAMETER for a letter outside A..Z.
  bool Set(WCHAR letter, std::string_view root, std::string_view device);

  // "X:" or "X:\..." ('/' is a separator too) -> native path. "." and ".."
  // are resolved without leaving the drive's root. False with
  // ERROR_PATH_NOT_FOUND for any other form or a letter without a folder.
  // A path with neither drive nor leading separator ("name", "sub\name")
  // lies below the current folder, as on Windows.
  bool ToNative(WStringView drivePath, NativePath* native) const;

  // Native path (made absolute as AbsoluteNativePath does) -> "X:\..." on the
  // drive whose root is its longest prefix (on a tie, the first letter).
  // The root itself gives "X:\". False with ERROR_PATH_NOT_FOUND when no
  // drive covers the path.
  bool ToDrive(std::string_view nativePath, WString* drivePath) const;

  // The raw device or image file of `letter`. False with
  // ERROR_FILE_NOT_FOUND when it has none, ERROR_INVALID_PARAMETER for a bad
  // letter.
  bool Device(WCHAR letter, std::string* device) const;

 private:
  struct Drive {
    std::string root;
    std::string device;
  };
  std::array<Drive, 26> drives_;
};

// The process's map, built on first use from "C" -> "/" and the QV_DRIVES
// environment variable; safe to use from any thread. Same contracts as the
// DriveMap members.
bool SetDriveMapping(WCHAR letter, std::string_view root, std::string_view device);
bool NativePathOf(WStringView drivePath, NativePath* native);
bool DrivePathOf(std::string_view nativePath, WString* drivePath);
bool DriveDeviceOf(WCHAR letter, std::string* device);

}  // namespace qv::platform::posix

#endif  // QVBACKUP_PLATFORM_POSIX_DRIVE_MAP_H_
