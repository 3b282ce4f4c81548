#include "platform/code_page.h"

#include "platform/win32/win32_support.h"

namespace qv::platform {

WString AnsiToUtf16(std::string_view text) {
  if (text.empty() || text.size() > 0x7FFFFFFF) return WString();
  int size = static_cast<int>(text.size());
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return WString();
  WString wide(static_cast<std::size_t>(length), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, reinterpret_cast<wchar_t*>(wide.data()), length);
  return wide;
}

}  // namespace qv::platform
