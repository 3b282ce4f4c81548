// Writes a member of a chain as versions before the record of the
// selection's state wrote them: the files given, and nothing said of the
// others, so that readers add what it saved to what the members before it
// hold. For the tests of such chains.
//   qv_plain_member FOLDER NAME base|increment FILE...
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qvbackup/host.h"
#include "qvbackup/qvbackupcontrol.h"

namespace {

using Text = std::basic_string<WCHAR>;

Text DrivePath(const char* native) {
  std::vector<WCHAR> wide(std::strlen(native) + 1);
  QVUtf8ToUtf16(native, wide.data(), static_cast<DWORD>(wide.size()));
  std::vector<WCHAR> buffer(32768);
  const DWORD length = QVGetDrivePath(wide.data(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return Text(buffer.data(), length);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (std::strcmp(argv[3], "base") != 0 && std::strcmp(argv[3], "increment") != 0)) {
    std::fprintf(stderr, "usage: qv_plain_member FOLDER NAME base|increment FILE...\n");
    return 2;
  }
  const Text folder = DrivePath(argv[1]);
  std::vector<WCHAR> name(std::strlen(argv[2]) + 1);
  QVUtf8ToUtf16(argv[2], name.data(), static_cast<DWORD>(name.size()));
  QVS_ARCHIVE_INFO info = {};
  info.dwSize = sizeof(info);
  info.pszFolder = folder.c_str();
  info.pszName = name.data();
  info.dwCompression = 1;
  info.dwBlockSize = QVS_DEFAULT_BLOCK_SIZE;
  info.ullVolumeSize = QVS_NO_VOLUME_LIMIT;
  info.dwFlags = std::strcmp(argv[3], "increment") == 0 ? QVS_FLAG_INCREMENTAL : 0;
  CQVBackupControl control;
  if (!control.BeginBackup(&info)) {
    std::fprintf(stderr, "qv_plain_member: BeginBackup failed, error %u\n", static_cast<unsigned>(GetLastError()));
    return 1;
  }
  for (int i = 4; i < argc; ++i) {
    if (!control.AddFileToArchive(DrivePath(argv[i]).c_str())) {
      std::fprintf(stderr, "qv_plain_member: %s not saved, error %u\n", argv[i], static_cast<unsigned>(GetLastError()));
      return 1;
    }
  }
  if (!control.EndBackup()) {
    std::fprintf(stderr, "qv_plain_member: EndBackup failed, error %u\n", static_cast<unsigned>(GetLastError()));
    return 1;
  }
  return 0;
}
