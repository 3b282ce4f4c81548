// The shadow-copy service over the platform's snapshot session.
#include "services/qvvss.h"

#include <algorithm>

#include "platform/shadow_copy.h"
#include "platform/text.h"

namespace {

class ShadowCopyService final : public CQVVss {
 public:
  DWORD GetLastServiceResult() override { return session_.LastServiceResult(); }

  BOOL HasSnapshot() override { return snapshotRoot_.empty() ? FALSE : TRUE; }

  BOOL GetSnapshotVolumeRoot(WCHAR* pszBuffer, DWORD dwSize) override {
    if (snapshotRoot_.empty()) return Fail(ERROR_INVALID_STATE);
    return CopyOut(snapshotRoot_, pszBuffer, dwSize);
  }

  BOOL ReleaseSnapshot() override {
    session_.End();
    snapshotRoot_.clear();
    return TRUE;
  }

  BOOL GetSnapshotVolumePath(WCHAR* pszBuffer, DWORD dwSize) override {
    qv::WString path;
    if (!session_.DevicePath(&path)) return Fail(GetLastError());
    return CopyOut(path, pszBuffer, dwSize);
  }

  BOOL InitializeBackup() override {
    snapshotRoot_.clear();
    return session_.Begin() ? TRUE : Fail(GetLastError());
  }

  BOOL CreateSnapshot(LPCWSTR pszVolumeRoot, DWORD dwAttempts) override {
    if (pszVolumeRoot == nullptr || pszVolumeRoot[0] == 0) return Fail(ERROR_INVALID_PARAMETER);
    if (!session_.Create(pszVolumeRoot, dwAttempts)) return Fail(GetLastError());
    snapshotRoot_ = pszVolumeRoot;
    return TRUE;
  }

  DWORD GetLastErrorCode() override { return lastError_; }

  BOOL GatherWriterMetadata() override { return session_.GatherWriters() ? TRUE : Fail(GetLastError()); }

 private:
  BOOL Fail(DWORD error) {
    lastError_ = error;
    SetLastError(error);
    return FALSE;
  }

  BOOL CopyOut(const qv::WString& text, WCHAR* buffer, DWORD size) {
    if (buffer == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (text.size() >= size) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return TRUE;
  }

  qv::platform::ShadowCopySession session_;
  qv::WString snapshotRoot_;  // empty while no snapshot is held
  DWORD lastError_ = 0;
};

}  // namespace

// Never destroyed: on Windows, releasing the service's COM objects while
// the library is unloaded could block the loader; the system deletes a
// snapshot of this kind itself when the process ends.
CQVVss* GetVSSInstance() {
  static ShadowCopyService* const instance = new ShadowCopyService;
  return instance;
}
