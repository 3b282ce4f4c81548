// Entries and file information records are packed and may start at any
// byte, so their FILETIME fields are copied and read through their two
// halves, never bound to a FILETIME reference (which would be misaligned).
#ifndef QVBACKUP_FILEINDEX_ENTRY_TIME_H_
#define QVBACKUP_FILEINDEX_ENTRY_TIME_H_

#include "qvbackup/wintypes.h"

#define QVFA_COPY_TIME(target, source)                \
  do {                                                \
    (target).dwLowDateTime = (source).dwLowDateTime;  \
    (target).dwHighDateTime = (source).dwHighDateTime; \
  } while (0)

// A FILETIME field as one unsigned 64-bit value.
#define QVFA_TIME_VALUE(time) \
  ((static_cast<ULONGLONG>((time).dwHighDateTime) << 32) | (time).dwLowDateTime)

#endif  // QVBACKUP_FILEINDEX_ENTRY_TIME_H_
