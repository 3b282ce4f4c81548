// Helpers for the file list tests: a recorder of the engine's messages, the
// list read back as text, and queries of the trace lines read back.
#ifndef QVBACKUP_TESTS_ENGINE_ENGINE_FILE_LIST_TEST_UTIL_H_
#define QVBACKUP_TESTS_ENGINE_ENGINE_FILE_LIST_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtest {

// The engine's list of files, as UTF-8 texts.
inline std::set<std::string> Listed(const CQVBackupEngine& engine) {
  std::set<std::string> paths;
  for (const CQVString& path : engine.m_setFileToBackup) paths.insert(U8(path.GetString()));
  return paths;
}

// `root` + "\" + `relative` (with '\' separators), as UTF-8.
inline std::string Below(const WString& root, const std::string& relative) { return U8(root) + "\\" + relative; }

inline bool EndsWith(const WString& line, const WString& end) {
  return line.size() >= end.size() && line.compare(line.size() - end.size(), end.size(), end) == 0;
}

// How many trace lines end with `message` (what follows the operation's
// prefix); error lines end with the system's text, so they are counted by
// what they hold instead (LinesHolding).
inline int LinesEndingWith(const std::vector<WString>& lines, const std::string& message) {
  WString end = W(message);
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const WString& line) { return EndsWith(line, end); }));
}

inline int LinesHolding(const std::vector<WString>& lines, const std::string& fragment) {
  WString part = W(fragment);
  return static_cast<int>(
      std::count_if(lines.begin(), lines.end(), [&](const WString& line) { return line.find(part) != WString::npos; }));
}

// The positions of the lines that end with `message`, in order.
inline std::vector<std::size_t> PositionsOf(const std::vector<WString>& lines, const std::string& message) {
  std::vector<std::size_t> positions;
  WString end = W(message);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (EndsWith(lines[i], end)) positions.push_back(i);
  }
  return positions;
}

// Whether each of `messages` ends exactly one line, in the order given.
inline ::testing::AssertionResult EachOnceInOrder(const std::vector<WString>& lines,
                                                  std::initializer_list<std::string> messages) {
  std::size_t previous = 0;
  bool first = true;
  for (const std::string& message : messages) {
    std::vector<std::size_t> at = PositionsOf(lines, message);
    if (at.size() != 1) {
      return ::testing::AssertionFailure() << "\"" << message << "\" ends " << at.size() << " lines";
    }
    if (!first && at[0] <= previous) return ::testing::AssertionFailure() << "\"" << message << "\" out of order";
    previous = at[0];
    first = false;
  }
  return ::testing::AssertionSuccess();
}

// What follows `marker` in each line that holds it, in order.
inline std::vector<std::string> ValuesAfter(const std::vector<WString>& lines, const std::string& marker) {
  std::vector<std::string> values;
  const WString part = W(marker);
  for (const WString& line : lines) {
    std::size_t at = line.find(part);
    if (at != WString::npos) values.push_back(U8(line.substr(at + part.size())));
  }
  return values;
}

// Records the codes of the engine's messages.
struct MessageRecorder : CQVEngineCallback {
  std::vector<DWORD> codes;
  void OnEngineMessage(DWORD code, ULONGLONG, ULONGLONG, ULONGLONG, ULONGLONG) override { codes.push_back(code); }
};

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_ENGINE_ENGINE_FILE_LIST_TEST_UTIL_H_
