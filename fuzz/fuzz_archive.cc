// An archive volume as it is read back: opened (a password is offered when
// the header asks for one), every block walked, the closing record and the
// index loaded, every file restored below a temporary restore root, and
// every block offered as a file record as a salvage without the index
// would; nothing may appear outside the root. Input: the volume file "a.QVA".
#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "fuzz_helpers.h"
#include "qvbackup/qvarchivelayout.h"
#include "qvbackup/qvbackupcontrol.h"
#include "qvbackup/qvstorage.h"

namespace {

namespace fs = std::filesystem;

// Blocks walked per input: more than any seed holds.
constexpr int kMaxBlocks = 10000;

void NoSleep(DWORD) {}

// The header's encryption type (byte 52) says whether a password is due;
// the seeds that have one were written with "fuzz".
constexpr std::size_t kEncryptionTypeAt = 52;
bool g_encrypted = false;

QVS_ARCHIVE_INFO Describe(const qvfuzz::WString& folder) {
  QVS_ARCHIVE_INFO info = {};
  info.dwSize = sizeof(info);
  info.pszFolder = folder.c_str();
  info.pszName = QVT("a");
  info.pszPassword = g_encrypted ? QVT("fuzz") : nullptr;
  info.ullVolumeSize = QVS_NO_VOLUME_LIMIT;
  return info;
}

void WalkBlocks(const qvfuzz::WString& folder) {
  QVS_ARCHIVE_INFO info = Describe(folder);
  CQVStorage storage;
  storage.SetSleepProc(NoSleep);
  if (!storage.OpenArchive(&info)) return;
  BYTE* data = nullptr;
  DWORD length = 0;
  HANDLE walk = storage.FindFirstDataBlock(&data, &length);
  for (int blocks = 0; walk != nullptr && blocks < kMaxBlocks; ++blocks) {
    qvfuzz::Require(data != nullptr && length != 0 && length <= storage.GetArchiveBlockSize(),
                    "a block handed out is empty or longer than the block size");
    storage.DeleteFoundBlockData(data, length);
    if (!storage.FindNextDataBlock(walk, &data, &length)) break;
  }
  if (walk != nullptr) storage.FindBlockClose(walk);
  if (storage.GetBlock(storage.GetUserData(), &data, &length)) storage.DeleteFoundBlockData(data, length);
  storage.CloseArchive();
}

void Restore(const qvfuzz::WString& folder, const fs::path& restoreRoot) {
  QVS_ARCHIVE_INFO info = Describe(folder);
  CQVBackupControl control;
  control.GetStorage().SetSleepProc(NoSleep);
  if (!control.GetStorage().OpenArchive(&info)) return;
  if (control.LoadArchiveIndex()) {
    control.SetRestoreRoot(qvfuzz::DrivePath(restoreRoot).c_str());
    control.RestoreAllFiles();
  }
  control.EndRestore();
}

// As a host salvaging an archive whose index is lost: every block start
// found by following the block headers is offered as a file record, with
// the next block's data length as its content. What is no record, or holds
// a path leaving the root, must be refused.
void RestoreFromRecords(const qvfuzz::WString& folder, const fs::path& restoreRoot, const std::uint8_t* data,
                        std::size_t size) {
  constexpr std::size_t kBlockHeader = qvlayout::block::kSize;
  const auto le32 = [data](std::size_t at) { return qvlayout::GetDword(data, static_cast<DWORD>(at)); };
  QVS_ARCHIVE_INFO info = Describe(folder);
  CQVBackupControl control;
  control.GetStorage().SetSleepProc(NoSleep);
  if (!control.GetStorage().OpenArchive(&info)) return;
  control.SetRestoreRoot(qvfuzz::DrivePath(restoreRoot).c_str());
  std::size_t at = qvlayout::header::kSize;
  for (int blocks = 0; blocks < kMaxBlocks && at < size && size - at >= kBlockHeader; ++blocks) {
    const std::size_t stored = le32(at);
    if (stored > size - at - kBlockHeader) break;
    const std::size_t next = at + kBlockHeader + stored;
    const DWORD content = size - next >= kBlockHeader ? le32(next + qvlayout::block::kDataLength) : 0;
    control.RestoreRecord(at, content);
    at = next;
  }
  control.EndRestore();
}

// Restored files live in "Kelvar_<drive>" folders of the restore root;
// the archive's folder keeps its one volume.
void CheckNothingStrayed(const fs::path& archiveFolder, const fs::path& restoreRoot) {
  for (const fs::directory_entry& entry : fs::directory_iterator(restoreRoot)) {
    qvfuzz::Require(entry.path().filename().string().starts_with("Kelvar_"),
                    "a restore wrote outside its drive folders");
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(archiveFolder)) {
    qvfuzz::Require(entry.path().filename() == "a.QVA", "a restore wrote beside the archive");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static qvfuzz::TempRoot root;
  const fs::path run = root.path() / "run";
  const fs::path volumeFolder = run / "volume";
  const fs::path restoreRoot = run / "restore";
  qvfuzz::RemoveTree(run);
  fs::create_directories(volumeFolder);
  fs::create_directories(restoreRoot);
  qvfuzz::WriteBytes(volumeFolder / "a.QVA", data, size);
  const qvfuzz::WString folder = qvfuzz::DrivePath(volumeFolder);
  g_encrypted = size > kEncryptionTypeAt && data[kEncryptionTypeAt] != 0;

  WalkBlocks(folder);
  Restore(folder, restoreRoot);
  RestoreFromRecords(folder, restoreRoot, data, size);
  CheckNothingStrayed(volumeFolder, restoreRoot);
  for (const fs::directory_entry& entry : fs::directory_iterator(run)) {
    qvfuzz::Require(entry.path() == volumeFolder || entry.path() == restoreRoot, "a restore wrote beside its root");
  }
  return 0;
}
