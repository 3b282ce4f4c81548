#include "platform/fault_injection.h"

#include <algorithm>
#include <atomic>
#include <utility>

namespace qv::platform {

namespace {

std::atomic<FaultPlan*> g_activePlan{nullptr};

bool Contains(WStringView path, const WString& part) { return part.empty() || path.find(part) != WStringView::npos; }

WStringView ViewOf(const WCHAR* path) { return path == nullptr ? WStringView() : WStringView(path); }

// A file whose every operation asks the installed plan first. The plan is
// looked up at each call, so a file that outlives its plan works plainly.
class FaultyFile final : public RandomAccessFile {
 public:
  FaultyFile(std::unique_ptr<RandomAccessFile> inner, WString path) : inner_(std::move(inner)), path_(std::move(path)) {}

  bool Read(void* buffer, DWORD size, DWORD* read) override {
    *read = 0;
    if (Fails(FaultOp::kRead)) return false;
    return inner_->Read(buffer, size, read);
  }

  bool Write(const void* data, DWORD size) override {
    FaultPlan* plan = ActiveFaultPlan();
    if (plan == nullptr) return inner_->Write(data, size);
    if (plan->ShouldFail(FaultOp::kWrite, path_)) return false;
    ULONGLONG position = 0;
    ULONGLONG length = 0;
    if (!inner_->Tell(&position) || !inner_->Size(&length)) return false;
    const ULONGLONG end = position + size;
    const ULONGLONG growth = end > length ? std::min<ULONGLONG>(end - length, size) : 0;
    const DWORD allowed = plan->AllowedWrite(path_, size, growth);
    if (allowed == size) return inner_->Write(data, size);
    if (allowed > 0) inner_->Write(data, allowed);
    SetLastError(ERROR_DISK_FULL);
    return false;
  }

  bool Seek(ULONGLONG offset) override { return !Fails(FaultOp::kSeek) && inner_->Seek(offset); }
  bool Tell(ULONGLONG* offset) override { return inner_->Tell(offset); }
  bool Size(ULONGLONG* size) override { return inner_->Size(size); }
  bool Truncate() override { return !Fails(FaultOp::kTruncate) && inner_->Truncate(); }
  bool Sync() override { return !Fails(FaultOp::kSync) && inner_->Sync(); }
  DWORD ApplyPosixMetadata(const PosixMetadata& metadata, bool times) override {
    return inner_->ApplyPosixMetadata(metadata, times);
  }

 private:
  bool Fails(FaultOp op) {
    FaultPlan* plan = ActiveFaultPlan();
    return plan != nullptr && plan->ShouldFail(op, path_);
  }

  std::unique_ptr<RandomAccessFile> inner_;
  WString path_;
};

// A file written only at its end (the log, list files): every byte grows it.
class FaultyWritableFile final : public WritableFile {
 public:
  FaultyWritableFile(std::unique_ptr<WritableFile> inner, WString path)
      : inner_(std::move(inner)), path_(std::move(path)) {}

  bool Write(const void* data, DWORD size) override {
    FaultPlan* plan = ActiveFaultPlan();
    if (plan == nullptr) return inner_->Write(data, size);
    if (plan->ShouldFail(FaultOp::kWrite, path_)) return false;
    const DWORD allowed = plan->AllowedWrite(path_, size, size);
    if (allowed == size) return inner_->Write(data, size);
    if (allowed > 0) inner_->Write(data, allowed);
    SetLastError(ERROR_DISK_FULL);
    return false;
  }

  bool SeekToEnd() override {
    FaultPlan* plan = ActiveFaultPlan();
    if (plan != nullptr && plan->ShouldFail(FaultOp::kSeek, path_)) return false;
    return inner_->SeekToEnd();
  }

 private:
  std::unique_ptr<WritableFile> inner_;
  WString path_;
};

}  // namespace

FaultPlan& FaultPlan::Fail(FaultOp op, WStringView pathPart, DWORD error, ULONGLONG nth, ULONGLONG times) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.push_back(Rule{op, WString(pathPart), error, nth == 0 ? 1 : nth, times});
  return *this;
}

