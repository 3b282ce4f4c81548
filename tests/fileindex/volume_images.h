// The volume images committed under tests/data (gzip-compressed), unpacked
// for a test, and whole files read and written as bytes.
#ifndef QVBACKUP_TESTS_FILEINDEX_VOLUME_IMAGES_H_
#define QVBACKUP_TESTS_FILEINDEX_VOLUME_IMAGES_H_

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/test_util.h"
#include "fileindex/index_test_util.h"

namespace qvtest {

inline std::filesystem::path DataFile(const std::string& folder, const std::string& name) {
  return std::filesystem::path(QV_TEST_DATA_DIR) / folder / name;
}

// tests/data/FOLDER/NAME.img.gz as bytes; empty when it cannot be read.
inline Bytes UnpackedImage(const std::string& folder, const std::string& name) {
  Bytes image;
  gzFile in = gzopen(DataFile(folder, name + ".img.gz").string().c_str(), "rb");
  if (in == nullptr) return image;
  char buffer[65536];
  int read;
  while ((read = gzread(in, buffer, sizeof(buffer))) > 0) image.insert(image.end(), buffer, buffer + read);
  gzclose(in);
  return image;
}

inline Bytes ReadAllBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAllBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// tests/data/FOLDER/NAME.img.gz unpacked into `temp` as NAME.img.
inline std::filesystem::path Unpack(const std::string& folder, const std::string& name, const TempDir& temp) {
  std::filesystem::path target = temp.path() / (name + ".img");
  WriteAllBytes(target, UnpackedImage(folder, name));
  return target;
}

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_FILEINDEX_VOLUME_IMAGES_H_
