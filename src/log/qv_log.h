// QV_LOG: the process-wide trace log, and theLog, its one instance.
//
// The log is configured by a file named "QV_LOG.INI", looked for in the root
// folders of the drives C to Z (CD-ROM drives skipped) and then in the
// current folder, where it must open for reading and writing. Its section
// "LOG" gives "OutputName", the log file (relative names are taken from the
// configuration file's folder; a name holding ":\" is used as it is; by
// default the host program's file name followed by ".re.LOG" in that
// folder) and "LogLevel", a set of LOG_* bits (default 3). Without the file
// no log is written at all and no operation writes anything.
//
// Where the system keeps owners and modes (POSIX), a configuration file is
// taken only when it is a regular file of the running user's or the
// administrator's that neither its group nor others may write, in a folder
// that is the user's own or that neither group nor others may write (see
// log/log_trust.h). One that fails is ignored (no log) and GetNotice says
// which and why. The log is only ever created as a new file, never through
// a symbolic link; a folder, link, device or FIFO under its name (or under
// its ".bak" name) means no log, and GetNotice says so.
//
// The file (see QV_StdioFile) starts with a banner from the host program's
// version resource, then holds one line per call: trace lines indented by
// two spaces per entered operation, and each error, detail and trace line
// led by the innermost operation's name and " : ". WriteSummary ends it
// with the time and the number of errors.
//
// Not synchronised: the library is driven from one thread. Once the log is
// built, no operation but LogError (which reads and then clears it) changes
// the thread's last error, so a caller can log between a failure and its
// return.
#ifndef QVBACKUP_LOG_QV_LOG_H_
#define QVBACKUP_LOG_QV_LOG_H_

#include <cstdint>
#include <deque>
#include <memory>
#include <type_traits>

#include "log/log_env.h"
#include "log/qv_stdio_file.h"
#include "qvbackup/qvstring.h"
#include "qvbackup/wintypes.h"

// Level bits. The bit 2 means nothing; the default 3 writes error lines only.
constexpr DWORD LOG_ERRORS = 1;   // error lines are written and counted
constexpr DWORD LOG_TRACE = 4;    // ENTER / EXIT / RETURNED lines and the call stack
constexpr DWORD LOG_DETAILS = 8;  // detail lines

// Messages are cut to this many code units after formatting.
constexpr DWORD QV_LOG_MAX_MESSAGE = 1024;

class QV_LOG {
 public:
  // Finds the configuration and reads the level; then, when `fileName` is
  // null or empty, takes the output name from the configuration (no
  // configuration: no name), and opens the log with Open.
  explicit QV_LOG(const WCHAR* fileName = nullptr);

  // The same with another system behind the log: tests give it their own
  // folders to search, clock and files. A null `env` means the real system.
  QV_LOG(const WCHAR* fileName, std::unique_ptr<qv::log::LogEnv> env);

  // Writes the summary and closes the file (WriteSummary).
  virtual ~QV_LOG();

  QV_LOG(const QV_LOG&) = delete;
  QV_LOG& operator=(const QV_LOG&) = delete;

  // Opens the log, once: with an empty `fileName` the name kept from before
  // is used, and without either nothing happens (0). An existing regular
  // file of that name becomes "<name>.bak" (replacing an older regular
  // one); the file is then created anew and gets the banner and an empty
  // line. Returns non-zero when the log is open, also when it already was;
  // 0 when the file cannot be created or anything but a regular file lies
  // under either name (GetNotice then says which), and the log then stays
  // closed.
  BOOL Open(const WCHAR* fileName);

  // Appends `text` (null: empty) after two spaces per entered operation.
  // 1 when written or when the log is closed; 0 when the file reported an
  // error (the log stays open and the next line is tried again).
  BOOL WriteLine(const WCHAR* text);

  // With LOG_ERRORS: writes prefix + "ERROR : " + the formatted message,
  // followed by " : " and the system's text for the last error when it is
  // not 0 (" (Error N)" when the system has none); then sets the last error
  // to 0 and counts the error, also while the log is closed. Returns
  // WriteLine's result. Without LOG_ERRORS: 0, nothing written, counted or
  // cleared.
  BOOL LogError(const WCHAR* format, ...);

  // With LOG_DETAILS: writes prefix + the formatted message and returns
  // WriteLine's result; otherwise 0.
  BOOL LogDetail(const WCHAR* format, ...);

