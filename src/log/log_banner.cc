// QV_LOG: the banner and the default file name, both from the host program.
#include "log/log_text.h"
#include "log/qv_log.h"
#include "platform/file_system.h"
#include "platform/system_info.h"

namespace {

constexpr WCHAR kDefaultNameSuffix[] = QVT(".re.LOG");
// The string tables looked at, French first.
constexpr const WCHAR* kStringTables[] = {QVT("\\StringFileInfo\\040C04B0\\"), QVT("\\StringFileInfo\\040904B0\\")};

CQVString VersionValue(const qv::platform::ExecutableVersion& version, const WCHAR* name) {
  for (const WCHAR* table : kStringTables) {
    qv::WString value;
    if (version.QueryString((CQVString(table) + name).GetString(), &value)) return value.c_str();
  }
  return CQVString();
}

}  // namespace

CQVString QV_LOG::BuildBanner() const {
  qv::platform::ExecutableVersion version;
  if (!version.Load()) return CQVString();
  CQVString banner;
  banner.Format(QVT("%s - %s - Compiled on %s - Executed on %s"),
                VersionValue(version, QVT("OriginalFilename")).GetString(),
                VersionValue(version, QVT("ProductVersion")).GetString(), qv::log::LibraryBuildStamp().GetString(),
                LocalTimeText(m_tStart, /*forSummary=*/false).GetString());
  return banner;
}

CQVString QV_LOG::DefaultLogName() {
  qv::WString path;
  CQVPathString program;
  if (qv::platform::GetExecutablePath(&path)) program = path.c_str();
  return program.FindFileName() + kDefaultNameSuffix;
}
