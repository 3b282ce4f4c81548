#include "password.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host_paths.h"
#include "qvbackup/host.h"

namespace qvtool {

namespace {

// The value of the environment variable `name`, read through the library
// so that it arrives whole on every system (not in the local code page).
bool EnvironmentValue(const WString& name, WString* value) {
  std::vector<WCHAR> buffer(32768);
  DWORD length = 0;
  const bool found =
      QVGetEnvironmentText(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()), &length) != FALSE;
  if (found) value->assign(buffer.data(), length);
  for (volatile WCHAR& unit : buffer) unit = 0;
  return found;
}

// The first line of `text`, without its line end.
std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

PasswordSource ReadPassword(const ParsedOptions& options, const WString& prompt, WString* password,
                            WString* error, bool confirm) {
  if (options.Has("password-file")) {
    const WString path = options.Value("password-file");
    std::ifstream file(NativePath(path), std::ios::binary);
    if (!file) {
      *error = Widen("cannot read the password file ") + path;
      return PasswordSource::kFailed;
    }
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    *password = Widen(FirstLine(text));
  } else if (options.Has("password-env")) {
    const WString name = options.Value("password-env");
    if (!EnvironmentValue(name, password)) {
      *error = Widen("the environment variable ") + name + Widen(" is not set");
      return PasswordSource::kFailed;
    }
  } else if (HostPassword(password)) {
    // given by the host the commands run in
  } else if (prompt.empty() || !ReadHiddenLine(prompt, password)) {
    return PasswordSource::kNone;
  } else if (confirm && !password->empty()) {
    WString again;
    const bool same = ReadHiddenLine(Widen("The same password again: "), &again) && again == *password;
    for (volatile WCHAR& unit : again) unit = 0;
    if (!same) {
      for (volatile WCHAR& unit : *password) unit = 0;
      password->clear();
      *error = Widen("the two passwords typed differ: nothing was written");
      return PasswordSource::kFailed;
    }
  }
  if (password->empty()) {
    *error = Widen("the password is empty");
    return PasswordSource::kFailed;
  }
  return PasswordSource::kGiven;
}

}  // namespace qvtool
