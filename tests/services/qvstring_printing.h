// Lets GoogleTest print the string types in failure messages as UTF-8.
#ifndef QVBACKUP_TESTS_SERVICES_QVSTRING_PRINTING_H_
#define QVBACKUP_TESTS_SERVICES_QVSTRING_PRINTING_H_

#include <ostream>

#include "common/test_util.h"
#include "qvbackup/qvstring.h"

inline void PrintTo(const CQVString& text, std::ostream* os) {
  *os << '"' << qvtest::U8(text.GetString()) << '"';
}
inline void PrintTo(const CQVPathString& text, std::ostream* os) {
  PrintTo(static_cast<const CQVString&>(text), os);
}
inline void PrintTo(const CQVSysPathString& text, std::ostream* os) {
  PrintTo(static_cast<const CQVString&>(text), os);
}

#endif  // QVBACKUP_TESTS_SERVICES_QVSTRING_PRINTING_H_
