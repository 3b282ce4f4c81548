#include "iso_time.h"

namespace qvtool {

namespace {

constexpr LONGLONG kSecondsFrom1601To1970 = 11644473600LL;
constexpr LONGLONG kTicksPerSecond = 10000000LL;

// Reads exactly `digits` decimal digits at `*position` and moves past them.
bool Digits(const WString& text, std::size_t* position, int digits, int* value) {
  if (*position + static_cast<std::size_t>(digits) > text.size()) return false;
  int number = 0;
  for (int i = 0; i < digits; ++i) {
    const WCHAR c = text[*position + static_cast<std::size_t>(i)];
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  *position += static_cast<std::size_t>(digits);
  *value = number;
  return true;
}

bool Expect(const WString& text, std::size_t* position, WCHAR c) {
  if (*position >= text.size() || text[*position] != c) return false;
  ++*position;
  return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian
// calendar (negative before it).
LONGLONG DaysFromEpoch(int year, int month, int day) {
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return static_cast<LONGLONG>(era) * 146097 + dayOfEra - 719468;
}

// The optional ":SS[.fff]" after the minutes; the fraction in 100 ns ticks.
bool ReadSeconds(const WString& text, std::size_t* position, int* second, LONGLONG* ticks) {
  if (!Expect(text, position, ':')) return true;
  if (!Digits(text, position, 2, second) || *second > 59) return false;
  if (!Expect(text, position, '.')) return true;
  LONGLONG scale = kTicksPerSecond / 10;
  std::size_t digits = 0;
  while (*position < text.size() && text[*position] >= '0' && text[*position] <= '9') {
    *ticks += (text[*position] - '0') * scale;
    scale /= 10;
    ++*position;
    ++digits;
  }
  return digits > 0;
}

// The optional zone after a time, as seconds to subtract to reach UTC.
bool ReadZone(const WString& text, std::size_t* position, LONGLONG* offsetSeconds) {
  if (*position == text.size()) return true;
  if (Expect(text, position, 'Z')) return true;
  const WCHAR sign = text[*position];
  if (sign != '+' && sign != '-') return false;
  ++*position;
  int hours = 0;
  int minutes = 0;
  if (!Digits(text, position, 2, &hours) || hours > 23) return false;
  if (Expect(text, position, ':') && (!Digits(text, position, 2, &minutes) || minutes > 59)) return false;
  *offsetSeconds = (hours * 3600LL + minutes * 60LL) * (sign == '-' ? -1 : 1);
  return true;
}

}  // namespace

bool ParseIsoTime(const WString& text, FILETIME* time) {
  std::size_t position = 0;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  LONGLONG ticks = 0;
  LONGLONG offset = 0;
  if (!Digits(text, &position, 4, &year) || !Expect(text, &position, '-') || !Digits(text, &position, 2, &month) ||
      !Expect(text, &position, '-') || !Digits(text, &position, 2, &day)) {
    return false;
  }
  if (year < 1601 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  if (position < text.size()) {
    if (text[position] != 'T' && text[position] != ' ') return false;
    ++position;
    if (!Digits(text, &position, 2, &hour) || hour > 23 || !Expect(text, &position, ':') ||
        !Digits(text, &position, 2, &minute) || minute > 59 || !ReadSeconds(text, &position, &second, &ticks) ||
        !ReadZone(text, &position, &offset)) {
      return false;
    }
  }
  if (position != text.size()) return false;
  const LONGLONG seconds = DaysFromEpoch(year, month, day) * 86400 + hour * 3600LL + minute * 60LL + second - offset;
  const LONGLONG value = (seconds + kSecondsFrom1601To1970) * kTicksPerSecond + ticks;
  if (value < 0) return false;
  time->dwLowDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(value) & 0xFFFFFFFFu);
  time->dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(value) >> 32);
  return true;
}

}  // namespace qvtool
