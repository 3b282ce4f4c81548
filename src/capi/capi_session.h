// The C interface's sessions, and how a run of one of qvbackup's commands
// happens inside the library: the command's standard output (its JSON
// answer) and standard error (its messages) go to the session running it,
// its progress and its findings to the session's callback.
#ifndef QVBACKUP_SRC_CAPI_CAPI_SESSION_H_
#define QVBACKUP_SRC_CAPI_CAPI_SESSION_H_

#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "qvbackup/qvbackup.h"
#include "qvbackup/wintypes.h"

namespace qv::capi {

using WString = std::basic_string<WCHAR>;

// What each run asks the session to hand the callback once the answer is in.
enum class Command { kBackup, kFileList, kList, kRestore, kVerify, kMembers, kCount, kListFile };

}  // namespace qv::capi

struct qvb_session {
  qvb_callback callback = nullptr;
  void* user = nullptr;
  std::string password;  // UTF-8; wiped when replaced

  // Cancelling: the flag the command under way stops on, and whether a
  // cancel came during the run (also before the command set its flag).
  std::mutex cancelLock;
  volatile BOOL* cancelFlag = nullptr;
  bool cancelled = false;
  bool running = false;

  // The last run's outcome.
  std::string message;     // its first failure, "" after a success
  std::string answerText;  // the JSON object it answered with
  nlohmann::json answer;   // the same, read
  std::string output;      // standard output while the run goes on
  std::string errorLine;   // standard error's line being written
};

namespace qv::capi {

// Runs qvbackup `arguments` (the command first; --json and --quiet are
// added after it) for `session` and returns the C interface's outcome: QVB_OK, the
// error number of the first failure, or the library's own outcome for
// `command`. The answer's findings are told to the callback.
int RunCommand(qvb_session* session, Command command, std::vector<WString> arguments);

// What a finished run of `command` comes to: the C outcome of its exit
// status and answer, its findings told to the callback, its first failure
// kept as the session's message (capi_answer.cc).
int Outcome(qvb_session* session, Command command, int exitStatus);

// Tells the session's callback `event` (one call at a time).
void Tell(qvb_session* session, const qvb_event& event);
// An event of `kind` with empty texts and an unknown time.
qvb_event Event(int kind);

// Fails the call before anything runs: `message` becomes the session's
// message (and is told to the callback); returns `error`.
int Refuse(qvb_session* session, int error, const std::string& message);

// UTF-8 -> UTF-16 (the commands' text).
WString Wide(const std::string& text);
std::string Utf8(const WString& text);
// UTF-16 of the host (qvb_char16, terminated) -> the commands' text; false
// for null.
bool WideFromHost(const qvb_char16* text, WString* out);

// Copies `text` into `buffer` of `size` bytes, cut at a character's end,
// terminated when size > 0; returns text's length.
size_t CopyOut(const std::string& text, char* buffer, size_t size);

}  // namespace qv::capi

#endif  // QVBACKUP_SRC_CAPI_CAPI_SESSION_H_
