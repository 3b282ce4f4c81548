#include "log/log_text.h"

#include "log/qv_log.h"

namespace qv::log {

namespace {

constexpr const WCHAR* kMonthNames[] = {QVT("Jan"), QVT("Feb"), QVT("Mar"), QVT("Apr"), QVT("May"), QVT("Jun"),
                                        QVT("Jul"), QVT("Aug"), QVT("Sep"), QVT("Oct"), QVT("Nov"), QVT("Dec")};

// The compiler's stamps of this file: "Jan 25 2011" and "14:25:16".
constexpr char kBuildDate[] = __DATE__;
constexpr char kBuildTime[] = __TIME__;

const WCHAR* MonthName(WORD month) { return month >= 1 && month <= 12 ? kMonthNames[month - 1] : QVT("???"); }

bool IsHighSurrogate(WCHAR unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

}  // namespace

CQVString BannerTimeText(const SYSTEMTIME& time) {
  CQVString text;
  text.Format(QVT("%s %d %d %02d:%02d:%02d"), MonthName(time.wMonth), time.wDay, time.wYear, time.wHour,
              time.wMinute, time.wSecond);
  return text;
}

CQVString SummaryTimeText(const SYSTEMTIME& time) {
  CQVString text;
  text.Format(QVT("%02d/%02d/%d - %02d:%02d:%02d"), time.wDay, time.wMonth, time.wYear, time.wHour, time.wMinute,
              time.wSecond);
  return text;
}

CQVString LibraryBuildStamp() {
  CQVString stamp;
  for (char c : kBuildDate) {
    if (c != 0) stamp += static_cast<WCHAR>(c);
  }
  stamp += static_cast<WCHAR>(' ');
  for (char c : kBuildTime) {
    if (c != 0) stamp += static_cast<WCHAR>(c);
  }
  return stamp;
}

CQVString FormatLogMessage(const WCHAR* format, std::va_list arguments) {
  CQVString message;
  if (format == nullptr) return message;
  if (!message.FormatV(format, arguments)) message = format;
  if (message.GetLength() <= QV_LOG_MAX_MESSAGE) return message;
  DWORD keep = QV_LOG_MAX_MESSAGE;
  if (IsHighSurrogate(message.GetAt(keep - 1))) --keep;
  return message.Left(keep);
}

}  // namespace qv::log
