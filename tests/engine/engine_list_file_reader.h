// The list file read back as the tests see it: sections and their items,
// and the paths of a section once its numbering is checked.
#ifndef QVBACKUP_TESTS_ENGINE_ENGINE_LIST_FILE_READER_H_
#define QVBACKUP_TESTS_ENGINE_ENGINE_LIST_FILE_READER_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "common/test_util.h"

namespace qvtest {

// A list file read back: its sections in file order, each with its item
// lines, as UTF-8.
using ListFileSections = std::vector<std::pair<std::string, std::vector<std::string>>>;

// Reads a file of UTF-16LE text with a byte order mark and CR LF line ends,
// made of "[Section]" lines each followed by its item lines; fails the test
// when the file is not such a file.
inline ListFileSections ReadListFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ListFileSections sections;
  if (bytes.size() < 2 || bytes.size() % 2 != 0 || bytes.compare(0, 2, "\xFF\xFE") != 0) {
    ADD_FAILURE() << path << " is not UTF-16LE text with a byte order mark (" << bytes.size() << " bytes)";
    return sections;
  }
  WString text;
  for (std::size_t i = 2; i < bytes.size(); i += 2) {
    text.push_back(static_cast<WCHAR>(static_cast<std::uint8_t>(bytes[i]) |
                                      static_cast<std::uint8_t>(bytes[i + 1]) << 8));
  }
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find(QVT("\r\n"), start);
    if (end == WString::npos) {
      ADD_FAILURE() << "the last line has no CR LF";
      break;
    }
    const WString line = text.substr(start, end - start);
    start = end + 2;
    if (line.find_first_of(QVT("\r\n")) != WString::npos) ADD_FAILURE() << "a lone line break in " << U8(line);
    if (line.size() >= 2 && line.front() == QVT('[') && line.back() == QVT(']')) {
      sections.emplace_back(U8(line.substr(1, line.size() - 2)), std::vector<std::string>());
    } else if (sections.empty()) {
      ADD_FAILURE() << "item before any section: " << U8(line);
    } else {
      sections.back().second.push_back(U8(line));
    }
  }
  return sections;
}

// The paths of a section's items "N=path|File", after checking that N runs
// from 0 without gaps; the paths sorted, so that they compare with a set.
inline std::vector<std::string> SortedPathsOf(const std::vector<std::string>& items) {
  std::vector<std::string> paths;
  const std::string tail = "|File";
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string head = std::to_string(i) + "=";
    const std::string& item = items[i];
    if (item.size() < head.size() + tail.size() || item.compare(0, head.size(), head) != 0 ||
        item.compare(item.size() - tail.size(), tail.size(), tail) != 0) {
      ADD_FAILURE() << "item " << i << " reads " << item;
      continue;
    }
    paths.push_back(item.substr(head.size(), item.size() - head.size() - tail.size()));
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_ENGINE_ENGINE_LIST_FILE_READER_H_
