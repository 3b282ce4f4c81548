// The system's text for an error number, on systems whose own error texts
// belong to errno: the English texts Windows gives the error numbers that
// the library reports, so that a log reads the same on every platform.
#include <algorithm>
#include <iterator>

#include "platform/posix/posix_error.h"
#include "platform/system_info.h"

namespace qv::platform {

namespace {

constexpr DWORD kErrorMessageNotFound = 317;

struct ErrorText {
  DWORD error;
  const char* text;
};

// Sorted by number, for the binary search below.
constexpr ErrorText kErrorTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {11, "An attempt was made to load a program with an incorrect format."},
    {13, "The data is invalid."},
    {14, "Not enough storage is available to complete this operation."},
    {15, "The system cannot find the drive specified."},
    {17, "The system cannot move the file to a different disk drive."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {23, "Data error (cyclic redundancy check)."},
    {25, "The drive cannot locate a specific area or track on the disk."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33, "The process cannot access the file because another process has locked a portion of the file."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {53, "The network path was not found."},
    {67, "The network name cannot be found."},
    {80, "The file exists."},
    {86, "The specified network password is not correct."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {110, "The system cannot open the device or file specified."},
    {111, "The file name is too long."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {203, "The system could not find the environment option that was entered."},
    {206, "The filename or extension is too long."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {487, "Attempt to access invalid address."},
    {681, "The create operation stopped after reaching a symbolic link."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1168, "Element not found."},
    {1223, "The operation was canceled by the user."},
    {1237, "The operation could not be completed. A retry should be performed."},
    {1323, "Unable to update the password. The value provided as the current password is incorrect."},
    {1460, "This operation returned because the timeout period expired."},
    {1813, "The specified resource type cannot be found in the image file."},
    {1921, "The name of the file cannot be resolved by the system."},
    {5023, "The group or resource is not in the correct state to perform the requested operation."},
};

constexpr bool IsSortedByNumber() {
  for (std::size_t i = 1; i < std::size(kErrorTexts); ++i) {
    if (kErrorTexts[i - 1].error >= kErrorTexts[i].error) return false;
  }
  return true;
}
static_assert(IsSortedByNumber(), "error texts must be sorted by number");

}  // namespace

bool GetSystemErrorText(DWORD error, WString* text) {
  if (text == nullptr) return posix::FailWith(ERROR_INVALID_PARAMETER);
  const ErrorText* end = std::end(kErrorTexts);
  const ErrorText* found = std::lower_bound(std::begin(kErrorTexts), end, error,
                                            [](const ErrorText& entry, DWORD value) { return entry.error < value; });
  if (found == end || found->error != error) return posix::FailWith(kErrorMessageNotFound);
  text->clear();
  for (const char* c = found->text; *c != 0; ++c) text->push_back(static_cast<WCHAR>(*c));
  return true;
}

}  // namespace qv::platform