  // With LOG_TRACE: enters the operation named by `format` up to its first
  // '(' (all of it without one): pushes the name and makes it the prefix,
  // or, for an empty name, pushes nothing and makes the prefix
  // "No function defined : ". Then writes prefix + "ENTER " + the formatted
  // message, one level deeper than the caller. Returns WriteLine's result;
  // 0 without LOG_TRACE.
  BOOL Enter(const WCHAR* format, ...);

  // With LOG_TRACE: leaves the innermost operation. Writes prefix + "EXIT"
  // and a line of indentation only, then pops the name; the prefix returns
  // to the outer operation's name (empty when none is left).
  void Exit();

  // Exit for an operation that returns the 32-bit integer `value`: the tag
  // is "RETURNED <value in decimal, signed>" followed by " (<detail>)" when
  // `detail` is not empty. Returns `value` unchanged, with or without
  // LOG_TRACE, so that callers can write `return theLog.Returned(x);`.
  template <typename Integer>
    requires(std::is_integral_v<Integer> && sizeof(Integer) == 4)
  Integer Returned(Integer value, const WCHAR* detail = nullptr) {
    if ((m_dwLevel & LOG_TRACE) != 0) LeaveWithNumber(static_cast<std::int32_t>(value), detail);
    return value;
  }

  // Exit for an operation that returns text: the tag is "RETURNED " and the
  // text, then " (<detail>)" as for Returned. Returns a copy of `value`.
  CQVString ReturnedText(const CQVString& value, const WCHAR* detail = nullptr);

  // When the log is open: writes an empty line, "-> " and the local time as
  // "dd/mm/yyyy - hh:mm:ss", "-> N error(s), M warning(s)" when either count
  // is not 0, and an empty line (each indented like any line), and closes
  // the file. 1 when it was open, 0 otherwise.
  BOOL WriteSummary();

  // The banner: the host program's OriginalFilename, " - ", ProductVersion
  // (each from the French (040C04B0) strings, else the US English
  // (040904B0) ones), " - Compiled on ", the library's build date and time,
  // " - Executed on ", the start time ("Feb 3 2011 10:12:40"). Empty when the
  // program has no version resource, as on POSIX systems.
  CQVString BuildBanner() const;

  // The host program's file name (no folder, extension kept) followed by
  // ".re.LOG": "backup.exe.re.LOG".
  static CQVString DefaultLogName();

  // What the log was configured with, and its state.
  BOOL IsOpen() const { return m_bOpen; }
  const CQVString& GetFileName() const { return m_strFileName; }
  DWORD GetLevel() const { return m_dwLevel; }
  DWORD GetErrorCount() const { return m_dwErrors; }
  DWORD GetWarningCount() const { return m_dwWarnings; }

  // One line for the user, without line break, when the configuration
  // found was ignored ("ignoring /tmp/QV_LOG.INI: writable by others") or
  // the log could not be written where it names ("not writing the log
  // /tmp/run.log: a symbolic link is there"); empty otherwise. Only the
  // first such event is kept: there is at most one line to show.
  const CQVString& GetNotice() const { return m_strNotice; }

 private:
  void Configure(const WCHAR* fileName);
  BOOL WriteWithPrefix(const WCHAR* tag, const CQVString& message);
  void LeaveWithNumber(std::int32_t value, const WCHAR* detail);
  void Leave(const CQVString& tag, const WCHAR* detail);
  CQVString LocalTimeText(std::int64_t seconds, bool forSummary) const;

  std::int64_t m_tStart = 0;  // seconds since 1970, taken when the file is opened
  CQVString m_strFileName;
  QV_StdioFile m_file;
  std::deque<CQVString> m_dqCallStack;  // entered operations, innermost last
  BOOL m_bOpen = FALSE;
  DWORD m_dwWarnings = 0;
  DWORD m_dwErrors = 0;
  DWORD m_dwLevel = 3;  // until the configuration says otherwise
  CQVString m_strPrefix;
  CQVString m_strNotice;
  std::unique_ptr<qv::log::LogEnv> m_pEnv;
};

// The library's log, built when the library is loaded and summarised and
// closed when it is unloaded. Every file that includes this header holds a
// guard (below) that builds theLog before that file's own static objects
// and ends it after them, so static objects may log while they are built
// and destroyed.
extern QV_LOG& theLog;

namespace qv::log {

class TheLogGuard {
 public:
  TheLogGuard();
  ~TheLogGuard();
  TheLogGuard(const TheLogGuard&) = delete;
  TheLogGuard& operator=(const TheLogGuard&) = delete;
};

static TheLogGuard theLogGuard;

}  // namespace qv::log

#endif  // QVBACKUP_LOG_QV_LOG_H_
