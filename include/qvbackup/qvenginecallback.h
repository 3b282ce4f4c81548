// CQVEngineCallback: how the engine and its backup control talk to the
// host. The host derives from it and implements OnEngineMessage; the engine
// never deletes it.
#ifndef QVBACKUP_QVENGINECALLBACK_H_
#define QVBACKUP_QVENGINECALLBACK_H_

#include "qvbackup/wintypes.h"

// Message codes and their four values.
#define ENGINE_MSG_SCAN_BEGIN 1        // 0, 0, 0, 0: building the file list begins
#define ENGINE_MSG_PROGRESS 3          // 2, address of the DWORD percentage, 0, 0
#define ENGINE_MSG_CANCELLED 4         // 0, 0, 0, 0: the backup stopped on the cancel flag
#define ENGINE_MSG_NO_FILES 8          // 0, 0, 0, 0: nothing to back up
#define ENGINE_MSG_NO_SPACE 10         // 0, 0, 0, 0: not enough room at the destination
#define ENGINE_MSG_CATEGORY_COUNT 18   // 0, &category, &file count, &byte count
#define ENGINE_MSG_CREATE_FAILED 19    // 0, 0, 0, 0: the archive was not created, or not
                                       // finished (a write failed) and given up: the
                                       // archive it would have replaced is as it was
#define ENGINE_MSG_FILE_REMOVED 20     // reason (QVS_REMOVED_*), address of the file's
                                       // path, 0, 0: a new archive in place, a file it
                                       // replaced (or that a stopped run left) was removed
#define ENGINE_MSG_FILE_CHANGED 21     // 0, address of the file's path, 0, 0: the file
                                       // changed while it was read (its size or time
                                       // moved): it is saved as it was read
#define ENGINE_MSG_FOLDER_NOT_READ 22  // system error, address of the folder's path,
                                       // 0, 0: the folder cannot be listed, nothing
                                       // below it is saved
#define ENGINE_MSG_RESTORE_PROGRESS 23 // bytes of the file being restored written so
                                       // far, 0, 0, 0: sent as a restore writes each
                                       // chunk of a file's content

class CQVEngineCallback {
 public:
  // The one operation, first in the virtual table. Addresses among the
  // values are valid only during the call. The result is not used.
  virtual void OnEngineMessage(DWORD dwCode, ULONGLONG ullValue1, ULONGLONG ullValue2,
                               ULONGLONG ullValue3, ULONGLONG ullValue4) = 0;

 protected:
  ~CQVEngineCallback() = default;
};

#endif  // QVBACKUP_QVENGINECALLBACK_H_
