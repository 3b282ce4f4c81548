// Sessions, and the console layer of qvbackup's commands as they run inside
// the library: what they print goes to the session running them, never to
// the host's standard output or error; they prompt for nothing.
#include "capi_session.h"

#include <cstring>
#include <new>

#include "capi_json.h"
#include "console.h"
#include "console_terminal.h"
#include "platform/text.h"
#include "report.h"

namespace qv::capi {

namespace {

// One command runs at a time in a process (the commands keep their answer
// in one place); `current` is the session it runs for.
std::mutex runLock;
qvb_session* current = nullptr;
// Callbacks come one at a time, from whichever thread of the run says
// something.
std::recursive_mutex callbackLock;
// Whether this thread is inside a callback: a run started there would wait
// for the run that called it.
thread_local bool inCallback = false;

void Wipe(std::string& text) {
  for (volatile char& unit : text) unit = 0;
  text.clear();
}

void TellMessage(qvb_session* session, const std::string& line) {
  qvb_event event = Event(QVB_EVENT_MESSAGE);
  event.text = line.c_str();
  Tell(session, event);
}

// A line of standard error as the host reads it: without the program's
// name in front, and not the pointer to --help that follows a usage error.
void ErrorLine(qvb_session* session, std::string line) {
  static const char kProgram[] = "qvbackup: ";
  if (line.rfind("Try 'qvbackup", 0) == 0) return;
  if (line.rfind(kProgram, 0) == 0) line.erase(0, sizeof(kProgram) - 1);
  if (!line.empty()) TellMessage(session, line);
}

}  // namespace

void Tell(qvb_session* session, const qvb_event& event) {
  if (session == nullptr || session->callback == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(callbackLock);
  struct Inside {
    Inside() { inCallback = true; }
    ~Inside() { inCallback = false; }
  } inside;
  session->callback(session->user, &event);
}

qvb_event Event(int kind) {
  qvb_event event{};
  event.kind = kind;
  event.path = "";
  event.text = "";
  event.mtime = -1;
  return event;
}

WString Wide(const std::string& text) { return qv::platform::Utf8ToUtf16(text); }
std::string Utf8(const WString& text) { return qv::platform::Utf16ToUtf8(text); }

bool WideFromHost(const qvb_char16* text, WString* out) {
  if (text == nullptr) return false;
  out->clear();
  for (; *text != 0; ++text) out->push_back(static_cast<WCHAR>(*text));
  return true;
}

size_t CopyOut(const std::string& text, char* buffer, size_t size) {
  if (buffer != nullptr && size != 0) {
    size_t length = text.size() < size ? text.size() : size - 1;
    // A UTF-8 character is not cut: back off continuation bytes.
    while (length > 0 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
      --length;
    }
    std::memcpy(buffer, text.data(), length);
    buffer[length] = 0;
  }
  return text.size();
}

int Refuse(qvb_session* session, int error, const std::string& message) {
  if (session == nullptr) return error;
  session->message = message;
  session->answerText = "{}";
  session->answer = nlohmann::json::object();
  TellMessage(session, message);
  return error;
}

namespace {

// Marks the session's run as under way while it lives: a cancel from then
// on stops it, also while it waits its turn; once it ends, nothing is left
// to stop. Its end comes after everything the run tells the callback, so
// no lock is held while the host is called.
class RunUnderWay {
 public:
  explicit RunUnderWay(qvb_session* session) : session_(session) {
    std::lock_guard<std::mutex> hold(session_->cancelLock);
    session_->running = true;
    session_->cancelled = false;
    session_->cancelFlag = nullptr;
  }
  ~RunUnderWay() {
    std::lock_guard<std::mutex> hold(session_->cancelLock);
    session_->running = false;
    session_->cancelFlag = nullptr;
  }
  RunUnderWay(const RunUnderWay&) = delete;
  RunUnderWay& operator=(const RunUnderWay&) = delete;

 private:
  qvb_session* session_;
};

// The session the commands' console writes to, while it lives.
class CurrentSession {
 public:
  explicit CurrentSession(qvb_session* session) { current = session; }
  ~CurrentSession() { current = nullptr; }
  CurrentSession(const CurrentSession&) = delete;
  CurrentSession& operator=(const CurrentSession&) = delete;
};

bool IsRunning(qvb_session* session) {
  std::lock_guard<std::mutex> hold(session->cancelLock);
  return session->running;
}

// Runs the command for `session`, which is current; its exit status, or
// false with the refusal in *result when it threw.
bool RunCaught(qvb_session* session, const std::vector<WString>& arguments, int* status, int* result) {
  try {
    *status = qvtool::RunQvbackup(arguments);
    return true;
  } catch (const std::bad_alloc&) {
    *result = Refuse(session, QVB_ERROR_NOT_ENOUGH_MEMORY, "not enough memory for the run");
  } catch (const std::exception& failure) {
    // Nothing may cross into the host as an exception.
    *result = Refuse(session, QVB_ERROR_FAILED, failure.what());
  }
  return false;
}

}  // namespace

int RunCommand(qvb_session* session, Command command, std::vector<WString> arguments) {
  if (session == nullptr) return QVB_ERROR_INVALID_PARAMETER;
  if (inCallback || IsRunning(session)) return QVB_ERROR_BUSY_SESSION;
  const RunUnderWay underWay(session);
  std::lock_guard<std::mutex> one(runLock);
  session->message.clear();
  session->output.clear();
  session->errorLine.clear();
  // Before any "--" that ends the options.
  arguments.insert(arguments.begin() + (arguments.empty() ? 0 : 1), {Wide("--json"), Wide("--quiet")});
  int status = qvtool::kExitFailure;
  {
    const CurrentSession speaking(session);
    int refused = QVB_ERROR_FAILED;
    if (!RunCaught(session, arguments, &status, &refused)) return refused;
  }
  if (!session->errorLine.empty()) ErrorLine(session, session->errorLine);
  session->errorLine.clear();
  session->answerText.swap(session->output);
  session->output.clear();
  if (!ReadAnswer(session->answerText, &session->answer)) {
    return Refuse(session, QVB_ERROR_FAILED, "the run's answer could not be read: " + session->answerText.substr(0, 200));
  }
  try {
    return Outcome(session, command, status);
  } catch (const nlohmann::json::exception&) {
    // An answer of another shape than the run's: its own outcome stands.
    return status == qvtool::kExitSuccess ? QVB_OK : QVB_ERROR_FAILED;
  }
}

}  // namespace qv::capi

// The console layer the commands are written against: a host's session
// while one runs, the terminal for the program.
namespace qvtool {

void WriteOut(const WString& text) {
  if (qv::capi::current == nullptr) return terminal::WriteOut(text);
  qv::capi::current->output += qv::capi::Utf8(text);
}

void WriteError(const WString& text) {
  qvb_session* session = qv::capi::current;
  if (session == nullptr) return terminal::WriteError(text);
  session->errorLine += qv::capi::Utf8(text);
  for (std::size_t end; (end = session->errorLine.find('\n')) != std::string::npos;) {
    std::string line = session->errorLine.substr(0, end);
    session->errorLine.erase(0, end + 1);
    qv::capi::ErrorLine(session, line);
  }
}

bool StandardErrorIsTerminal() { return qv::capi::current == nullptr && terminal::StandardErrorIsTerminal(); }
bool StandardInputIsTerminal() { return qv::capi::current == nullptr && terminal::StandardInputIsTerminal(); }
bool ReadHiddenLine(const WString& prompt, WString* line) {
  return qv::capi::current == nullptr && terminal::ReadHiddenLine(prompt, line);
}

void OnInterrupt(volatile BOOL* flag) {
  qvb_session* session = qv::capi::current;
  if (session == nullptr) return terminal::OnInterrupt(flag);
  std::lock_guard<std::mutex> hold(session->cancelLock);
  session->cancelFlag = flag;
  if (flag != nullptr && session->cancelled) *flag = TRUE;
}

void ReportProgress(DWORD percent) {
  if (qv::capi::current == nullptr) return terminal::ReportProgress(percent);
  qvb_event event = qv::capi::Event(QVB_EVENT_PROGRESS);
  event.percent = static_cast<int>(percent > 100 ? 100 : percent);
  qv::capi::Tell(qv::capi::current, event);
}

WString PasswordHint() {
  if (qv::capi::current == nullptr) return terminal::PasswordHint();
  return qv::capi::Wide("with qvb_session_set_password");
}

bool HostPassword(WString* password) {
  qvb_session* session = qv::capi::current;
  if (session == nullptr) return terminal::HostPassword(password);
  if (session->password.empty()) return false;
  *password = qv::capi::Wide(session->password);
  return true;
}

}  // namespace qvtool

extern "C" {

QVB_API qvb_session* qvb_session_new(void) { return new (std::nothrow) qvb_session(); }

QVB_API void qvb_session_free(qvb_session* session) {
  if (session == nullptr) return;
  qv::capi::Wipe(session->password);
  delete session;
}

QVB_API void qvb_session_set_callback(qvb_session* session, qvb_callback callback, void* user) {
  if (session == nullptr) return;
  session->callback = callback;
  session->user = user;
}

QVB_API int qvb_session_set_password(qvb_session* session, const char* password) {
  if (session == nullptr) return QVB_ERROR_INVALID_PARAMETER;
  qv::capi::Wipe(session->password);
  if (password != nullptr) session->password = password;
  return QVB_OK;
}

QVB_API void qvb_cancel(qvb_session* session) {
  if (session == nullptr) return;
  std::lock_guard<std::mutex> hold(session->cancelLock);
  if (!session->running) return;
  session->cancelled = true;
  if (session->cancelFlag != nullptr) *session->cancelFlag = TRUE;
}

QVB_API size_t qvb_session_message(const qvb_session* session, char* buffer, size_t size) {
  return qv::capi::CopyOut(session != nullptr ? session->message : std::string(), buffer, size);
}

QVB_API size_t qvb_session_answer(const qvb_session* session, char* buffer, size_t size) {
  return qv::capi::CopyOut(session != nullptr ? session->answerText : std::string(), buffer, size);
}

}  // extern "C"
