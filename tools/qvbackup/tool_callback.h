// What the engine tells qvbackup while it works: the message that ends a
// run, and the progress, which drives the progress bar.
#ifndef QVBACKUP_TOOLS_TOOL_CALLBACK_H_
#define QVBACKUP_TOOLS_TOOL_CALLBACK_H_

#include <cstdint>
#include <utility>
#include <vector>

#include "console.h"

#include "progress.h"
#include "qvbackup/qvenginecallback.h"

namespace qvtool {

class ToolCallback : public CQVEngineCallback {
 public:
  // `bar` (may be null) is updated with each progress message.
  explicit ToolCallback(ProgressBar* bar = nullptr) : bar_(bar) {}

  void OnEngineMessage(DWORD dwCode, ULONGLONG ullValue1, ULONGLONG ullValue2, ULONGLONG, ULONGLONG) override {
    if (dwCode == ENGINE_MSG_PROGRESS && ullValue1 == 2 && ullValue2 != 0) {
      percent = *reinterpret_cast<const DWORD*>(static_cast<std::uintptr_t>(ullValue2));
      if (bar_ != nullptr) bar_->Update(percent);
    } else if (dwCode == ENGINE_MSG_FILE_REMOVED) {
      if (ullValue2 != 0) {
        removed.emplace_back(static_cast<DWORD>(ullValue1),
                             WString(reinterpret_cast<const WCHAR*>(static_cast<std::uintptr_t>(ullValue2))));
      }
    } else if (dwCode == ENGINE_MSG_FILE_CHANGED) {
      if (ullValue2 != 0) changed.emplace_back(Text(ullValue2));
    } else if (dwCode == ENGINE_MSG_FOLDER_NOT_READ) {
      if (ullValue2 != 0) unread.emplace_back(static_cast<DWORD>(ullValue1), Text(ullValue2));
    } else if (dwCode != ENGINE_MSG_SCAN_BEGIN) {
      outcome = dwCode;
    }
  }

  DWORD outcome = 0;  // 0 while nothing has ended the run
  DWORD percent = 0;
  // Files removed once the new archive was in place: reason, drive path.
  std::vector<std::pair<DWORD, WString>> removed;
  // Files saved as read while they changed (drive paths).
  std::vector<WString> changed;
  // Folders the file list could not read: system error, drive path.
  std::vector<std::pair<DWORD, WString>> unread;

  // Progress goes to `bar` (may be null) from now on.
  void SetBar(ProgressBar* bar) { bar_ = bar; }

 private:
  static WString Text(ULONGLONG address) {
    return WString(reinterpret_cast<const WCHAR*>(static_cast<std::uintptr_t>(address)));
  }

  ProgressBar* bar_;
};

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_TOOL_CALLBACK_H_
