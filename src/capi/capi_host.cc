// The C interface's calls about the library and the host: version, error
// texts, the drive map and drive paths. UTF-8 in and out; results are
// error numbers, never a global last error.
#include <cstring>
#include <string>
#include <vector>

#include "capi_session.h"
#include "platform/text.h"
#include "qvbackup/host.h"
#include "qvbackup/qvbackup.h"

namespace {

#ifndef QV_VERSION_TEXT
#error "QV_VERSION_TEXT is given by the build"
#endif

using Text = std::basic_string<WCHAR>;
using qv::capi::CopyOut;

// The texts of the library's own outcomes.
const char* OwnErrorText(int error) {
  switch (error) {
    case QVB_ERROR_INCOMPLETE:
      return "The run finished, but some items were left out; each was reported.";
    case QVB_ERROR_DAMAGED:
      return "The archive is damaged; each finding was reported.";
    case QVB_ERROR_FAILED:
      return "The run failed; the session's message says why.";
    case QVB_ERROR_BUSY_SESSION:
      return "A run is under way in this session, or a callback tried to start one.";
  }
  return nullptr;
}

// Copies `text` (`length` units, the terminator not counted) into `buffer`
// of `size` units; tells the length, and whether it fitted.
template <typename Unit>
int CopyUnits(const Unit* text, size_t length, Unit* buffer, size_t size, size_t* needed) {
  if (needed != nullptr) *needed = length;
  if (length >= size) {
    if (buffer != nullptr && size > 0) buffer[0] = 0;
    return QVB_ERROR_INSUFFICIENT_BUFFER;
  }
  for (size_t i = 0; i < length; ++i) buffer[i] = text[i];
  buffer[length] = 0;
  return QVB_OK;
}

// UTF-8 -> UTF-16; false when `text` is null.
bool Wide(const char* text, Text* out) {
  if (text == nullptr) return false;
  *out = qv::platform::Utf8ToUtf16(text);
  return true;
}

std::string Utf8(const Text& text) { return qv::platform::Utf16ToUtf8(text); }

int ParseVersionPart(const char*& at) {
  int value = 0;
  while (*at >= '0' && *at <= '9') value = value * 10 + (*at++ - '0');
  if (*at == '.') ++at;
  return value;
}

}  // namespace

extern "C" {

QVB_API const char* qvb_version(int* major, int* minor, int* patch) {
  static const char kVersion[] = QV_VERSION_TEXT;
  const char* at = kVersion;
  const int parts[3] = {ParseVersionPart(at), ParseVersionPart(at), ParseVersionPart(at)};
  if (major != nullptr) *major = parts[0];
  if (minor != nullptr) *minor = parts[1];
  if (patch != nullptr) *patch = parts[2];
  return kVersion;
}

QVB_API size_t qvb_error_text(int error, char* buffer, size_t size) {
  if (const char* own = OwnErrorText(error)) return CopyOut(own, buffer, size);
  std::vector<WCHAR> wide(4096);
  const DWORD length = error < 0 ? 0 : QVGetErrorText(static_cast<DWORD>(error), wide.data(),
                                                       static_cast<DWORD>(wide.size()));
  const std::string text = length != 0 ? Utf8(Text(wide.data(), length)) : "Error " + std::to_string(error);
  return CopyOut(text, buffer, size);
}

QVB_API int qvb_map_drive(char letter, const char* root, const char* device) {
  Text wideRoot;
  Text wideDevice;
  const bool hasRoot = Wide(root, &wideRoot);
  const bool hasDevice = Wide(device, &wideDevice);
  if (QVSetDriveMapping(static_cast<WCHAR>(static_cast<unsigned char>(letter)), hasRoot ? wideRoot.c_str() : nullptr,
                        hasDevice ? wideDevice.c_str() : nullptr)) {
    return QVB_OK;
  }
  return static_cast<int>(GetLastError());
}

QVB_API int qvb_drive_path(const char* native, char* buffer, size_t size, size_t* needed) {
  if (needed != nullptr) *needed = 0;
  Text wideNative;
  if (!Wide(native, &wideNative) || wideNative.empty() || (buffer == nullptr && size != 0)) {
    return QVB_ERROR_INVALID_PARAMETER;
  }
  std::vector<WCHAR> wide(32768);
  const DWORD length = QVGetDrivePath(wideNative.c_str(), wide.data(), static_cast<DWORD>(wide.size()));
  if (length == 0) return static_cast<int>(GetLastError());
  const std::string text = Utf8(Text(wide.data(), length));
  if (needed != nullptr) *needed = text.size();
  if (text.size() >= size) {
    if (buffer != nullptr && size > 0) buffer[0] = 0;
    return QVB_ERROR_INSUFFICIENT_BUFFER;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return QVB_OK;
}

QVB_API int qvb_utf16_to_utf8(const qvb_char16* text, char* buffer, size_t size, size_t* needed) {
  if (needed != nullptr) *needed = 0;
  Text wide;
  if (!qv::capi::WideFromHost(text, &wide) || (buffer == nullptr && size != 0)) return QVB_ERROR_INVALID_PARAMETER;
  const std::string utf8 = Utf8(wide);
  return CopyUnits(utf8.data(), utf8.size(), buffer, size, needed);
}

QVB_API int qvb_utf8_to_utf16(const char* text, qvb_char16* buffer, size_t size, size_t* needed) {
  if (needed != nullptr) *needed = 0;
  Text wide;
  if (!Wide(text, &wide) || (buffer == nullptr && size != 0)) return QVB_ERROR_INVALID_PARAMETER;
  std::vector<qvb_char16> units(wide.begin(), wide.end());
  return CopyUnits(units.data(), units.size(), buffer, size, needed);
}

}  // extern "C"
