// An increment's record of the state of the selection at its time: the
// items of earlier members that still exist (unchanged, or not saved again),
// besides what the increment saves itself. Whatever neither lists had been
// deleted or renamed by then.
//
// Layout (little-endian): "QVMS", version (2, 1), 0 (2), the number of
// items (4), then per item: the member that saved it (4, 0: the base), its
// entry in that member's index (4).
#ifndef QVBACKUP_CONTROL_CHAIN_STATE_H_
#define QVBACKUP_CONTROL_CHAIN_STATE_H_

#include <cstddef>
#include <vector>

#include "qvbackup/qvbackupcontrol.h"

namespace qv::control {

std::vector<BYTE> EncodeChainState(const std::vector<QVBC_KEPT_ENTRY>& kept);

// Reads a record from the `length` bytes at `data` into *kept. False when
// the bytes are no such record (another magic or version, a count that
// does not match the length).
bool DecodeChainState(const BYTE* data, std::size_t length, std::vector<QVBC_KEPT_ENTRY>* kept);

}  // namespace qv::control

#endif  // QVBACKUP_CONTROL_CHAIN_STATE_H_
