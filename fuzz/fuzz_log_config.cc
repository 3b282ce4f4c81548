// The log configuration file "QV_LOG.INI": read with the profile reader as
// the log reads it, then a log configured from it writes a few lines and
// its summary. Input: the file.
//
// Drive C is a temporary folder here and no other drive exists, so a
// configured output name cannot reach real files; names the log would
// resolve against the process's own folder are not opened.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_helpers.h"
#include "log/log_env.h"
#include "log/qv_log.h"
#include "platform/profile.h"

namespace {

namespace fs = std::filesystem;

// Offers one configuration folder and a fixed clock; files are real.
class ConfinedEnv : public qv::log::LogEnv {
 public:
  std::vector<CQVString> ConfigurationRoots() override { return {CQVString(QVT("C:\\cfg\\"))}; }
  UINT DriveTypeOf(const WCHAR*) override { return 3; }
  bool CurrentFolder(CQVString*) override { return false; }
  std::int64_t Now() override { return 1296727960; }
};

// Drive C is `root`/C; every other letter is unmapped.
void ConfineDrives(const fs::path& root) {
  fs::create_directories(root / "C" / "cfg");
  for (WCHAR letter = u'A'; letter <= u'Z'; ++letter) {
    if (letter != u'C') QVSetDriveMapping(letter, nullptr, nullptr);
  }
  qvfuzz::Require(QVSetDriveMapping(u'C', qvfuzz::Wide((root / "C").string()).c_str(), nullptr) != FALSE,
                  "cannot map drive C");
}

// A name the log resolves inside drive C: relative, or "C:\...".
bool StaysOnDriveC(const qvfuzz::WString& name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == u'/' || name[i] == 0) return false;
    if (name[i] == u':' && !(i == 1 && (name[0] == u'C' || name[0] == u'c') && name.size() > 2 && name[2] == u'\\')) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static qvfuzz::TempRoot root;
  static const bool confined = (ConfineDrives(root.path()), true);
  (void)confined;
  qvfuzz::WriteBytes(root.path() / "C" / "cfg" / "QV_LOG.INI", data, size);

  const WCHAR* file = QVT("C:\\cfg\\QV_LOG.INI");
  qvfuzz::WString name;
  qv::platform::ReadProfileString(file, QVT("LOG"), QVT("OutputName"), QVT("default.LOG"), 4096, &name);
  qvfuzz::Require(name.size() < 4096, "a value longer than its buffer");
  qv::platform::ReadProfileInt(file, QVT("LOG"), QVT("LogLevel"), 3);
  qvfuzz::WString missing;
  qv::platform::ReadProfileString(file, QVT("none"), QVT("none"), nullptr, 8, &missing);
  qvfuzz::Require(missing.empty(), "a missing key gave a value");

  if (StaysOnDriveC(name)) {
    auto log = std::make_unique<QV_LOG>(nullptr, std::make_unique<ConfinedEnv>());
    log->Enter(QVT("Fuzz::Run(%d)"), 1);
    log->LogDetail(QVT("detail %s"), QVT("text"));
    SetLastError(ERROR_FILE_NOT_FOUND);
    log->LogError(QVT("error"));
    log->Exit();
  }
  // Whatever the log wrote goes; the configuration folder stays.
  for (const fs::directory_entry& entry : fs::directory_iterator(root.path() / "C")) {
    if (entry.path().filename() != "cfg") fs::remove_all(entry.path());
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(root.path() / "C" / "cfg")) {
    if (entry.path().filename() != "QV_LOG.INI") fs::remove_all(entry.path());
  }
  return 0;
}
