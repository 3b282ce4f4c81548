#include "content_size.h"

#include <algorithm>

#include "archive_layout.h"
#include "report.h"

namespace qvtool {

namespace {

using namespace layout;

constexpr DWORD kOffsetAt = 0;
constexpr DWORD kLengthAt = 8;

}  // namespace

WString PlainContentProblem(ULONGLONG size, ULONGLONG contentBytes, bool lengthMayDiffer) {
  if (size == contentBytes || lengthMayDiffer) return WString();
  return Widen("its index gives it ") + Counted(size, "byte") + Widen(", its data holds ") + Number(contentBytes);
}

void RunLayout::Feed(const BYTE* data, DWORD length) {
  if (length > left_) {
    overflow_ = true;
    length = static_cast<DWORD>(left_);
  }
  left_ -= length;
  for (DWORD at = 0; at < length && problem_.empty();) {
    if (runLeft_ != 0) {
      const DWORD piece = static_cast<DWORD>(std::min<ULONGLONG>(runLeft_, length - at));
      runLeft_ -= piece;
      at += piece;
      continue;
    }
    const DWORD piece = std::min<DWORD>(record::kRunHeaderSize - headerFill_, length - at);
    std::copy_n(data + at, piece, header_ + headerFill_);
    headerFill_ += piece;
    at += piece;
    if (headerFill_ < record::kRunHeaderSize) continue;
    headerFill_ = 0;
    const ULONGLONG offset = Qword(header_, kOffsetAt);
    const ULONGLONG runLength = Qword(header_, kLengthAt);
    if (runLength == 0) {
      problem_ = Widen("its runs of data hold an empty run at ") + Number(offset);
    } else if (offset < end_) {
      problem_ = Widen("its runs of data are out of order or overlap at ") + Number(offset);
    } else if (runLength > ~0ULL - offset) {
      problem_ = Widen("a run of its data reaches past the largest size a file can have");
    } else {
      end_ = offset + runLength;
      runLeft_ = runLength;
    }
  }
}

WString RunLayout::Problem(ULONGLONG size) const {
  if (broken_) return WString();
  if (!problem_.empty()) return problem_;
  if (overflow_ || left_ != 0 || runLeft_ != 0 || headerFill_ != 0) {
    return Widen("its runs of data do not fill its saved content exactly");
  }
  if (end_ > size) {
    return Widen("its runs of data end at ") + Number(end_) + Widen(", past the ") + Number(size) +
           Widen(" bytes its index gives it");
  }
  return WString();
}

}  // namespace qvtool
