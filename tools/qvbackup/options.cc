#include "options.h"

#include <algorithm>
#include <string>
#include <thread>

#include "json_answer.h"
#include "qvbackup/host.h"

namespace qvtool {

namespace {

const std::initializer_list<OptionRule> kCommon = {
    {"help", false, false},         {"json", false, false},          {"quiet", false, false},
    {"drive", true, true},          {"password-file", true, false},  {"password-env", true, false},
    {"rclone", true, false},
};

std::string Narrow(const WString& text) {
  std::string out;
  for (WCHAR c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

const OptionRule* Find(const std::string& name, std::initializer_list<OptionRule> rules) {
  for (const OptionRule& rule : rules) {
    if (name == rule.name) return &rule;
  }
  for (const OptionRule& rule : kCommon) {
    if (name == rule.name) return &rule;
  }
  return nullptr;
}

}  // namespace

WString ParsedOptions::Value(const char* name) const {
  auto found = values_.find(name);
  return found == values_.end() || found->second.empty() ? WString() : found->second.back();
}

std::vector<WString> ParsedOptions::Values(const char* name) const {
  auto found = values_.find(name);
  return found == values_.end() ? std::vector<WString>() : found->second;
}

bool ParseOptions(const std::vector<WString>& arguments, std::initializer_list<OptionRule> rules,
                  ParsedOptions* parsed, WString* error) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const WString& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-' || argument[1] != '-') {
      if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
        *error = Widen("unknown option '") + argument + Widen("'");
        return false;
      }
      parsed->positionals.push_back(argument);
      continue;
    }
    if (argument.size() == 2) {
      optionsEnded = true;
      continue;
    }
    WString body = argument.substr(2);
    WString value;
    bool hasValue = false;
    std::size_t equals = body.find('=');
    if (equals != WString::npos) {
      value = body.substr(equals + 1);
      body = body.substr(0, equals);
      hasValue = true;
    }
    const std::string name = Narrow(body);
    const OptionRule* rule = Find(name, rules);
    if (rule == nullptr) {
      *error = Widen("unknown option '--") + body + Widen("'");
      return false;
    }
    if (rule->takesValue && !hasValue) {
      if (i + 1 >= arguments.size()) {
        *error = Widen("option '--") + body + Widen("' needs a value");
        return false;
      }
      value = arguments[++i];
    } else if (!rule->takesValue && hasValue) {
      *error = Widen("option '--") + body + Widen("' takes no value");
      return false;
    }
    std::vector<WString>& values = parsed->values_[name];
    if (!values.empty() && !rule->repeatable) {
      *error = Widen("option '--") + body + Widen("' given twice");
      return false;
    }
    values.push_back(value);
  }
  ConfirmJsonAnswer(parsed->Has("json"));
  return true;
}

bool ApplyDriveOptions(const ParsedOptions& parsed, WString* error) {
  for (const WString& drive : parsed.Values("drive")) {
    // L=ROOT[,DEVICE]
    if (drive.size() < 3 || drive[1] != '=') {
      *error = Widen("malformed --drive '") + drive + Widen("' (expected L=ROOT[,DEVICE])");
      return false;
    }
    WString rest = drive.substr(2);
    WString device;
    std::size_t comma = rest.find(',');
    if (comma != WString::npos) {
      device = rest.substr(comma + 1);
      rest = rest.substr(0, comma);
    }
    if (!QVSetDriveMapping(drive[0], rest.c_str(), device.empty() ? nullptr : device.c_str())) {
      *error = Widen("cannot map drive '") + drive.substr(0, 1) + Widen("'");
      return false;
    }
  }
  return true;
}

bool ReadThreadCount(const ParsedOptions& parsed, DWORD* threads, WString* why) {
  *threads = std::clamp<DWORD>(std::thread::hardware_concurrency(), 1, 64);
  if (!parsed.Has("threads")) return true;
  ULONGLONG count = 0;
  if (!ParseNumber(parsed.Value("threads"), 1, 64, &count)) {
    *why = Widen("--threads takes 1 to 64, not '") + parsed.Value("threads") + Widen("'");
    return false;
  }
  *threads = static_cast<DWORD>(count);
  return true;
}

bool ParseNumber(const WString& text, ULONGLONG minimum, ULONGLONG maximum, ULONGLONG* value) {
  if (text.empty() || text.size() > 19) return false;
  ULONGLONG number = 0;
  for (WCHAR c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<ULONGLONG>(c - '0');
  }
  if (number < minimum || number > maximum) return false;
  *value = number;
  return true;
}

bool ParseSize(const WString& text, ULONGLONG* size) {
  if (text.empty()) return false;
  ULONGLONG unit = 1;
  WString digits = text;
  switch (text.back()) {
    case 'K': case 'k': unit = 1ULL << 10; break;
    case 'M': case 'm': unit = 1ULL << 20; break;
    case 'G': case 'g': unit = 1ULL << 30; break;
    default: break;
  }
  if (unit != 1) digits.pop_back();
  ULONGLONG number = 0;
  if (!ParseNumber(digits, 1, (~0ULL) / unit, &number)) return false;
  *size = number * unit;
  return true;
}

}  // namespace qvtool