FaultPlan& FaultPlan::LimitWrites(ULONGLONG bytes, WStringView pathPart, bool partial) {
  std::lock_guard<std::mutex> lock(mutex_);
  limited_ = true;
  budget_ = bytes;
  budgetPath_ = WString(pathPart);
  partial_ = partial;
  return *this;
}

ULONGLONG FaultPlan::Injected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return injected_;
}

FaultPlan& FaultPlan::Record() {
  std::lock_guard<std::mutex> lock(mutex_);
  recording_ = true;
  return *this;
}

std::vector<FaultCall> FaultPlan::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

bool FaultPlan::ShouldFail(FaultOp op, WStringView path, WStringView target) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (recording_) calls_.push_back(FaultCall{op, WString(path), WString(target)});
  for (Rule& rule : rules_) {
    if (rule.op != op || !Contains(path, rule.pathPart)) continue;
    ++rule.seen;
    const bool inWindow = rule.seen >= rule.nth && (rule.times == 0 || rule.seen - rule.nth < rule.times);
    if (!inWindow) continue;
    ++injected_;
    SetLastError(rule.error);
    return true;
  }
  return false;
}

DWORD FaultPlan::AllowedWrite(WStringView path, DWORD size, ULONGLONG growth) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!limited_ || growth == 0 || !Contains(path, budgetPath_)) return size;
  if (growth <= budget_) {
    budget_ -= growth;
    return size;
  }
  ++injected_;
  if (!partial_) return 0;
  // The bytes over existing ones fit, then what is left of the budget.
  const auto allowed = static_cast<DWORD>(size - growth + budget_);
  budget_ = 0;
  return allowed;
}

ScopedFaultInjection::ScopedFaultInjection(FaultPlan& plan) : previous_(g_activePlan.exchange(&plan)) {}

ScopedFaultInjection::~ScopedFaultInjection() { g_activePlan.store(previous_); }

FaultPlan* ActiveFaultPlan() { return g_activePlan.load(std::memory_order_acquire); }

// The hooked operations of the platform layer: the system's own, unless a
// plan is installed.

bool FaultPlanFails(FaultOp op, WStringView path, WStringView target) {
  FaultPlan* plan = ActiveFaultPlan();
  return plan != nullptr && plan->ShouldFail(op, path, target);
}

std::unique_ptr<RandomAccessFile> UnderFaultPlan(std::unique_ptr<RandomAccessFile> file, WStringView path) {
  if (!file || ActiveFaultPlan() == nullptr) return file;
  return std::make_unique<FaultyFile>(std::move(file), WString(path));
}

std::unique_ptr<RandomAccessFile> OpenFile(const WCHAR* path, OpenMode mode, Sharing sharing) {
  if (FaultPlanFails(FaultOp::kOpen, ViewOf(path))) return nullptr;
  return UnderFaultPlan(OpenSystemFile(path, mode, sharing), ViewOf(path));
}

std::unique_ptr<WritableFile> CreateWritableFile(const WCHAR* path, Creation creation) {
  FaultPlan* plan = ActiveFaultPlan();
  if (plan == nullptr) return CreateSystemWritableFile(path, creation);
  if (plan->ShouldFail(FaultOp::kOpen, ViewOf(path))) return nullptr;
  std::unique_ptr<WritableFile> file = CreateSystemWritableFile(path, creation);
  if (!file) return nullptr;
  return std::make_unique<FaultyWritableFile>(std::move(file), WString(ViewOf(path)));
}

bool RemoveFile(const WCHAR* path) { return !FaultPlanFails(FaultOp::kDelete, ViewOf(path)) && RemoveSystemFile(path); }

bool RenameFile(const WCHAR* from, const WCHAR* to) {
  return !FaultPlanFails(FaultOp::kRename, ViewOf(from), ViewOf(to)) && RenameSystemFile(from, to);
}

bool SyncFolder(const WCHAR* folder) {
  return !FaultPlanFails(FaultOp::kSync, ViewOf(folder)) && SyncSystemFolder(folder);
}

}  // namespace qv::platform
