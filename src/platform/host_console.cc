// The host's console calls, the same on every platform over the platform
// layer's own.
#include "platform/console.h"
#include "platform/host_buffer.h"
#include "qvbackup/host.h"

namespace {

using qv::WString;

// Copies a line or value out and wipes the copy the library held, since it
// may be a password.
BOOL HandOver(WString* text, LPWSTR buffer, DWORD cchBuffer, DWORD* pcchText) {
  const bool copied = text->size() < cchBuffer;
  const DWORD length = qv::platform::CopyOutToHost(*text, buffer, cchBuffer);
  for (volatile WCHAR& unit : *text) unit = 0;
  if (!copied) return FALSE;
  *pcchText = length;
  return TRUE;
}

bool BufferValid(LPCWSTR buffer, DWORD cchBuffer, const DWORD* pcchText) {
  if ((buffer != nullptr || cchBuffer == 0) && pcchText != nullptr) return true;
  SetLastError(ERROR_INVALID_PARAMETER);
  return false;
}

}  // namespace

extern "C" {

QVBACKUP_API BOOL QVIsConsole(DWORD stream) {
  using qv::platform::StandardStream;
  switch (stream) {
    case QV_STANDARD_INPUT:
      return qv::platform::IsConsole(StandardStream::kInput) ? TRUE : FALSE;
    case QV_STANDARD_OUTPUT:
      return qv::platform::IsConsole(StandardStream::kOutput) ? TRUE : FALSE;
    case QV_STANDARD_ERROR:
      return qv::platform::IsConsole(StandardStream::kError) ? TRUE : FALSE;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

QVBACKUP_API void QVUseUtf8ConsoleOutput(void) { qv::platform::UseUtf8ConsoleOutput(); }

QVBACKUP_API BOOL QVReadHiddenLine(LPWSTR buffer, DWORD cchBuffer, DWORD* pcchLine) {
  if (!BufferValid(buffer, cchBuffer, pcchLine)) return FALSE;
  WString line;
  if (!qv::platform::ReadHiddenLine(&line)) return FALSE;
  return HandOver(&line, buffer, cchBuffer, pcchLine);
}

QVBACKUP_API void QVSetInterruptFlag(volatile BOOL* flag) { qv::platform::SetInterruptFlag(flag); }

QVBACKUP_API DWORD QVGetProgramPath(LPWSTR buffer, DWORD cchBuffer) {
  if (buffer == nullptr && cchBuffer != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  WString path;
  if (!qv::platform::GetProgramPath(&path)) return 0;
  return qv::platform::CopyOutToHost(path, buffer, cchBuffer);
}

QVBACKUP_API BOOL QVGetEnvironmentText(LPCWSTR name, LPWSTR buffer, DWORD cchBuffer, DWORD* pcchValue) {
  if (name == nullptr || !BufferValid(buffer, cchBuffer, pcchValue)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  WString value;
  if (!qv::platform::GetEnvironmentText(name, &value)) return FALSE;
  return HandOver(&value, buffer, cchBuffer, pcchValue);
}

}  // extern "C"
