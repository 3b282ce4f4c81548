#include "password.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qvbackup/host.h"

namespace qvtool {

namespace {

std::string Utf8(const WString& text) {
  std::string out;
  std::vector<char> buffer(text.size() * 3 + 1);
  DWORD length = QVUtf16ToUtf8(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return std::string(buffer.data(), length);
}

// The first line of `text`, without its line end.
std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

PasswordSource ReadPassword(const ParsedOptions& options, const WString& prompt, WString* password,
                            WString* error) {
  if (options.Has("password-file")) {
    const WString path = options.Value("password-file");
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    if (!file) {
      *error = Widen("cannot read the password file ") + path;
      return PasswordSource::kFailed;
    }
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    *password = Widen(FirstLine(text));
  } else if (options.Has("password-env")) {
    const WString name = options.Value("password-env");
    const char* value = std::getenv(Utf8(name).c_str());
    if (value == nullptr) {
      *error = Widen("the environment variable ") + name + Widen(" is not set");
      return PasswordSource::kFailed;
    }
    *password = Widen(value);
  } else if (prompt.empty() || !ReadHiddenLine(prompt, password)) {
    return PasswordSource::kNone;
  }
  if (password->empty()) {
    *error = Widen("the password is empty");
    return PasswordSource::kFailed;
  }
  return PasswordSource::kGiven;
}

}  // namespace qvtool
