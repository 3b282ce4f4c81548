// The names an archive's files take in a remote folder: its volumes
// (NAME.QVA, NAME.1.QVA, NAME.I2.3.QVA, NAME.exe...), and what runs put
// beside them on the way: NAME....qvnew (sent, not yet renamed into
// place), NAME....qvpart-TOKEN (being sent), NAME.qvcommit (a replacement's
// record). Names are compared exactly, as remote stores do.
#ifndef QVBACKUP_REMOTE_REMOTE_NAMES_H_
#define QVBACKUP_REMOTE_REMOTE_NAMES_H_

#include "platform/text.h"

namespace qv::remote {

// Whether `file` is a volume file of archive `name`.
bool IsVolumeOf(const WString& file, const WString& name);

// Whether `file` is what a run of archive `name` left on its way: a volume
// or a record sent in part, or a volume sent and never renamed into place.
// A lock is not (the lock says whose it is).
bool IsLeftoverOf(const WString& file, const WString& name);

}  // namespace qv::remote

#endif  // QVBACKUP_REMOTE_REMOTE_NAMES_H_
