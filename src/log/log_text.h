// The fixed texts of the log: times, build stamp and formatted messages.
#ifndef QVBACKUP_LOG_LOG_TEXT_H_
#define QVBACKUP_LOG_LOG_TEXT_H_

#include <cstdarg>

#include "qvbackup/qvstring.h"
#include "qvbackup/wintypes.h"

namespace qv::log {

// "Feb 3 2011 10:12:40": English month abbreviation, day without a leading
// zero, year, two-digit time fields.
CQVString BannerTimeText(const SYSTEMTIME& time);

// "03/02/2011 - 10:12:55": day/month/year, then the time.
CQVString SummaryTimeText(const SYSTEMTIME& time);

// When the library was built: "Jan 25 2011 14:25:16" (the day padded with a
// space to two characters, "Feb  3 2011").
CQVString LibraryBuildStamp();

// `format` filled with `arguments` and cut to QV_LOG_MAX_MESSAGE code units
// (never between the halves of a surrogate pair). A null format gives an
// empty text; a format the formatter refuses is kept as it is.
CQVString FormatLogMessage(const WCHAR* format, std::va_list arguments);

}  // namespace qv::log

#endif  // QVBACKUP_LOG_LOG_TEXT_H_
