#include "sfx_console.h"

#include <cstdio>
#include <vector>

#include "qvbackup/host.h"

namespace qvsfx {

namespace {

void Write(std::FILE* stream, const std::wstring& text) {
  if (text.empty()) return;
  std::vector<char> utf8(text.size() * 3 + 1);
  const DWORD length = QVUtf16ToUtf8(text.c_str(), utf8.data(), static_cast<DWORD>(utf8.size()));
  std::fwrite(utf8.data(), 1, length, stream);
  std::fflush(stream);
}

std::wstring ErrorText(DWORD error) {
  std::vector<wchar_t> buffer(1024);
  const DWORD length = QVGetErrorText(error, buffer.data(), static_cast<DWORD>(buffer.size()));
  return length > 0 ? std::wstring(buffer.data(), length) : L"error " + std::to_wstring(error);
}

}  // namespace

void WriteOut(const std::wstring& text) { Write(stdout, text); }
void WriteError(const std::wstring& text) { Write(stderr, text); }

void Complain(const std::wstring& what, DWORD error) { ComplainBecause(what, ErrorText(error)); }

void ComplainBecause(const std::wstring& what, const std::wstring& why) {
  WriteError(L"qvsfx: " + what + L": " + why + L"\n");
}

std::wstring ProgramPath() {
  std::vector<wchar_t> buffer(32768);
  const DWORD length = QVGetProgramPath(buffer.data(), static_cast<DWORD>(buffer.size()));
  return std::wstring(buffer.data(), length);
}

std::wstring FullPath(const std::wstring& path) {
  std::vector<wchar_t> buffer(32768);
  const DWORD length = QVGetDrivePath(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return length == 0 ? path : std::wstring(buffer.data(), length);
}

bool ReadEnvironment(const wchar_t* name, std::wstring* value) {
  std::vector<wchar_t> buffer(32768);
  DWORD length = 0;
  if (!QVGetEnvironmentText(name, buffer.data(), static_cast<DWORD>(buffer.size()), &length)) return false;
  value->assign(buffer.data(), length);
  for (volatile wchar_t& unit : buffer) unit = 0;
  return true;
}

bool ReadHiddenLine(const std::wstring& prompt, std::wstring* line) {
  if (!QVIsConsole(QV_STANDARD_INPUT)) return false;
  WriteError(prompt);
  std::vector<wchar_t> buffer(4096);
  DWORD length = 0;
  const bool read = QVReadHiddenLine(buffer.data(), static_cast<DWORD>(buffer.size()), &length) != FALSE;
  WriteError(L"\n");
  if (read) line->assign(buffer.data(), length);
  for (volatile wchar_t& unit : buffer) unit = 0;
  return read;
}

}  // namespace qvsfx
