// Times one backup and one restore of a folder through the backup control:
//   qv_backup_restore_timer SOURCE ARCHIVE_FOLDER RESTORE_FOLDER [PASSWORD]
// Prints the seconds and MB/s of each.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_text.h"
#include "qvbackup/host.h"
#include "qvbackup/qvbackupcontrol.h"

namespace {

using qvbench::Text;
using qvbench::Widen;

Text DrivePath(const char* native) {
  Text wide = Widen(native);
  std::vector<WCHAR> buffer(4096);
  DWORD length = QVGetDrivePath(wide.c_str(), buffer.data(), 4096);
  return Text(buffer.data(), length);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: qv_backup_restore_timer SOURCE ARCHIVE_FOLDER RESTORE_FOLDER [PASSWORD]\n");
    return 2;
  }
  Text source = DrivePath(argv[1]), archives = DrivePath(argv[2]), restore = DrivePath(argv[3]);
  Text password = argc > 4 ? Widen(argv[4]) : Text();
  Text name = Widen("bench");

  // The files to save, as a host would list them.
  CQVFileArray listing;
  listing.AddDirectory(source.c_str());
  std::vector<Text> files;
  ULONGLONG total = 0;
  DWORD entry = 0;
  HANDLE search = listing.FindFirstFileW(entry, nullptr);
  do {
    if (!listing.IsDirectory(entry)) {
      files.push_back(Text(static_cast<LPCWSTR>(listing.GetPathName(entry))));
      total += listing.GetSize(entry);
    }
  } while (search != nullptr && listing.FindNextFileW(search, entry));
  listing.FindClose(search);

  QVS_ARCHIVE_INFO info;
  std::memset(&info, 0, sizeof(info));
  info.dwSize = sizeof(info);
  info.pszFolder = archives.c_str();
  info.pszName = name.c_str();
  info.pszPassword = password.empty() ? nullptr : password.c_str();
  info.dwEncryptionKeySize = 256;
  info.dwCompression = 1;
  info.dwBlockSize = QVS_DEFAULT_BLOCK_SIZE;
  info.ullVolumeSize = QVS_NO_VOLUME_LIMIT;

  auto start = std::chrono::steady_clock::now();
  CQVBackupControl backup;
  backup.SetTotalBytes(total);
  if (!backup.BeginBackup(&info)) return 1;
  for (const Text& file : files) backup.AddFileToArchive(file.c_str());
  if (!backup.EndBackup()) return 1;
  double backupSeconds = Seconds(start);

  start = std::chrono::steady_clock::now();
  CQVBackupControl restorer;
  if (!restorer.GetStorage().OpenArchive(&info) || !restorer.LoadArchiveIndex()) return 1;
  restorer.SetRestoreRoot(restore.c_str());
  restorer.RestoreAllFiles();
  restorer.EndRestore();
  double restoreSeconds = Seconds(start);

  double megabytes = static_cast<double>(total) / 1e6;
  std::printf("files %zu, %.1f MB\n", files.size(), megabytes);
  std::printf("backup  %.2f s  %.1f MB/s\n", backupSeconds, megabytes / backupSeconds);
  std::printf("restore %.2f s  %.1f MB/s\n", restoreSeconds, megabytes / restoreSeconds);
  return 0;
}
