// How qvbackup speaks: errors on standard error as "qvbackup: WHAT: WHY"
// with the system's text for the error, exit statuses, and the JSON
// documents printed with --json.
#ifndef QVBACKUP_TOOLS_REPORT_H_
#define QVBACKUP_TOOLS_REPORT_H_

#include <string>
#include <vector>

#include "console.h"

namespace qvtool {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  // the work failed, or damage was found
inline constexpr int kExitUsage = 2;    // the command line was wrong
inline constexpr int kExitBusy = 3;     // another run is writing the archive: nothing was done
// The backup was written and holds every file, but files changed while
// they were read: each is saved as read, the whole is no snapshot of one
// moment.
inline constexpr int kExitChanged = 4;
// The password is wrong, or an encrypted archive was given none: nothing
// was read or written.
inline constexpr int kExitPassword = 5;

// The exit status for an archive that could not be opened with `error`:
// kExitPassword for a wrong or missing password, else kExitFailure.
int ExitForArchiveError(DWORD error);

// Each failure below is printed on standard error and, for the first one,
// becomes the "error" of a JSON answer (json_answer.h).

// "qvbackup: WHAT: WHY" where WHY is the system's text for `error` (its
// number when there is none); returns kExitFailure.
int Fail(const WString& what, DWORD error);
// "qvbackup: WHAT: WHY" with a reason of the program's own; `error`, when
// not 0, is the Windows error number behind it. Returns kExitFailure.
int FailBecause(const WString& what, const WString& why, DWORD error = 0);
// "qvbackup: COMMAND: WHY" and a pointer to --help; returns kExitUsage.
// `error`, when not 0, is the Windows error number behind it.
int UsageError(const char* command, const WString& why, DWORD error = 0);
// FailBecause in a JSON answer only: a text answer on standard output
// already tells the failure (damage found, files not saved).
void FailInJsonAnswer(const WString& what, const WString& why);

// The usage text of a command on standard output (with --json, as the
// object {"usage": TEXT}); returns kExitSuccess.
int ShowUsage(const char* usage);

// The system's text for `error` ("error N" when it has none).
WString ErrorText(DWORD error);

WString Number(ULONGLONG value);
// "1 file", "2 files": the count and the word, with an "s" unless it is 1.
WString Counted(ULONGLONG count, const char* word);
WString SignedNumber(LONGLONG value);

// A JSON string literal of `text` (quotes included), UTF-8 encoded when
// written out.
WString JsonString(const WString& text);

// Builds one JSON object a member at a time.
class JsonObject {
 public:
  JsonObject& Add(const char* key, const WString& text);
  JsonObject& Add(const char* key, ULONGLONG number);
  JsonObject& AddSigned(const char* key, LONGLONG number);
  JsonObject& AddBool(const char* key, bool value);
  JsonObject& AddDouble(const char* key, double value);
  // `json` is written as it is (an array or object built before).
  JsonObject& AddRaw(const char* key, const WString& json);
  WString Text() const;

 private:
  void Key(const char* key);
  WString body_;
};

// "[a,b,...]" of the JSON texts `items`.
WString JsonArray(const std::vector<WString>& items);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_REPORT_H_
