// QV_LOG: error, detail and trace lines.
#include <cstdarg>

#include "log/last_error_keeper.h"
#include "log/log_text.h"
#include "log/qv_log.h"
#include "platform/system_info.h"

using qv::log::FormatLogMessage;
using qv::log::LastErrorKeeper;

namespace {

constexpr WCHAR kNameSeparator[] = QVT(" : ");
constexpr WCHAR kNoFunctionPrefix[] = QVT("No function defined : ");
constexpr WCHAR kArgumentsStart[] = QVT("(");

// " : <system text>" for `error`, or " (Error <error>)" when the system has none.
CQVString ErrorExplanation(DWORD error) {
  qv::WString text;
  CQVString explanation;
  if (qv::platform::GetSystemErrorText(error, &text) && !text.empty()) {
    explanation = kNameSeparator;
    explanation += text.c_str();
  } else {
    explanation.Format(QVT(" (Error %d)"), static_cast<int>(error));
  }
  return explanation;
}

// The traced operation's name: its text up to the first '('.
CQVString OperationNameOf(const WCHAR* format) {
  CQVString name = format;
  DWORD parenthesis = 0;
  if (name.Find(kArgumentsStart, &parenthesis)) name = name.Left(parenthesis);
  return name;
}

}  // namespace

BOOL QV_LOG::LogError(const WCHAR* format, ...) {
  if ((m_dwLevel & LOG_ERRORS) == 0) return FALSE;
  // Read before anything else can change it.
  DWORD error = GetLastError();
  std::va_list arguments;
  va_start(arguments, format);
  CQVString message = FormatLogMessage(format, arguments);
  va_end(arguments);
  if (error != 0 && m_bOpen) message += ErrorExplanation(error);
  ++m_dwErrors;
  SetLastError(0);
  return WriteWithPrefix(QVT("ERROR : "), message);
}

BOOL QV_LOG::LogDetail(const WCHAR* format, ...) {
  if ((m_dwLevel & LOG_DETAILS) == 0) return FALSE;
  LastErrorKeeper keep;
  std::va_list arguments;
  va_start(arguments, format);
  CQVString message = FormatLogMessage(format, arguments);
  va_end(arguments);
  return WriteWithPrefix(QVT(""), message);
}

BOOL QV_LOG::Enter(const WCHAR* format, ...) {
  if ((m_dwLevel & LOG_TRACE) == 0) return FALSE;
  LastErrorKeeper keep;
  std::va_list arguments;
  va_start(arguments, format);
  CQVString message = FormatLogMessage(format, arguments);
  va_end(arguments);
  CQVString name = OperationNameOf(format);
  if (name.IsEmpty()) {
    m_strPrefix = kNoFunctionPrefix;
  } else {
    m_dqCallStack.push_back(name);
    m_strPrefix = name + kNameSeparator;
  }
  return WriteWithPrefix(QVT("ENTER "), message);
}

void QV_LOG::Exit() {
  if ((m_dwLevel & LOG_TRACE) != 0) Leave(QVT("EXIT"), nullptr);
}

CQVString QV_LOG::ReturnedText(const CQVString& value, const WCHAR* detail) {
  if ((m_dwLevel & LOG_TRACE) != 0) Leave(CQVString(QVT("RETURNED ")) + value, detail);
  return value;
}

void QV_LOG::LeaveWithNumber(std::int32_t value, const WCHAR* detail) {
  CQVString tag;
  tag.Format(QVT("RETURNED %d"), static_cast<int>(value));
  Leave(tag, detail);
}

void QV_LOG::Leave(const CQVString& tag, const WCHAR* detail) {
  LastErrorKeeper keep;
  CQVString line = m_strPrefix + tag;
  if (detail != nullptr && *detail != 0) {
    line += QVT(" (");
    line += detail;
    line += QVT(")");
  }
  WriteLine(line);
  WriteLine(QVT(""));
  if (!m_dqCallStack.empty()) m_dqCallStack.pop_back();
  m_strPrefix = m_dqCallStack.empty() ? CQVString() : m_dqCallStack.back() + kNameSeparator;
}

BOOL QV_LOG::WriteWithPrefix(const WCHAR* tag, const CQVString& message) {
  return WriteLine(m_strPrefix + tag + message);
}
