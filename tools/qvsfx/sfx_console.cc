#include "sfx_console.h"

#include <vector>

namespace qvsfx {

namespace {

void Write(DWORD which, const std::wstring& text) {
  if (text.empty()) return;
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
  if (bytes <= 0) return;
  std::vector<char> utf8(static_cast<std::size_t>(bytes));
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(which), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

std::wstring ErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 ? std::wstring(buffer, length) : L"error " + std::to_wstring(error);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  return text;
}

}  // namespace

void WriteOut(const std::wstring& text) { Write(STD_OUTPUT_HANDLE, text); }
void WriteError(const std::wstring& text) { Write(STD_ERROR_HANDLE, text); }

void Complain(const std::wstring& what, DWORD error) { ComplainBecause(what, ErrorText(error)); }

void ComplainBecause(const std::wstring& what, const std::wstring& why) {
  WriteError(L"qvsfx: " + what + L": " + why + L"\n");
}

std::wstring ProgramPath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::wstring();
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::vector<wchar_t> buffer(needed);
  const DWORD length = GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
  return length == 0 || length >= needed ? path : std::wstring(buffer.data(), length);
}

bool ReadEnvironment(const wchar_t* name, std::wstring* value) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return false;
  std::vector<wchar_t> buffer(needed);
  const DWORD length = GetEnvironmentVariableW(name, buffer.data(), needed);
  if (length >= needed) return false;
  value->assign(buffer.data(), length);
  return true;
}

bool ReadHiddenLine(const std::wstring& prompt, std::wstring* line) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  if (!GetConsoleMode(input, &saved)) return false;
  WriteError(prompt);
  SetConsoleMode(input, (saved | ENABLE_LINE_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  std::wstring text;
  wchar_t buffer[256];
  DWORD read = 0;
  bool ended = false;
  while (!ended && ReadConsoleW(input, buffer, 256, &read, nullptr) && read > 0) {
    for (DWORD i = 0; i < read && !ended; ++i) {
      if (buffer[i] == L'\n') ended = true;
      else if (buffer[i] != L'\r') text.push_back(buffer[i]);
    }
  }
  SetConsoleMode(input, saved);
  WriteError(L"\n");
  if (!ended && text.empty()) return false;
  *line = text;
  return true;
}

}  // namespace qvsfx
