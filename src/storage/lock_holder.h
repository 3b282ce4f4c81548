// What a lock of an archive says of the run that holds it.
#ifndef QVBACKUP_STORAGE_LOCK_HOLDER_H_
#define QVBACKUP_STORAGE_LOCK_HOLDER_H_

#include "platform/text.h"

namespace qv::storage {

// "process 1234 on host, since 2026-12-08 19:04:05 UTC"
WString LockHolderText();

}  // namespace qv::storage

#endif  // QVBACKUP_STORAGE_LOCK_HOLDER_H_
