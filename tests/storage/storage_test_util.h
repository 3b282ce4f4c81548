// Helpers for the archive container tests: descriptions, files on disk and
// deterministic test data.
#ifndef QVBACKUP_TESTS_STORAGE_STORAGE_TEST_UTIL_H_
#define QVBACKUP_TESTS_STORAGE_STORAGE_TEST_UTIL_H_

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "qvbackup/qvarchivelayout.h"
#include "qvbackup/qvstorage.h"

namespace qvtest {

using Bytes = std::vector<BYTE>;

// A description of an archive "home" in `folder`; the texts live in the
// object, so it can be passed as it is.
struct ArchiveDescription {
  WString folder;
  WString name = W("home");
  WString password;
  WString extension;
  WString stub;
  QVS_ARCHIVE_INFO info;

  explicit ArchiveDescription(const WString& where) : folder(where) {
    std::memset(&info, 0, sizeof(info));
    info.dwSize = sizeof(info);
    info.dwCompression = 1;
    info.dwBlockSize = 4096;
    info.ullVolumeSize = QVS_NO_VOLUME_LIMIT;
    info.dwEncryptionKeySize = 256;
  }
  QVS_ARCHIVE_INFO* get() {
    info.pszFolder = folder.c_str();
    info.pszName = name.c_str();
    info.pszPassword = password.empty() ? nullptr : password.c_str();
    info.pszExtension = extension.empty() ? nullptr : extension.c_str();
    info.pszSFXStub = stub.empty() ? nullptr : stub.c_str();
    return &info;
  }
};

// The names of the files in `folder`, sorted.
inline std::vector<std::string> NamesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(folder)) names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

inline Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Bytes that zlib cannot shrink.
inline Bytes RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (BYTE& b : bytes) b = static_cast<BYTE>(random());
  return bytes;
}

// Bytes that zlib shrinks well.
inline Bytes TextBytes(std::size_t size) {
  static const char kText[] = "the quick brown fox jumps over the lazy dog; ";
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(kText[i % (sizeof(kText) - 1)]);
  return bytes;
}

inline DWORD Dword(const Bytes& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<DWORD>(bytes[at + 3]) << 24;
}

inline ULONGLONG Qword(const Bytes& bytes, std::size_t at) {
  return Dword(bytes, at) | static_cast<ULONGLONG>(Dword(bytes, at + 4)) << 32;
}

// The block read at `offset`, as bytes; empty when GetBlock fails.
inline Bytes BlockAt(CQVStorage& storage, ULONGLONG offset) {
  BYTE* data = nullptr;
  DWORD length = 0;
  if (!storage.GetBlock(offset, &data, &length)) return Bytes();
  Bytes copy(data, data + length);
  storage.DeleteFoundBlockData(data, length);
  return copy;
}

// Ends an open archive the way a backup does before it is closed: a
// closing record (stored plain) pointing at the first block after the
// header, and the header's user data pointing at the record. Only members
// ended so count in a chain.
inline bool EndWithClosingRecord(CQVStorage& storage, ULONGLONG firstBlock = QVS_HEADER_SIZE) {
  BYTE closing[qvlayout::closing::kSize] = {'S', 'Q', 'V', 'O'};
  for (int i = 0; i < 8; ++i) closing[4 + i] = static_cast<BYTE>(firstBlock >> (8 * i));
  closing[12] = 2;
  ULONGLONG offset = 0;
  return storage.CreateBlock(closing, sizeof(closing), QVS_BLOCK_STORE_PLAIN, &offset, 0) &&
         storage.FlushBlocks() && storage.SetUserData(offset);
}

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_STORAGE_STORAGE_TEST_UTIL_H_
