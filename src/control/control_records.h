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
namespace locator = ::qvlayout::locator;

constexpr WORD kBlockKindData = ::qvlayout::block::kKindData;
constexpr WORD kBlockKindClosing = ::qvlayout::block::kKindClosing;
constexpr WORD kBlockKindAbandoned = ::qvlayout::block::kKindAbandoned;
constexpr WORD kBlockKindMetadata = ::qvlayout::block::kKindMetadata;
constexpr WORD kBlockKindMetadataLocator = ::qvlayout::block::kKindMetadataLocator;
constexpr DWORD kBlockHeaderSize = ::qvlayout::block::kSize;

// Whether the `length` bytes at `block` are laid out as a file record:
// header size 27, the first name right after the header and the second
// right after it, both terminated and within the block.
bool IsWellFormedRecord(const BYTE* block, DWORD length);

}  // namespace qv::control

#endif  // QVBACKUP_CONTROL_CONTROL_RECORDS_H_
