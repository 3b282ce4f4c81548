// Helpers for the failing-disk tests: a source tree whose bytes can be
// compared before and after, and the archive a backup leaves behind.
#ifndef QVBACKUP_TESTS_FAULTS_FAULTS_TEST_UTIL_H_
#define QVBACKUP_TESTS_FAULTS_FAULTS_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "control/control_test_util.h"
#include "platform/fault_injection.h"
#include "qvbackup/qvbackupengine.h"

namespace qvtest {

using qv::platform::FaultCall;
using qv::platform::FaultOp;
using qv::platform::FaultPlan;
using qv::platform::ScopedFaultInjection;

// Every file below `root` with its bytes, by path relative to `root`.
inline std::map<std::string, Bytes> Snapshot(const std::filesystem::path& root) {
  std::map<std::string, Bytes> files;
  if (!std::filesystem::exists(root)) return files;
  for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
    if (item.is_regular_file()) files[std::filesystem::relative(item.path(), root).generic_string()] = ReadAll(item.path());
  }
  return files;
}

// A small tree of compressible and incompressible files, listed in order.
inline std::vector<std::filesystem::path> WriteTree(TempDir& dir) {
  std::vector<std::filesystem::path> files = {dir.WriteFile("a.txt", 5000), dir.WriteFile("b.bin", 20000),
                                              dir.WriteFile("c.txt", 300), dir.WriteFile("sub/d.bin", 9000)};
  WriteAll(files[1], RandomBytes(20000, 1));
  WriteAll(files[3], RandomBytes(9000, 2));
  return files;
}

// Whether the archive of `desc` opens and its index loads: what makes an
// archive look complete.
inline bool LoadsAsSound(ArchiveDescription& desc) {
  CQVBackupControl reader;
  if (!reader.GetStorage().OpenArchive(desc.get())) return false;
  const bool loaded = reader.LoadArchiveIndex() != FALSE;
  reader.EndRestore();
  return loaded;
}

// Restores every saved file of `desc` below `root` one by one; the result
// per file name (the entry's name) is its last error, 0 when restored.
inline std::map<std::string, DWORD> RestoreEach(ArchiveDescription& desc, const TempDir& root,
                                                QVFA_PROGRESSPROC progress = nullptr, ULONGLONG user = 0) {
  std::map<std::string, DWORD> results;
  CQVBackupControl restorer;
  EXPECT_TRUE(restorer.GetStorage().OpenArchive(desc.get(), progress, user)) << restorer.GetStorage().GetError();
  EXPECT_TRUE(restorer.LoadArchiveIndex()) << GetLastError();
  restorer.SetRestoreRoot(root.DrivePath().c_str());
  CQVFileArray& index = restorer.GetIndex();
  std::vector<DWORD> entries;
  DWORD entry = 0;
  HANDLE search = index.FindFirstFileW(entry, nullptr);
  if (search != nullptr) {
    do {
      if (!index.IsDirectory(entry)) entries.push_back(entry);
    } while (index.FindNextFileW(search, entry));
    index.FindClose(search);
  }
  for (DWORD file : entries) {
    const BOOL restored = restorer.RestoreEntry(file);
    results[U8(static_cast<LPCWSTR>(index.GetFileName(file)))] = restored ? 0 : GetLastError();
  }
  restorer.EndRestore();
  return results;
}

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_FAULTS_FAULTS_TEST_UTIL_H_
