// The C interface's calls about the library and the host: version, error
// texts, the drive map and drive paths. UTF-8 in and out; results are
// error numbers, never a global last error.
#include <cstring>
#include <string>
#include <vector>

#include "platform/text.h"
#include "qvbackup/host.h"
#include "qvbackup/qvbackup.h"

namespace {

#ifndef QV_VERSION_TEXT
#error "QV_VERSION_TEXT is given by the build"
#endif

using Text = std::basic_string<WCHAR>;

// UTF-8 -> UTF-16; false when `text` is null.
bool Wide(const char* text, Text* out) {
  if (text == nullptr) return false;
  *out = qv::platform::Utf8ToUtf16(text);
  return true;
}

std::string Utf8(const Text& text) { return qv::platform::Utf16ToUtf8(text); }

// Copies `text` into `buffer` of `size` bytes, cut at the end of a
// character, terminated when size > 0.
void CopyOut(const std::string& text, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return;
  std::size_t length = text.size() < size ? text.size() : size - 1;
  // A UTF-8 character is not cut: back off continuation bytes.
  while (length > 0 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = 0;
}

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
  std::vector<WCHAR> wide(4096);
  const DWORD length = error < 0 ? 0 : QVGetErrorText(static_cast<DWORD>(error), wide.data(),
                                                       static_cast<DWORD>(wide.size()));
  const std::string text = length != 0 ? Utf8(Text(wide.data(), length)) : "Error " + std::to_string(error);
  CopyOut(text, buffer, size);
  return text.size();
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

}  // extern "C"
