#include "log/log_env.h"

#include "platform/system_info.h"
#include "platform/text.h"

namespace qv::log {

LogEnv::~LogEnv() = default;

std::vector<CQVString> LogEnv::ConfigurationRoots() {
  std::vector<CQVString> roots;
  for (WCHAR letter = 'C'; letter <= 'Z'; ++letter) {
    CQVString root;
    root.Format(QVT("%c:\\"), letter);
    roots.push_back(root);
  }
  return roots;
}

UINT LogEnv::DriveTypeOf(const WCHAR* root) { return qv::platform::DriveTypeOf(root); }

bool LogEnv::CurrentFolder(CQVString* folder) {
  WString current;
  if (!qv::platform::GetCurrentFolder(&current)) return false;
  *folder = current.c_str();
  return true;
}

std::int64_t LogEnv::Now() { return qv::platform::CurrentCalendarTime(); }

bool LogEnv::ToLocalTime(std::int64_t seconds, SYSTEMTIME* local) {
  return qv::platform::LocalTimeOf(seconds, local);
}

std::unique_ptr<qv::platform::WritableFile> LogEnv::CreateLogFile(const WCHAR* path) {
  return qv::platform::CreateWritableFile(path, qv::platform::Creation::kNew);
}

}  // namespace qv::log
