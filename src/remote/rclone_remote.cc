#include "remote/rclone_remote.h"

#include <random>
#include <utility>

#include <nlohmann/json.hpp>

#include "platform/file_ops.h"
#include "platform/process.h"

namespace qv::remote {

namespace {

WString W(const char* text) { return platform::Utf8ToUtf16(text); }

constexpr char kPartMarker[] = ".qvpart-";

// The temporary name of a file being sent.
WString PartName(const WString& name) { return name + W(kPartMarker) + UniqueToken(); }

// rclone's exit statuses, as its documentation lists them.
constexpr DWORD kUsage = 1;
constexpr DWORD kFolderNotFound = 3;
constexpr DWORD kFileNotFound = 4;
constexpr DWORD kTemporary = 5;
constexpr DWORD kFatal = 7;
constexpr DWORD kTransferLimit = 8;

}  // namespace

bool IsPartName(const WString& name) { return name.find(W(kPartMarker)) != WString::npos; }

WString InFolder(const WString& folder, const WString& name) {
  WString path = folder;
  if (!path.empty() && path.back() != '\\') path.push_back('\\');
  return path + name;
}

WString UniqueToken() {
  std::random_device random;
  const unsigned long long value = (static_cast<unsigned long long>(random()) << 32) | random();
  char text[17];
  for (int i = 0; i < 16; ++i) text[i] = "0123456789abcdef"[(value >> ((15 - i) * 4)) & 0xF];
  text[16] = 0;
  return W(text);
}

std::string RcloneReason(const std::string& errors) {
  std::string failed;
  std::string lastError;
  std::size_t start = 0;
  while (start < errors.size()) {
    std::size_t end = errors.find('\n', start);
    if (end == std::string::npos) end = errors.size();
    std::string line = errors.substr(start, end - start);
    start = end + 1;
    // "2026/12/09 16:37:35 ERROR : ...": the time stamp goes.
    if (line.size() > 20 && line[4] == '/' && line[7] == '/' && line[13] == ':' && line[19] == ' ') line.erase(0, 20);
    if (line.rfind("Failed to ", 0) == 0) failed = line;
    if (line.rfind("ERROR", 0) == 0) lastError = line;
  }
  return !failed.empty() ? failed : lastError;
}

DWORD RcloneError(DWORD exitCode, const std::string& errors) {
  const std::string reason = RcloneReason(errors);
  if (reason.find("didn't find section in config file") != std::string::npos) return ERROR_BAD_NET_NAME;
  if (reason.find("permission denied") != std::string::npos ||
      reason.find("unable to authenticate") != std::string::npos || reason.find("401") != std::string::npos) {
    return ERROR_ACCESS_DENIED;
  }
  if (reason.find("no space left") != std::string::npos || reason.find("quota") != std::string::npos ||
      reason.find("507") != std::string::npos) {
    return ERROR_DISK_FULL;
  }
  if (reason.find("connection refused") != std::string::npos || reason.find("no route to host") != std::string::npos ||
      reason.find("i/o timeout") != std::string::npos || reason.find("dial tcp") != std::string::npos) {
    return ERROR_BAD_NETPATH;
  }
  switch (exitCode) {
    case kUsage: return ERROR_INVALID_PARAMETER;
    case kFolderNotFound: return ERROR_PATH_NOT_FOUND;
    case kFileNotFound: return ERROR_FILE_NOT_FOUND;
    case kTemporary: return ERROR_RETRY;
    case kFatal: return ERROR_ACCESS_DENIED;
    case kTransferLimit: return ERROR_DISK_FULL;
  }
  return ERROR_GEN_FAILURE;
}

RcloneRemote::RcloneRemote(WString program, WString folder) : program_(std::move(program)), folder_(std::move(folder)) {}

bool RcloneRemote::ParseDestination(const WString& typed, WString* folder) {
  const WString prefix = W("rclone:");
  if (typed.size() <= prefix.size() || typed.compare(0, prefix.size(), prefix) != 0) return false;
  const WString rest = typed.substr(prefix.size());
  // REMOTE:PATH, or an on-the-fly remote ":local:/path".
  if (rest.find(':') == WString::npos || rest == W(":")) return false;
  *folder = rest;
  return true;
}

WString RcloneRemote::Path(const WString& name) const {
  WString path = folder_;
  if (!path.empty() && path.back() != ':' && path.back() != '/') path.push_back('/');
  return path + name;
}

bool RcloneRemote::Run(const std::vector<WString>& arguments, std::string* output) {
  reason_.clear();
  platform::ProgramRun run;
  if (!platform::RunProgram(program_, arguments, &run, cancel_)) {
    const DWORD error = GetLastError();
    reason_ = error == ERROR_FILE_NOT_FOUND ? W("rclone is not installed (no program ") + program_ + W(")")
                                             : W("rclone could not be run");
    return FailWith(error);
  }
  if (run.exitCode != 0) {
    const std::string said = RcloneReason(run.errors);
    reason_ = platform::Utf8ToUtf16(said.empty() ? "rclone ended with status " + std::to_string(run.exitCode) : said);
    return FailWith(RcloneError(run.exitCode, run.errors));
  }
  if (output != nullptr) *output = std::move(run.output);
  return true;
}

bool RcloneRemote::List(std::vector<RemoteFile>* files) {
  files->clear();
  std::string listing;
  if (!Run({W("lsjson"), W("--files-only"), W("--no-mimetype"), W("--no-modtime"), W("--max-depth"), W("1"), folder_},
           &listing)) {
    // A folder not made yet holds nothing.
    if (GetLastError() == ERROR_PATH_NOT_FOUND) return true;
    return false;
  }
  const nlohmann::json parsed = nlohmann::json::parse(listing, nullptr, false);
  if (!parsed.is_array()) {
    reason_ = W("rclone lsjson gave no list");
    return FailWith(ERROR_INVALID_DATA);
  }
  for (const nlohmann::json& item : parsed) {
    if (!item.is_object() || !item.contains("Name") || !item["Name"].is_string()) continue;
    RemoteFile file;
    file.name = platform::Utf8ToUtf16(item["Name"].get<std::string>());
    if (item.contains("Size") && item["Size"].is_number_unsigned()) file.size = item["Size"].get<ULONGLONG>();
    files->push_back(std::move(file));
  }
  return true;
}

bool RcloneRemote::Send(const WString& local, const WString& name, bool whole) {
  WString native;
  if (!platform::ProgramPathOf(local, &native)) return false;
  const WString part = whole ? PartName(name) : name;
  if (Run({W("copyto"), native, Path(part)}) && (!whole || Run({W("moveto"), Path(part), Path(name)}))) return true;
  const DWORD error = GetLastError();
  const WString why = reason_;
  Remove(part);  // what reached the remote of it, also after a cancel
  reason_ = why;
  return FailWith(error);
}

bool RcloneRemote::SendText(const std::string& text, const WString& name, const WString& scratch) {
  const WString local = InFolder(scratch, name + W(".") + UniqueToken());
  {
    std::unique_ptr<platform::WritableFile> file = platform::CreateWritableFile(local.c_str());
    if (!file) return false;
    if (!file->Write(text.data(), static_cast<DWORD>(text.size()))) {
      const DWORD error = GetLastError();
      file.reset();
      platform::RemoveFile(local.c_str());
      return FailWith(error);
    }
  }
  const bool sent = Send(local, name);
  const DWORD error = GetLastError();
  platform::RemoveFile(local.c_str());
  return sent || FailWith(error);
}

bool RcloneRemote::Fetch(const WString& name, const WString& local) {
  WString native;
  const WString part = local + W(".qvpart");
  if (!platform::ProgramPathOf(part, &native)) return false;
  if (!Run({W("copyto"), Path(name), native})) {
    const DWORD error = GetLastError();
    platform::RemoveFile(part.c_str());
    return FailWith(error);
  }
  if (!platform::RenameFile(part.c_str(), local.c_str())) {
    const DWORD error = GetLastError();
    platform::RemoveFile(part.c_str());
    return FailWith(error);
  }
  return true;
}

bool RcloneRemote::ReadRange(const WString& name, ULONGLONG offset, ULONGLONG count, std::string* bytes) {
  return Run({W("cat"), W("--offset"), W(std::to_string(offset).c_str()), W("--count"),
              W(std::to_string(count).c_str()), Path(name)},
             bytes);
}

bool RcloneRemote::Rename(const WString& from, const WString& to) { return Run({W("moveto"), Path(from), Path(to)}); }

bool RcloneRemote::Remove(const WString& name) {
  // One try: a file that is not there is not there the second time either.
  const volatile BOOL* cancel = cancel_;
  cancel_ = nullptr;
  const bool removed = Run({W("deletefile"), W("--retries"), W("1"), Path(name)});
  cancel_ = cancel;
  if (removed) return true;
  const DWORD error = GetLastError();
  const std::string said = platform::Utf16ToUtf8(reason_);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
      said.find("doesn't exist") != std::string::npos || said.find("not found") != std::string::npos) {
    reason_.clear();
    return true;
  }
  return FailWith(error);
}

}  // namespace qv::remote
