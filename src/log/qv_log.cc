// QV_LOG: configuration, opening, lines and the summary.
#include "log/qv_log.h"

#include <utility>

#include "log/last_error_keeper.h"
#include "log/log_text.h"
#include "log/log_trust.h"
#include "platform/checked_profile.h"
#include "platform/file_ops.h"

using qv::log::LastErrorKeeper;

namespace {

constexpr WCHAR kConfigurationName[] = QVT("QV_LOG.INI");
constexpr WCHAR kSection[] = QVT("LOG");
constexpr WCHAR kOutputNameKey[] = QVT("OutputName");
constexpr WCHAR kLevelKey[] = QVT("LogLevel");
constexpr WCHAR kAbsoluteMark[] = QVT(":\\");
constexpr WCHAR kIndentation[] = QVT("  ");
constexpr INT kDefaultLevel = 3;
// The room the configuration's folder and output name are read into.
constexpr DWORD kMaxPathText = 4096;
constexpr UINT kDriveTypeCdRom = 5;

struct Configuration {
  CQVPathString file;    // the configuration file
  CQVPathString folder;  // its folder, with a trailing backslash
  qv::platform::CheckedProfile profile;  // what it holds, read once
  CQVString distrust;    // why it is not used; empty when it is
};

// The first root holding the file wins, trusted or not: a file the log
// refuses is said so, and no other is looked for.
bool FindOnDriveRoots(qv::log::LogEnv& env, Configuration* found) {
  for (const CQVString& root : env.ConfigurationRoots()) {
    if (env.DriveTypeOf(root) == kDriveTypeCdRom) continue;
    CQVPathString candidate = root + kConfigurationName;
    const qv::platform::ProfileOpening opening = found->profile.Open(candidate, /*readWrite=*/false);
    if (opening == qv::platform::ProfileOpening::kMissing) continue;
    found->file = candidate;
    found->folder = root;
    found->distrust = qv::log::DistrustOf(opening, found->profile);
    return true;
  }
  return false;
}

// The current folder counts only when the file there can be opened for
// reading and writing.
bool FindInCurrentFolder(qv::log::LogEnv& env, Configuration* found) {
  CQVPathString folder;
  if (!env.CurrentFolder(&folder) || folder.IsEmpty() || folder.GetLength() >= kMaxPathText) return false;
  folder.AddBackslash();
  CQVPathString candidate = folder + kConfigurationName;
  const qv::platform::ProfileOpening opening = found->profile.Open(candidate, /*readWrite=*/true);
  if (opening == qv::platform::ProfileOpening::kMissing) return false;
  found->file = candidate;
  found->folder = folder;
  found->distrust = qv::log::DistrustOf(opening, found->profile);
  return true;
}

bool FindConfiguration(qv::log::LogEnv& env, Configuration* found) {
  return FindOnDriveRoots(env, found) || FindInCurrentFolder(env, found);
}

CQVString ConfiguredOutputName(const Configuration& configuration) {
  CQVString defaultName = configuration.folder + QV_LOG::DefaultLogName();
  qv::WString value;
  configuration.profile.ReadString(kSection, kOutputNameKey, defaultName, kMaxPathText, &value);
  CQVString name = value.c_str();
  if (name.Find(kAbsoluteMark, nullptr)) return name;
  return configuration.folder + name;
}

}  // namespace

QV_LOG::QV_LOG(const WCHAR* fileName) : QV_LOG(fileName, std::make_unique<qv::log::LogEnv>()) {}

QV_LOG::QV_LOG(const WCHAR* fileName, std::unique_ptr<qv::log::LogEnv> env) : m_pEnv(std::move(env)) {
  if (m_pEnv == nullptr) m_pEnv = std::make_unique<qv::log::LogEnv>();
  Configure(fileName);
}

QV_LOG::~QV_LOG() { WriteSummary(); }

// A configuration that cannot be trusted is no configuration at all (no
// log, the default level), and is said so once in the notice.
void QV_LOG::Configure(const WCHAR* fileName) {
  Configuration configuration;
  bool found = FindConfiguration(*m_pEnv, &configuration);
  if (found && !configuration.distrust.IsEmpty()) {
    found = false;
    m_strNotice = CQVString(QVT("ignoring ")) + qv::platform::PathForMessages(configuration.file).c_str() +
                  QVT(": ") + configuration.distrust;
  }
  CQVString name = fileName;
  if (name.IsEmpty() && found) name = ConfiguredOutputName(configuration);
  m_dwLevel = found ? configuration.profile.ReadInt(kSection, kLevelKey, kDefaultLevel)
                    : static_cast<DWORD>(kDefaultLevel);
  Open(name);
}

BOOL QV_LOG::Open(const WCHAR* fileName) {
  if (m_bOpen) return m_bOpen;
  CQVString name = fileName;
  if (name.IsEmpty()) name = m_strFileName;
  if (name.IsEmpty()) return FALSE;
  m_strFileName = name;
  m_dwWarnings = 0;
  m_dwErrors = 0;
  const CQVString refusal = qv::log::MakeRoomForLog(name);
  if (!refusal.IsEmpty()) {
    if (m_strNotice.IsEmpty()) {
      m_strNotice = CQVString(QVT("not writing the log ")) + qv::platform::PathForMessages(name).c_str() +
                    QVT(": ") + refusal;
    }
    return FALSE;
  }
  if (!m_file.Open(m_pEnv->CreateLogFile(name))) return FALSE;
  m_bOpen = TRUE;
  m_tStart = m_pEnv->Now();
  WriteLine(BuildBanner());
  WriteLine(QVT(""));
  return m_bOpen;
}

BOOL QV_LOG::WriteLine(const WCHAR* text) {
  if (!m_bOpen) return TRUE;
  LastErrorKeeper keep;
  CQVString line;
  for (std::size_t depth = 0; depth < m_dqCallStack.size(); ++depth) line += kIndentation;
  line += text;
  return m_file.SeekToEnd() && m_file.WriteLine(line) ? TRUE : FALSE;
}

BOOL QV_LOG::WriteSummary() {
  if (!m_bOpen) return FALSE;
  LastErrorKeeper keep;
  WriteLine(QVT(""));
  WriteLine(CQVString(QVT("-> ")) + LocalTimeText(m_pEnv->Now(), /*forSummary=*/true));
  if (m_dwErrors != 0 || m_dwWarnings != 0) {
    CQVString counts;
    counts.Format(QVT("-> %lu error(s), %lu warning(s)"), m_dwErrors, m_dwWarnings);
    WriteLine(counts);
  }
  WriteLine(QVT(""));
  m_file.Close();
  m_bOpen = FALSE;
  return TRUE;
}

CQVString QV_LOG::LocalTimeText(std::int64_t seconds, bool forSummary) const {
  SYSTEMTIME local;
  if (!m_pEnv->ToLocalTime(seconds, &local)) return CQVString();
  return forSummary ? qv::log::SummaryTimeText(local) : qv::log::BannerTimeText(local);
}
