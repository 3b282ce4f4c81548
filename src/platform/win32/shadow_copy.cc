#include "platform/shadow_copy.h"

#include "platform/win32/com_ptr.h"
#include "platform/win32/win32_support.h"

#include <objbase.h>
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>

namespace qv::platform {

namespace {

using win32::ComPtr;

// What an attempt waits before trying a busy service again.
constexpr DWORD kBusyRetryMilliseconds = 10000;

using CreateComponentsProc = HRESULT(WINAPI*)(IVssBackupComponents**);
using FreePropertiesProc = void(WINAPI*)(VSS_SNAPSHOT_PROP*);

// The Windows error number for a service result: the error a Win32 result
// carries, ERROR_BUSY for another snapshot in progress, otherwise a general
// failure (the result itself stays in the session for whoever wants it).
DWORD ErrorOfResult(HRESULT result) {
  if (HRESULT_FACILITY(result) == FACILITY_WIN32) return HRESULT_CODE(result);
  if (result == VSS_E_SNAPSHOT_SET_IN_PROGRESS) return ERROR_BUSY;
  if (result == E_NOTIMPL) return ERROR_NOT_SUPPORTED;
  return ERROR_GEN_FAILURE;
}

// vssapi.dll, freed when the object dies.
class ServiceLibrary {
 public:
  ServiceLibrary() = default;
  ~ServiceLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  ServiceLibrary(const ServiceLibrary&) = delete;
  ServiceLibrary& operator=(const ServiceLibrary&) = delete;

  bool Load() {
    if (module_ == nullptr) module_ = LoadLibraryW(L"vssapi.dll");
    return module_ != nullptr;
  }
  // The exported function `name` as a `Function`; null when missing.
  template <typename Function>
  Function Find(const char* name) const {
    FARPROC found = module_ != nullptr ? GetProcAddress(module_, name) : nullptr;
    // The generic function type in between is the documented way to
    // convert between function pointer types.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
  }

 private:
  HMODULE module_ = nullptr;
};

}  // namespace

struct ShadowCopySession::State {
  ServiceLibrary library;
  bool comStarted = false;  // this session initialised COM on its thread
  ComPtr<IVssBackupComponents> components;
  bool writersGathered = false;
  bool hasSnapshot = false;
  WString devicePath;
  HRESULT lastResult = S_OK;

  ~State() { Close(); }

  bool Fail(HRESULT result) {
    lastResult = result;
    SetLastError(ErrorOfResult(result));
    return false;
  }

  // Waits for an asynchronous step that `started` and gives its outcome.
  static HRESULT Await(HRESULT started, ComPtr<IVssAsync>& async) {
    if (FAILED(started)) return started;
    if (async.Get() == nullptr) return E_POINTER;
    HRESULT waited = async->Wait(INFINITE);
    if (FAILED(waited)) return waited;
    HRESULT outcome = S_OK;
    HRESULT queried = async->QueryStatus(&outcome, nullptr);
    if (FAILED(queried)) return queried;
    return outcome == VSS_S_ASYNC_FINISHED ? S_OK : (FAILED(outcome) ? outcome : E_FAIL);
  }

  bool Open();
  bool Gather();
  bool MakeSnapshot(const WCHAR* root);

