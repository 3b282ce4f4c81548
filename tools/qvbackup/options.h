// Command-line options of qvbackup: "--name VALUE", "--name=VALUE", flags,
// repeatable options, "--" before arguments that begin with '-', and the
// options every command takes.
#ifndef QVBACKUP_TOOLS_OPTIONS_H_
#define QVBACKUP_TOOLS_OPTIONS_H_

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "console.h"

namespace qvtool {

struct OptionRule {
  const char* name;  // without the leading "--"
  bool takesValue;
  bool repeatable;
};

class ParsedOptions {
 public:
  bool Has(const char* name) const { return values_.count(name) != 0; }
  // The value of an option given once; empty when not given.
  WString Value(const char* name) const;
  // Every value of a repeatable option, in order.
  std::vector<WString> Values(const char* name) const;

  std::vector<WString> positionals;

 private:
  friend bool ParseOptions(const std::vector<WString>&, std::initializer_list<OptionRule>, ParsedOptions*,
                           WString*);
  std::map<std::string, std::vector<WString>> values_;
};

// Splits `arguments` by `rules` plus the options every command takes
// (--help, --json, --quiet, --drive L=ROOT[,DEVICE] repeatable,
// --password-file F, --password-env VAR). False with the
// reason in `error` for an unknown option, a missing value, or an option
// given twice that may be given once. Parsed, the options settle whether
// the run answers in JSON (json_answer.h).
bool ParseOptions(const std::vector<WString>& arguments, std::initializer_list<OptionRule> rules,
                  ParsedOptions* parsed, WString* error);

// Applies every --drive option to the library's drive map. False with the
// reason in `error` for a malformed one.
bool ApplyDriveOptions(const ParsedOptions& parsed, WString* error);

// A size with an optional K, M or G suffix (powers of 1024). False for
// anything else, zero included.
bool ParseSize(const WString& text, ULONGLONG* size);

// A whole number in [minimum, maximum].
bool ParseNumber(const WString& text, ULONGLONG minimum, ULONGLONG maximum, ULONGLONG* value);

// The worker threads --threads N asks for (1 to 64), one per processor
// core without it. False with `why` for another value.
bool ReadThreadCount(const ParsedOptions& parsed, DWORD* threads, WString* why);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_OPTIONS_H_
