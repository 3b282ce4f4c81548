// Failing disks on demand: a fault plan that tests install to make chosen
// file operations of the platform layer fail, or to let writes stop at a
// byte budget as a full disk does.
//
// The library always carries this code but it stays inert until a plan is
// installed: the hooked operations (OpenFile, CreateWritableFile,
// RemoveFile, RenameFile, SyncFolder) then cost one atomic load more, and
// files opened while no plan is installed are the system's own, unwrapped.
//
// While a plan is installed, every file that OpenFile or CreateWritableFile
// opens comes wrapped: its reads, writes, seeks and truncations are checked
// against the plan before they reach the system. A failing operation sets
// the thread's last error to the rule's Windows error and changes nothing.
// A plan may also record every hooked call in order, so that a test can
// tell that data was synced before the file holding it was renamed.
#ifndef QVBACKUP_PLATFORM_FAULT_INJECTION_H_
#define QVBACKUP_PLATFORM_FAULT_INJECTION_H_

#include <memory>
#include <mutex>
#include <vector>

#include "platform/file_ops.h"
#include "platform/random_access_file.h"
#include "platform/text.h"

namespace qv::platform {

// The operations a rule can make fail.
enum class FaultOp {
  kOpen,      // OpenFile and CreateWritableFile
  kRead,      // RandomAccessFile::Read
  kWrite,     // RandomAccessFile::Write and WritableFile::Write
  kSeek,      // RandomAccessFile::Seek and WritableFile::SeekToEnd
  kTruncate,  // RandomAccessFile::Truncate
  kRename,    // RenameFile, matched on the source path
  kDelete,    // RemoveFile
  kSync,      // RandomAccessFile::Sync and SyncFolder (on the folder's path)
};

// One hooked call, as a recording plan keeps it.
struct FaultCall {
  FaultOp op;
  WString path;    // the file (or folder) operated on; a rename's source
  WString target;  // a rename's new name; empty otherwise
};

class FaultPlan {
 public:
  FaultPlan() = default;
  FaultPlan(const FaultPlan&) = delete;
  FaultPlan& operator=(const FaultPlan&) = delete;

  // Makes calls of `op` on paths containing `pathPart` (case-sensitive;
  // empty: every path) fail with `error`: the `nth` such call (1 = the
  // first) and the `times` - 1 after it; `times` 0 fails every call from
  // the nth on. Calls are counted per rule from its addition.
  FaultPlan& Fail(FaultOp op, WStringView pathPart, DWORD error, ULONGLONG nth = 1, ULONGLONG times = 1);

  // A full disk for files whose path contains `pathPart`: together they may
  // grow by `bytes` more. The write that would cross the budget writes the
  // bytes that still fit (or nothing, with `partial` false) and fails with
  // ERROR_DISK_FULL, as does every later write that grows a file.
  // Overwriting bytes a file already holds takes no room; cutting a file
  // gives none back. One budget per plan; a later call replaces it.
  FaultPlan& LimitWrites(ULONGLONG bytes, WStringView pathPart = WStringView(), bool partial = true);

  // How many calls the plan made fail, budget included, so that a test
  // can tell its fault was reached.
  ULONGLONG Injected() const;

  // From now on keeps every hooked call (opens, reads, writes, seeks,
  // truncations, renames, removals, syncs), failed or not, in order.
  FaultPlan& Record();
  // The calls kept since Record.
  std::vector<FaultCall> Calls() const;

  // Used by the hooks. True when the call of `op` on `path` is to fail; the
  // last error is then set to the rule's error. `target`: a rename's new
  // name, for the record.
  bool ShouldFail(FaultOp op, WStringView path, WStringView target = WStringView());

  // Used by the hooks. How many of `size` bytes may be written when a
  // write makes a file grow by `growth` of them; fewer than `size` means the
  // write fails with ERROR_DISK_FULL after writing that many.
  DWORD AllowedWrite(WStringView path, DWORD size, ULONGLONG growth);

 private:
  struct Rule {
    FaultOp op;
    WString pathPart;
    DWORD error;
    ULONGLONG nth;
    ULONGLONG times;
    ULONGLONG seen = 0;
  };
  mutable std::mutex mutex_;
  std::vector<Rule> rules_;
  bool limited_ = false;
  WString budgetPath_;
  ULONGLONG budget_ = 0;
  bool partial_ = true;
  ULONGLONG injected_ = 0;
  bool recording_ = false;
  std::vector<FaultCall> calls_;
};

// Installs `plan` for the whole process while the guard lives, and puts
// back the plan that was installed before. REQUIRES: `plan` outlives the
// guard; files opened under the plan are closed before the guard dies.
class ScopedFaultInjection {
 public:
  explicit ScopedFaultInjection(FaultPlan& plan);
  ~ScopedFaultInjection();
  ScopedFaultInjection(const ScopedFaultInjection&) = delete;
  ScopedFaultInjection& operator=(const ScopedFaultInjection&) = delete;

 private:
  FaultPlan* previous_;
};

// The installed plan, or null.
FaultPlan* ActiveFaultPlan();

// For the platform's own operations on files it reaches by other means
// than their drive path (through a held folder): the hooks above, with the
// file named by `path`. True when the installed plan, if any, makes the
// call of `op` fail (the last error is then set); `target` is a rename's
// new name.
bool FaultPlanFails(FaultOp op, WStringView path, WStringView target = WStringView());
// `file`, opened as `path`, as OpenFile hands files out: checked against
// the installed plan, if any, at every operation.
std::unique_ptr<RandomAccessFile> UnderFaultPlan(std::unique_ptr<RandomAccessFile> file, WStringView path);

// The operating system's own operations behind the hooks, one per
// platform, with the contracts of OpenFile, CreateWritableFile, RemoveFile,
// RenameFile and SyncFolder.
std::unique_ptr<RandomAccessFile> OpenSystemFile(const WCHAR* path, OpenMode mode, Sharing sharing);
std::unique_ptr<WritableFile> CreateSystemWritableFile(const WCHAR* path, Creation creation);
bool RemoveSystemFile(const WCHAR* path);
bool RenameSystemFile(const WCHAR* from, const WCHAR* to);
bool SyncSystemFolder(const WCHAR* folder);

}  // namespace qv::platform

#endif  // QVBACKUP_PLATFORM_FAULT_INJECTION_H_
