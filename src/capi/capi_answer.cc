// Reading a finished run: its outcome as the C interface's error number,
// its findings as callback events, its answer's numbers and texts by name.
#include <string>

#include "capi_session.h"
#include "iso_time.h"
#include "report.h"

namespace qv::capi {

namespace {

using nlohmann::json;

std::string TextOf(const json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

qvb_u64 NumberOf(const json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_number_unsigned() ? found->get<qvb_u64>() : 0;
}

size_t LengthOf(const json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_array() ? found->size() : 0;
}

// "2026-12-07T21:00:00Z" as seconds since 1970; -1 when it is no time.
qvb_i64 UnixTime(const std::string& text) {
  FILETIME time{};
  if (text.empty() || !qvtool::ParseIsoTime(Wide(text), &time)) return -1;
  const qvb_u64 ticks = (static_cast<qvb_u64>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<qvb_i64>(ticks / 10000000ULL) - 11644473600LL;
}

// One event of `kind` for each item of the answer's array `key`: its
// member `pathKey` (the item itself when it is a text) as the path, its
// member `textKey` as the text, and what `fill` takes from it besides.
void TellEach(qvb_session* session, const char* key, int kind, const char* pathKey, const char* textKey,
              void (*fill)(const json& item, qvb_event* event) = nullptr) {
  const auto found = session->answer.find(key);
  if (found == session->answer.end() || !found->is_array()) return;
  for (const json& item : *found) {
    if (!item.is_object() && !item.is_string()) continue;
    const std::string path = item.is_string() ? item.get<std::string>() : TextOf(item, pathKey);
    const std::string text = item.is_object() ? TextOf(item, textKey) : std::string();
    qvb_event event = Event(kind);
    event.path = path.c_str();
    event.text = text.c_str();
    if (fill != nullptr && item.is_object()) fill(item, &event);
    Tell(session, event);
  }
}

// {"path", "reason"} items: what was not saved, not restored, damaged.
void TellEach(qvb_session* session, const char* key, int kind) { TellEach(session, key, kind, "path", "reason"); }

void FillItem(const json& item, qvb_event* event) {
  event->size = NumberOf(item, "size");
  event->mtime = UnixTime(TextOf(item, "mtime"));
  event->attributes = static_cast<unsigned long>(NumberOf(item, "attributes"));
  event->member = static_cast<unsigned long>(NumberOf(item, "increment"));
}

void FillMember(const json& item, qvb_event* event) {
  event->member = static_cast<unsigned long>(NumberOf(item, "number"));
  event->mtime = UnixTime(TextOf(item, "time"));
  event->count = NumberOf(item, "items");
  event->size = NumberOf(item, "bytes");
}

void FillCategory(const json& item, qvb_event* event) {
  event->member = static_cast<unsigned long>(NumberOf(item, "number"));
  event->count = NumberOf(item, "files");
  event->size = NumberOf(item, "bytes");
}

void TellFindings(qvb_session* session, Command command) {
  switch (command) {
    case Command::kBackup:
      TellEach(session, "skipped", QVB_EVENT_NOT_SAVED);
      TellEach(session, "changed", QVB_EVENT_CHANGED);
      TellEach(session, "removed", QVB_EVENT_REMOVED);
      break;
    case Command::kFileList:
      TellEach(session, "files", QVB_EVENT_ITEM);
      TellEach(session, "skipped", QVB_EVENT_NOT_SAVED);
      break;
    case Command::kList:
      TellEach(session, "files", QVB_EVENT_ITEM, "path", "", FillItem);
      break;
    case Command::kRestore:
      TellEach(session, "failed", QVB_EVENT_NOT_RESTORED);
      break;
    case Command::kVerify:
      TellEach(session, "damaged", QVB_EVENT_DAMAGED);
      TellEach(session, "errors", QVB_EVENT_DAMAGED);
      break;
    case Command::kMembers:
      TellEach(session, "members", QVB_EVENT_MEMBER, "", "state", FillMember);
      break;
    case Command::kCount:
      TellEach(session, "categories", QVB_EVENT_CATEGORY, "", "name", FillCategory);
      break;
    case Command::kListFile:
      break;
  }
}

// Whether a run that ended with failure did its work but left items out:
// a backup that wrote its archive without some, a restore that went
// through but could not write some, a verify that found damage.
int PartialOutcome(const json& answer, Command command) {
  switch (command) {
    case Command::kBackup: {
      const auto archive = answer.find("archive");
      const bool written = archive != answer.end() && archive->is_string();
      return written && LengthOf(answer, "skipped") != 0 ? QVB_ERROR_INCOMPLETE : 0;
    }
    case Command::kRestore: {
      const auto stopped = answer.find("stopped");
      const bool wentThrough = stopped != answer.end() && stopped->is_boolean() && !stopped->get<bool>();
      return wentThrough && LengthOf(answer, "failed") != 0 ? QVB_ERROR_INCOMPLETE : 0;
    }
    case Command::kVerify:
      return LengthOf(answer, "damaged") + LengthOf(answer, "errors") != 0 ? QVB_ERROR_DAMAGED : 0;
    default:
      return 0;
  }
}

}  // namespace

int Outcome(qvb_session* session, Command command, int exitStatus) {
  const json& answer = session->answer;
  int code = 0;
  const auto error = answer.find("error");
  if (error != answer.end() && error->is_object()) {
    session->message = TextOf(*error, "message");
    code = static_cast<int>(NumberOf(*error, "code"));
  }
  TellFindings(session, command);
  if (exitStatus == qvtool::kExitSuccess || exitStatus == qvtool::kExitChanged) {
    session->message.clear();
    return QVB_OK;
  }
  {
    std::lock_guard<std::mutex> hold(session->cancelLock);
    if (session->cancelled) return QVB_ERROR_CANCELLED;
  }
  switch (exitStatus) {
    case qvtool::kExitBusy:
      return QVB_ERROR_BUSY;
    case qvtool::kExitPassword:
      return code != 0 ? code : QVB_ERROR_INVALID_PASSWORD;
    case qvtool::kExitUsage:
      return code != 0 ? code : QVB_ERROR_INVALID_PARAMETER;
    default:
      break;
  }
  if (const int partial = PartialOutcome(answer, command); partial != 0) return partial;
  return code != 0 ? code : QVB_ERROR_FAILED;
}

}  // namespace qv::capi

namespace {

// The member of the last answer that `name` ("a" or "a.b") names, or null.
const nlohmann::json* Member(const qvb_session* session, const char* name) {
  if (session == nullptr || name == nullptr) return nullptr;
  const nlohmann::json* at = &session->answer;
  std::string rest(name);
  while (at != nullptr) {
    const std::size_t dot = rest.find('.');
    const std::string key = rest.substr(0, dot);
    if (!at->is_object()) return nullptr;
    const auto found = at->find(key);
    if (found == at->end()) return nullptr;
    at = &*found;
    if (dot == std::string::npos) return at;
    rest.erase(0, dot + 1);
  }
  return nullptr;
}

}  // namespace

extern "C" {

QVB_API int qvb_session_number(const qvb_session* session, const char* name, qvb_u64* value) {
  if (value == nullptr) return QVB_ERROR_INVALID_PARAMETER;
  *value = 0;
  const nlohmann::json* member = Member(session, name);
  if (member == nullptr) return QVB_ERROR_NOT_FOUND;
  if (member->is_number_unsigned()) {
    *value = member->get<qvb_u64>();
  } else if (member->is_number_integer() && member->get<qvb_i64>() >= 0) {
    *value = static_cast<qvb_u64>(member->get<qvb_i64>());
  } else if (member->is_boolean()) {
    *value = member->get<bool>() ? 1 : 0;
  } else if (member->is_array()) {
    *value = member->size();
  } else {
    return QVB_ERROR_NOT_FOUND;
  }
  return QVB_OK;
}

QVB_API int qvb_session_text(const qvb_session* session, const char* name, char* buffer, size_t size,
                             size_t* needed) {
  if (needed != nullptr) *needed = 0;
  if (buffer == nullptr && size != 0) return QVB_ERROR_INVALID_PARAMETER;
  const nlohmann::json* member = Member(session, name);
  if (member == nullptr || !member->is_string()) return QVB_ERROR_NOT_FOUND;
  const std::string& text = member->get_ref<const std::string&>();
  if (needed != nullptr) *needed = text.size();
  if (text.size() >= size) {
    if (buffer != nullptr && size > 0) buffer[0] = 0;
    return QVB_ERROR_INSUFFICIENT_BUFFER;
  }
  qv::capi::CopyOut(text, buffer, size);
  return QVB_OK;
}

}  // extern "C"
