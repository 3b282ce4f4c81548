// A host program built against the installed package only: it saves one
// file into an encrypted archive with the backup control and restores it
// below another folder, then checks the bytes.
//   qv_consumer SOURCE_FILE ARCHIVE_FOLDER RESTORE_FOLDER
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <qvbackup/host.h>
#include <qvbackup/qvbackupcontrol.h>

namespace {

using Text = std::basic_string<WCHAR>;

Text Utf16(const std::string& text) {
  std::vector<WCHAR> buffer(text.size() + 1);
  const DWORD length = QVUtf8ToUtf16(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return Text(buffer.data(), length);
}

// The drive form of a native path ("C:\..." on Windows already).
Text DrivePath(const std::string& native) {
  std::vector<WCHAR> buffer(32768);
  const DWORD length = QVGetDrivePath(Utf16(native).c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  return Text(buffer.data(), length);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Fail(const char* what, unsigned long error) {
  std::fprintf(stderr, "consumer: %s failed (error %lu)\n", what, error);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Fail("usage", 0);
  const Text source = DrivePath(argv[1]);
  const Text folder = DrivePath(argv[2]);
  const Text root = DrivePath(argv[3]);
  if (source.empty() || folder.empty() || root.empty()) return Fail("QVGetDrivePath", 0);
  const Text name = Utf16("consumer");
  const Text password = Utf16("host password");
  QVS_ARCHIVE_INFO info = {};
  info.dwSize = sizeof(info);
  info.pszFolder = folder.c_str();
  info.pszName = name.c_str();
  info.pszPassword = password.c_str();
  info.dwEncryptionKeySize = 256;
  info.dwCompression = 1;
  info.dwBlockSize = QVS_DEFAULT_BLOCK_SIZE;
  info.ullVolumeSize = QVS_NO_VOLUME_LIMIT;
  {
    CQVBackupControl backup;
    if (!backup.BeginBackup(&info)) return Fail("BeginBackup", GetLastError());
    if (!backup.AddFileToArchive(source.c_str())) return Fail("AddFileToArchive", GetLastError());
    if (!backup.EndBackup()) return Fail("EndBackup", GetLastError());
  }
  CQVBackupControl restore;
  if (!restore.GetStorage().OpenArchive(&info)) return Fail("OpenArchive", restore.GetStorage().GetError());
  if (!restore.LoadArchiveIndex()) return Fail("LoadArchiveIndex", GetLastError());
  restore.SetRestoreRoot(root.c_str());
  if (!restore.RestoreAllFiles()) return Fail("RestoreAllFiles", GetLastError());
  if (!restore.EndRestore()) return Fail("EndRestore", GetLastError());
  // Below the root: the drive letter's folder, then the path.
  std::string path = argv[1];
  const std::string back = std::string(argv[3]) + "/Kelvar_C" + path;
  if (ReadFile(back) != ReadFile(path) || ReadFile(path).empty()) return Fail("comparing the restored file", 0);
  std::printf("consumer: restored %s\n", back.c_str());
  return 0;
}
