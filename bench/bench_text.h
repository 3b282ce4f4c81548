// Command-line arguments turned into the library's UTF-16 strings.
#ifndef QVBACKUP_BENCH_BENCH_TEXT_H_
#define QVBACKUP_BENCH_BENCH_TEXT_H_

#include <cstring>
#include <string>
#include <vector>

#include "qvbackup/host.h"

namespace qvbench {

using Text = std::basic_string<WCHAR>;

inline Text Widen(const char* text) {
  std::vector<WCHAR> buffer(std::strlen(text) + 1);
  DWORD length = QVUtf8ToUtf16(text, buffer.data(), static_cast<DWORD>(buffer.size()));
  return Text(buffer.data(), length);
}

}  // namespace qvbench

#endif  // QVBACKUP_BENCH_BENCH_TEXT_H_
