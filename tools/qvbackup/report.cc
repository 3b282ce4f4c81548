#include "report.h"

#include <cstdio>
#include <string>

#include "json_answer.h"
#include "qvbackup/host.h"

namespace qvtool {

WString Number(ULONGLONG value) { return Widen(std::to_string(value)); }
WString Counted(ULONGLONG count, const char* word) {
  return Number(count) + Widen(" ") + Widen(word) + (count == 1 ? WString() : Widen("s"));
}
WString SignedNumber(LONGLONG value) { return Widen(std::to_string(value)); }

WString ErrorText(DWORD error) {
  WCHAR buffer[512];
  DWORD length = QVGetErrorText(error, buffer, static_cast<DWORD>(sizeof(buffer) / sizeof(buffer[0])));
  if (length == 0) return Widen("error ") + Number(error);
  return WString(buffer, length);
}

int ExitForArchiveError(DWORD error) {
  return error == ERROR_WRONG_PASSWORD || error == ERROR_INVALID_PASSWORD ? kExitPassword : kExitFailure;
}

int Fail(const WString& what, DWORD error) { return FailBecause(what, ErrorText(error), error); }

int FailBecause(const WString& what, const WString& why, DWORD error) {
  const WString message = what + Widen(": ") + why;
  WriteError(Widen("qvbackup: ") + message + Widen("\n"));
  NoteFailure(message, error);
  return kExitFailure;
}

int UsageError(const char* command, const WString& why, DWORD error) {
  const WString message = Widen(command) + Widen(": ") + why;
  WriteError(Widen("qvbackup: ") + message + Widen("\n") + Widen("Try 'qvbackup ") + Widen(command) +
             Widen(" --help'.\n"));
  NoteFailure(message, error);
  return kExitUsage;
}

void FailInJsonAnswer(const WString& what, const WString& why) {
  if (AnswersInJson()) FailBecause(what, why);
}

int ShowUsage(const char* usage) {
  if (AnswersInJson()) {
    AnswerWith(JsonObject().Add("usage", Widen(usage)));
  } else {
    WriteOut(Widen(usage));
  }
  return kExitSuccess;
}

WString JsonString(const WString& text) {
  WString out;
  out.push_back('"');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const WCHAR c = text[i];
    // A surrogate without its partner (a name byte that was not UTF-8) is
    // written as an escape: raw, it would not be UTF-8 either.
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    const bool low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      out.push_back(c);
      out.push_back(text[++i]);
      continue;
    }
    if (high || low) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
      out += Widen(escaped);
      continue;
    }
    switch (c) {
      case '"': out += Widen("\\\""); break;
      case '\\': out += Widen("\\\\"); break;
      case '\n': out += Widen("\\n"); break;
      case '\r': out += Widen("\\r"); break;
      case '\t': out += Widen("\\t"); break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
          out += Widen(escaped);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
  return out;
}

void JsonObject::Key(const char* key) {
  if (!body_.empty()) body_.push_back(',');
  body_ += JsonString(Widen(key));
  body_.push_back(':');
}

JsonObject& JsonObject::Add(const char* key, const WString& text) {
  Key(key);
  body_ += JsonString(text);
  return *this;
}

JsonObject& JsonObject::Add(const char* key, ULONGLONG number) {
  Key(key);
  body_ += Number(number);
  return *this;
}

JsonObject& JsonObject::AddSigned(const char* key, LONGLONG number) {
  Key(key);
  body_ += SignedNumber(number);
  return *this;
}

JsonObject& JsonObject::AddBool(const char* key, bool value) {
  Key(key);
  body_ += Widen(value ? "true" : "false");
  return *this;
}

JsonObject& JsonObject::AddDouble(const char* key, double value) {
  Key(key);
  char text[64];
  std::snprintf(text, sizeof(text), "%.3f", value);
  body_ += Widen(text);
  return *this;
}

JsonObject& JsonObject::AddRaw(const char* key, const WString& json) {
  Key(key);
  body_ += json;
  return *this;
}

WString JsonObject::Text() const { return Widen("{") + body_ + Widen("}"); }

WString JsonArray(const std::vector<WString>& items) {
  WString out = Widen("[");
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out.push_back(',');
    out += items[i];
  }
  return out + Widen("]");
}

}  // namespace qvtool
