#include "volume_prompt.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "qvbackup/qvstorage.h"
#include "report.h"

namespace qvtool {

LONGLONG MissingVolumes::Callback(DWORD code, ULONGLONG userValue, ULONGLONG volume, LONGLONG pathBuffer) {
  if (code != QVS_PROGRESS_VOLUME_MISSING || userValue == 0 || pathBuffer == 0) return 0;
  auto* self = reinterpret_cast<MissingVolumes*>(static_cast<std::uintptr_t>(userValue));
  return self->Answer(static_cast<DWORD>(volume),
                      reinterpret_cast<WCHAR*>(static_cast<std::uintptr_t>(pathBuffer)));
}

LONGLONG MissingVolumes::Answer(DWORD volume, WCHAR* path) {
  path[QVS_VOLUME_PATH_CHARS - 1] = 0;
  const WString failed(path);
  // The library computes a volume's own path each time it opens it: one
  // given for it before is handed back at once.
  const auto known = given_.find(failed);
  if (known != given_.end()) {
    std::memcpy(path, known->second.c_str(), (known->second.size() + 1) * sizeof(WCHAR));
    return 0;
  }
  // When the path given failed in turn, the next answer stands for the
  // volume's own path.
  WString original = failed;
  for (const auto& [own, given] : given_) {
    if (given == failed) original = own;
  }
  WString answer;
  if (!givenUp_.empty() || !interactive_ || !Ask(volume, failed, &answer)) {
    if (givenUp_.empty()) givenUp_ = failed;
    return ERROR_CANCELLED;
  }
  if (answer.empty()) return 0;  // the same path again
  if (answer == original) {
    given_.erase(original);
  } else {
    given_[original] = answer;
  }
  std::memcpy(path, answer.c_str(), (answer.size() + 1) * sizeof(WCHAR));
  return 0;
}

// Asks until the answer is a path the library can take; false at the end
// of input.
bool MissingVolumes::Ask(DWORD volume, const WString& failed, WString* answer) {
  WriteError(Widen("qvbackup: volume ") + Number(static_cast<ULONGLONG>(volume) + 1) + Widen(" is missing: ") +
             failed + Widen("\n"));
  for (;;) {
    WriteError(Widen("Path of the volume file (Enter to try again, end of input to give up): "));
    std::fflush(stderr);
    char line[4096];
    if (std::fgets(line, sizeof(line), stdin) == nullptr) {
      WriteError(Widen("\n"));
      return false;
    }
    std::string typed(line);
    while (!typed.empty() && (typed.back() == '\n' || typed.back() == '\r')) typed.pop_back();
    if (typed.empty()) {
      answer->clear();
      return true;
    }
    *answer = DrivePathOf(Widen(typed));
    if (!answer->empty() && answer->size() < QVS_VOLUME_PATH_CHARS) return true;
    WriteError(Widen("qvbackup: ") + Widen(typed) + Widen(": not a path the archive can be read from\n"));
  }
}

}  // namespace qvtool
