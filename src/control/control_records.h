// The backup control's records (qvbackup/qvarchivelayout.h has them all,
// with a picture of each).
#ifndef QVBACKUP_CONTROL_CONTROL_RECORDS_H_
#define QVBACKUP_CONTROL_CONTROL_RECORDS_H_

#include "qvbackup/qvarchivelayout.h"
#include "qvbackup/wintypes.h"

namespace qv::control {

namespace record = ::qvlayout::record;
namespace userdata = ::qvlayout::userdata;
namespace closing = ::qvlayout::closing;

constexpr WORD kBlockKindData = ::qvlayout::block::kKindData;
constexpr WORD kBlockKindClosing = ::qvlayout::block::kKindClosing;

}  // namespace qv::control

#endif  // QVBACKUP_CONTROL_CONTROL_RECORDS_H_