  void Close() {
    if (components.Get() != nullptr && hasSnapshot) {
      // Telling the writers the backup ended lets them go on as after any
      // backup; its answer changes nothing here.
      ComPtr<IVssAsync> async;
      if (SUCCEEDED(components->BackupComplete(async.Receiver())) && async.Get() != nullptr) async->Wait(INFINITE);
    }
    components.Reset();
    if (comStarted) CoUninitialize();
    comStarted = false;
    writersGathered = false;
    hasSnapshot = false;
    devicePath.clear();
  }
};

bool ShadowCopySession::State::Open() {
  Close();
  lastResult = S_OK;
  if (!library.Load()) {
    lastResult = HRESULT_FROM_WIN32(GetLastError());
    return false;
  }
  auto create = library.Find<CreateComponentsProc>("CreateVssBackupComponentsInternal");
  if (create == nullptr) return Fail(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
  HRESULT started = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  // A thread already in another apartment keeps it; only our own start is undone.
  if (SUCCEEDED(started)) comStarted = true;
  else if (started != RPC_E_CHANGED_MODE) return Fail(started);
  HRESULT result = create(components.Receiver());
  if (SUCCEEDED(result)) result = components->InitializeForBackup(nullptr);
  if (SUCCEEDED(result)) result = components->SetBackupState(false, false, VSS_BT_FULL, false);
  if (FAILED(result)) {
    Close();
    return Fail(result);
  }
  return true;
}

bool ShadowCopySession::State::Gather() {
  if (components.Get() == nullptr) return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_STATE));
  ComPtr<IVssAsync> async;
  HRESULT started = components->GatherWriterMetadata(async.Receiver());
  HRESULT result = Await(started, async);
  if (FAILED(result)) return Fail(result);
  // Only the gathering matters to the service; the descriptions are not read.
  components->FreeWriterMetadata();
  writersGathered = true;
  return true;
}

bool ShadowCopySession::State::MakeSnapshot(const WCHAR* root) {
  if (components.Get() == nullptr) return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_STATE));
  if (hasSnapshot) return Fail(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
  if (!writersGathered && !Gather()) return false;
  VSS_ID setId = {};
  VSS_ID snapshotId = {};
  const VSS_ID anyProvider = {};  // the system chooses the snapshot provider
  HRESULT result = components->StartSnapshotSet(&setId);
  if (SUCCEEDED(result)) result = components->AddToSnapshotSet(const_cast<WCHAR*>(root), anyProvider, &snapshotId);
  ComPtr<IVssAsync> prepared;
  if (SUCCEEDED(result)) result = components->PrepareForBackup(prepared.Receiver());
  if (SUCCEEDED(result)) result = Await(result, prepared);
  ComPtr<IVssAsync> made;
  if (SUCCEEDED(result)) result = components->DoSnapshotSet(made.Receiver());
  if (SUCCEEDED(result)) result = Await(result, made);
  VSS_SNAPSHOT_PROP properties = {};
  if (SUCCEEDED(result)) result = components->GetSnapshotProperties(snapshotId, &properties);
  if (FAILED(result)) {
    components->AbortBackup();
    return Fail(result);
  }
  hasSnapshot = true;
  devicePath = properties.m_pwszSnapshotDeviceObject != nullptr ? properties.m_pwszSnapshotDeviceObject : L"";
  auto freeProperties = library.Find<FreePropertiesProc>("VssFreeSnapshotPropertiesInternal");
  if (freeProperties != nullptr) freeProperties(&properties);
  return true;
}

ShadowCopySession::ShadowCopySession() : state_(std::make_unique<State>()) {}

ShadowCopySession::~ShadowCopySession() = default;

bool ShadowCopySession::Begin() { return state_->Open(); }

bool ShadowCopySession::GatherWriters() { return state_->Gather(); }

bool ShadowCopySession::Create(const WCHAR* root, DWORD attempts) {
  if (root == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  for (DWORD attempt = 1;; ++attempt) {
    if (state_->MakeSnapshot(root)) return true;
    if (GetLastError() != ERROR_BUSY || attempt >= attempts) return false;
    Sleep(kBusyRetryMilliseconds);
    // A set that failed cannot be started again in the same session.
    if (!state_->Open()) return false;
  }
}

bool ShadowCopySession::DevicePath(WString* path) const {
  if (path == nullptr || !state_->hasSnapshot) {
    SetLastError(path == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_STATE);
    return false;
  }
  *path = state_->devicePath;
  return true;
}

DWORD ShadowCopySession::LastServiceResult() const { return static_cast<DWORD>(state_->lastResult); }

void ShadowCopySession::End() { state_->Close(); }

}  // namespace qv::platform
