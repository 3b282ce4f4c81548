// The one JSON object a run of qvbackup prints on standard output when
// "--json" is anywhere on its command line (before a "--"): the command's
// own answer, and when the run fails, also after a wrong command line or
// before the command could answer at all,
//   "error": {"message": TEXT, "code": NUMBER or null}, "exit": STATUS
// where TEXT is the first failure the run printed on standard error (the
// line without its "qvbackup: "), and NUMBER the Windows error number
// behind it when there is one. A run that succeeds (exit 0, or 4 for a
// backup of files that changed while read) has no "error".
#ifndef QVBACKUP_TOOLS_JSON_ANSWER_H_
#define QVBACKUP_TOOLS_JSON_ANSWER_H_

#include <vector>

#include "console.h"
#include "report.h"

namespace qvtool {

// Starts the run's answer: JSON when `arguments` (the command line without
// the program's name) hold "--json" (or "--json=...") before any "--".
void StartAnswer(const std::vector<WString>& arguments);

// Settles the answer's form once the command line is parsed: `json` when
// the options hold --json (a "--json" taken as another option's value
// asks for nothing).
void ConfirmJsonAnswer(bool json);

// Whether the run answers in JSON.
bool AnswersInJson();

// The command's own answer; a later one takes the place of an earlier.
void AnswerWith(const JsonObject& document);

// A failure the run printed: `message` as printed after "qvbackup: ",
// `code` its Windows error number (0: none). Only the first one is kept.
void NoteFailure(const WString& message, DWORD code);

// Ends the run with exit status `status`: in JSON mode prints the answer
// (the command's object, with "error" and "exit" when `status` is a
// failure). Returns `status`.
int FinishAnswer(int status);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_JSON_ANSWER_H_
