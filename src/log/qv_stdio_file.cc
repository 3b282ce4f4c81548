#include "log/qv_stdio_file.h"

#include <cstdint>
#include <string>
#include <utility>

namespace {

constexpr WCHAR kByteOrderMark = 0xFEFF;
constexpr WCHAR kLineTerminator[] = {'\r', '\n'};

// Little-endian whatever the processor, since the bytes are the file's format.
void AppendUnit(WCHAR unit, std::string* bytes) {
  auto value = static_cast<std::uint16_t>(unit);
  bytes->push_back(static_cast<char>(value & 0xFF));
  bytes->push_back(static_cast<char>(value >> 8));
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

QV_StdioFile::QV_StdioFile() = default;

QV_StdioFile::~QV_StdioFile() = default;

BOOL QV_StdioFile::Open(std::unique_ptr<qv::platform::WritableFile> file) {
  Close();
  if (file == nullptr) return Fail(ERROR_INVALID_HANDLE);
  std::string mark;
  AppendUnit(kByteOrderMark, &mark);
  if (!file->Write(mark.data(), static_cast<DWORD>(mark.size()))) return FALSE;
  m_pFile = std::move(file);
  return TRUE;
}

BOOL QV_StdioFile::IsOpen() const { return m_pFile != nullptr ? TRUE : FALSE; }

BOOL QV_StdioFile::SeekToEnd() {
  if (m_pFile == nullptr) return Fail(ERROR_INVALID_HANDLE);
  return m_pFile->SeekToEnd() ? TRUE : FALSE;
}

BOOL QV_StdioFile::WriteLine(const WCHAR* text) {
  if (m_pFile == nullptr) return Fail(ERROR_INVALID_HANDLE);
  std::string bytes;
  if (text != nullptr) {
    for (const WCHAR* unit = text; *unit != 0; ++unit) AppendUnit(*unit, &bytes);
  }
  for (WCHAR unit : kLineTerminator) AppendUnit(unit, &bytes);
  // A line longer than a DWORD can count is not something the log writes.
  if (bytes.size() > UINT32_MAX) return Fail(ERROR_INVALID_PARAMETER);
  return m_pFile->Write(bytes.data(), static_cast<DWORD>(bytes.size())) ? TRUE : FALSE;
}

void QV_StdioFile::Close() { m_pFile.reset(); }
