// Which configuration file and which log file the trace log may use.
//
// A run started by one user in a folder others can write (a shared /tmp)
// must not let them choose, through a "QV_LOG.INI" of theirs, a file the
// log would move aside and overwrite. So a configuration is taken only
// from a regular file that its user (or the system's administrator) owns
// and nobody else may change, in a folder nobody else may rearrange; and
// the log itself is only ever written as a new regular file, its previous
// generation moved aside only when it is a regular file too.
#ifndef QVBACKUP_LOG_LOG_TRUST_H_
#define QVBACKUP_LOG_LOG_TRUST_H_

#include "platform/checked_profile.h"
#include "qvbackup/qvstring.h"

namespace qv::log {

// Why the configuration file that `opening` found cannot be trusted
// ("writable by others", "a symbolic link"...), or empty when it can.
// Where the system keeps no owners and modes (Windows) every file found is
// trusted, as it always was.
CQVString DistrustOf(platform::ProfileOpening opening, const platform::CheckedProfile& profile);

// Makes room for a new log at `name`: an existing regular file there
// becomes "<name>.bak" (an older such file is replaced; both steps are best
// effort). Returns why no log can be written at `name` ("a symbolic link is
// there"...), or empty when it may be created: nothing is moved, removed or
// opened through a name that holds anything but a regular file.
CQVString MakeRoomForLog(const CQVString& name);

}  // namespace qv::log

#endif  // QVBACKUP_LOG_LOG_TRUST_H_
