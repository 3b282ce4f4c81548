// The backup control's records (qvbackup/qvarchivelayout.h has them all,
// with a picture of each).
#ifndef QVBACKUP_CONTROL_CONTROL_RECORDS_H_
#define QVBACKUP_CONTROL_CONTROL_RECORDS_H_

#include <vector>

#include "platform/text.h"
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
constexpr WORD kBlockKindChainState = ::qvlayout::block::kKindChainState;
constexpr WORD kBlockKindChainStateLocator = ::qvlayout::block::kKindChainStateLocator;
constexpr DWORD kBlockHeaderSize = ::qvlayout::block::kSize;

// Deflate never expands data more than 1032 times: a length of stored
// bytes that would need more room than the blocks it lies in is damage.
constexpr ULONGLONG kMostInflation = 1032;

// The flags the control's index adds saved items with: a clone for a path
// saved twice, and, where the file system tells case apart, names matched
// exactly ("Photos\a" and "photos\a" are two files in two folders).
DWORD SavedItemFlags();

// Whether the `length` bytes at `block` are laid out as a file record:
// header size 27, the first name right after the header and the second
// right after it, both terminated and within the block.
bool IsWellFormedRecord(const BYTE* block, DWORD length);

// The record block of a file named `name` saved from `path`, for index
// entry `entry`: the opening values of `opening` (a record's first
// record::kSize bytes; the fields after them are filled in), then both
// names. Empty when a name is too long for the record's 16-bit fields.
std::vector<BYTE> MakeRecordBlock(const BYTE* opening, qv::WStringView name, qv::WStringView path, DWORD entry);

}  // namespace qv::control

#endif  // QVBACKUP_CONTROL_CONTROL_RECORDS_H_
