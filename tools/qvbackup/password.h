// Where qvbackup takes an archive's password from: a file (--password-file,
// its first line), an environment variable (--password-env), or a prompt
// without echo when standard input is a terminal. Never from the command
// line itself, where other users of the machine could read it.
#ifndef QVBACKUP_TOOLS_PASSWORD_H_
#define QVBACKUP_TOOLS_PASSWORD_H_

#include "console.h"
#include "options.h"

namespace qvtool {

enum class PasswordSource {
  kNone,      // no password given and no prompt asked for
  kGiven,     // read from the file, the variable or the prompt
  kFailed,    // the file or variable could not be read: `error` says why
};

// Reads the password the options name. With `prompt` non-empty and neither
// option given, asks on the terminal when there is one (kNone otherwise);
// with `confirm` (a password that makes an archive) it asks twice, and two
// answers that differ are kFailed: a typing slip would make the archive
// unreadable.
PasswordSource ReadPassword(const ParsedOptions& options, const WString& prompt, WString* password,
                            WString* error, bool confirm = false);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_PASSWORD_H_
