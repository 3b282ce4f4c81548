// ISO 8601 dates and times as the command line takes them.
#ifndef QVBACKUP_TOOLS_ISO_TIME_H_
#define QVBACKUP_TOOLS_ISO_TIME_H_

#include "console.h"

namespace qvtool {

// Reads "YYYY-MM-DD" (midnight) or "YYYY-MM-DDTHH:MM[:SS[.fff]]" ('T' or a
// blank between), with an optional zone "Z" or "+HH:MM"/"-HH:MM" after a
// time; without a zone the time is UTC. Stores the instant as a FILETIME
// (100 ns units since 1601-01-01 UTC). False for anything else, an
// impossible date (2023-02-29) or a year before 1601 included.
bool ParseIsoTime(const WString& text, FILETIME* time);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_ISO_TIME_H_
