#include "common/test_util.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "qvbackup/host.h"

namespace qvtest {

namespace {

std::filesystem::path UniqueTempPath() {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::filesystem::path candidate =
        base / ("qvtest-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) return candidate;
  }
  throw std::runtime_error("cannot create a temporary folder");
}

std::filesystem::path PathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8Of(const std::filesystem::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

TempDir::TempDir() : path_(std::filesystem::canonical(UniqueTempPath())) {}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only entries made by a test must not keep the folder alive.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    if (!it->is_symlink(ignored))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, ec);
}

WString TempDir::DrivePath() const { return DrivePathOf(path_); }

std::filesystem::path TempDir::WriteFile(const std::string& relative, std::size_t size) {
  std::filesystem::path target = path_ / PathFromUtf8(relative);
  std::filesystem::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  std::vector<char> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>('a' + i % 26);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  return target;
}

std::filesystem::path TempDir::MakeDir(const std::string& relative) {
  std::filesystem::path target = path_ / PathFromUtf8(relative);
  std::filesystem::create_directories(target);
  return target;
}

WString DrivePathOf(const std::filesystem::path& native) {
  WString nativeText = W(Utf8Of(native));
  std::vector<WCHAR> buffer(32768);
  DWORD length = QVGetDrivePath(nativeText.c_str(), buffer.data(),
                                static_cast<DWORD>(buffer.size()));
  if (length == 0) throw std::runtime_error("no drive path for " + Utf8Of(native));
  return WString(buffer.data(), length);
}

WString W(const std::string& utf8) {
  std::vector<WCHAR> buffer(utf8.size() + 1);
  DWORD length = QVUtf8ToUtf16(utf8.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return WString(buffer.data(), length);
}

std::string U8(const WCHAR* text) {
  std::size_t units = 0;
  while (text[units] != 0) ++units;
  std::vector<char> buffer(units * 3 + 1);
  DWORD length = QVUtf16ToUtf8(text, buffer.data(), static_cast<DWORD>(buffer.size()));
  return std::string(buffer.data(), length);
}

std::string U8(const WString& text) { return U8(text.c_str()); }

}  // namespace qvtest
