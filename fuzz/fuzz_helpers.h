// What the fuzz targets share: a temporary folder that dies with its
// owner, files written from the input's bytes, drive paths the library
// understands, a reader that takes the input apart, and volume images
// assembled from sparse chunks.
//
// The targets run on Linux only (libFuzzer, and the replay program built
// with the ordinary compiler); they reach the library the way the tests do.
#ifndef QVBACKUP_FUZZ_FUZZ_HELPERS_H_
#define QVBACKUP_FUZZ_FUZZ_HELPERS_H_

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "qvbackup/host.h"
#include "qvbackup/wintypes.h"

namespace qvfuzz {

using WString = std::basic_string<WCHAR>;

// Stops the run: a harness check failed, which is a bug like a crash.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void Require(bool condition, const char* what) {
  if (!condition) Fail(what);
}

// Removes `path` and everything below it, also what a restore made
// read-only; errors are ignored.
inline void RemoveTree(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path, ec);
}

// A fresh folder below the system's temporary folder, removed with its
// contents when the object dies.
class TempRoot {
 public:
  TempRoot() {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 1000; ++attempt) {
      std::filesystem::path candidate = base / ("qvfuzz-" + std::to_string(::getpid()) + "-" +
                                                std::to_string(counter++));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) {
        path_ = std::filesystem::canonical(candidate);
        return;
      }
    }
    Fail("cannot create a temporary folder");
  }
  ~TempRoot() { RemoveTree(path_); }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// UTF-16 of an ASCII or UTF-8 native path, through the library's own rules.
inline WString Wide(const std::string& text) {
  std::vector<WCHAR> buffer(text.size() + 1);
  DWORD length = QVUtf8ToUtf16(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return WString(buffer.data(), length);
}

// The drive-letter form of a native path ("C:\tmp\qvfuzz-1"), through the
// drive map; the harness cannot go on without it.
inline WString DrivePath(const std::filesystem::path& native) {
  WString nativeWide = Wide(native.string());
  std::vector<WCHAR> buffer(nativeWide.size() + 8);
  DWORD length = QVGetDrivePath(nativeWide.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  Require(length != 0, "no drive covers the temporary folder");
  return WString(buffer.data(), length);
}

inline void WriteBytes(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  Require(out.good(), "cannot write a temporary file");
}

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A file descriptor of the system's kind, as the library takes a HANDLE on
// POSIX; closed when the object dies.
class FileHandle {
 public:
  FileHandle(const std::filesystem::path& path, bool create)
      : fd_(::open(path.c_str(), create ? (O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC) : (O_RDONLY | O_CLOEXEC),
                   0600)) {
    Require(fd_ >= 0, "cannot open a temporary file");
  }
  ~FileHandle() { ::close(fd_); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  HANDLE get() const { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd_)); }
  void Rewind() const { ::lseek(fd_, 0, SEEK_SET); }

 private:
  int fd_;
};

// Takes the input apart from its front: small numbers that steer the
// harness, then whatever is left.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t Le32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
    return value;
  }
  std::size_t Left() const { return size_ - at_; }
  const std::uint8_t* Here() const { return data_ + at_; }
  // Up to `count` bytes from here on; fewer at the end.
  std::vector<std::uint8_t> Take(std::size_t count) {
    std::size_t n = count < Left() ? count : Left();
    std::vector<std::uint8_t> bytes(data_ + at_, data_ + at_ + n);
    at_ += n;
    return bytes;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A volume image described by chunks, so that the input stays small while
// the volume it stands for is megabytes of mostly zeros:
//   size (4, in 512-byte sectors) then chunks of
//   sector (4) | length (2) | length bytes
// all little-endian. Chunks past the volume's end are cut at it; a short
// last chunk keeps what it has. The file is written sparse.
inline constexpr std::uint32_t kSectorBytes = 512;
inline constexpr std::uint32_t kMaxImageSectors = 128u * 1024u;  // 64 MiB

inline bool WriteSparseImage(const std::uint8_t* data, std::size_t size, const std::filesystem::path& path) {
  InputReader in(data, size);
  std::uint32_t sectors = in.Le32();
  if (sectors == 0 || sectors > kMaxImageSectors) return false;
  const std::uint64_t total = static_cast<std::uint64_t>(sectors) * kSectorBytes;
  FileHandle file(path, /*create=*/true);
  int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(file.get()));
  if (::ftruncate(fd, static_cast<off_t>(total)) != 0) return false;
  while (in.Left() >= 6) {
    std::uint64_t start = static_cast<std::uint64_t>(in.Le32()) * kSectorBytes;
    std::uint32_t length = in.Byte();
    length |= static_cast<std::uint32_t>(in.Byte()) << 8;
    std::vector<std::uint8_t> bytes = in.Take(length);
    if (start >= total) continue;
    std::size_t keep = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), total - start));
    if (::pwrite(fd, bytes.data(), keep, static_cast<off_t>(start)) != static_cast<ssize_t>(keep)) return false;
  }
  return true;
}

}  // namespace qvfuzz

#endif  // QVBACKUP_FUZZ_FUZZ_HELPERS_H_
