// The conversation between CQVBackupFile and its callback, and the content
// part of it, over any RandomAccessFile (so that tests can put failing files
// in place of real ones).
#ifndef QVBACKUP_SERVICES_BACKUP_FILE_STREAM_H_
#define QVBACKUP_SERVICES_BACKUP_FILE_STREAM_H_

#include <vector>

#include "platform/random_access_file.h"
#include "qvbackup/qvbackupfile.h"
#include "qvbackup/wintypes.h"

namespace qv::services {

// The stages of the conversation, as QVBF_INTERNAL_DATA::dwStage numbers them.
constexpr DWORD kStageOpening = 0;
constexpr DWORD kStageNaming = 1;
constexpr DWORD kStageContent = 2;

// One callback and the user value that goes with every call.
class CallbackChannel {
 public:
  CallbackChannel(QVBF_CALLBACK callback, ULONGLONG userValue) : callback_(callback), userValue_(userValue) {}

  // Calls back once with `length` bytes at `data` in `stage`. True when the
  // callback answered 0; any other answer stops the conversation: false with
  // ERROR_CANCELLED.
  bool Exchange(DWORD stage, BYTE* data, DWORD length) const;

 private:
  QVBF_CALLBACK callback_;
  ULONGLONG userValue_;
};

// Reads `file` from its position to its end and hands what is read to
// `channel` as content, in chunks of at most QVBF_CHUNK_SIZE bytes; nothing
// read, no chunk. `sizeHint` (the size when the file was opened) only sizes
// the buffer: a file that grew or shrank since is delivered as read, and the
// first short read ends it. `*sent` (when given) receives the bytes handed
// over. False with the read's error or ERROR_CANCELLED.
bool SendContent(platform::RandomAccessFile& file, ULONGLONG sizeHint, const CallbackChannel& channel,
                 ULONGLONG* sent = nullptr);

// Asks `channel` for `bytes` of content, min(QVBF_CHUNK_SIZE, what is left)
// at a time, and writes each chunk to `file` at its position. False with the
// write's error or ERROR_CANCELLED.
bool ReceiveContent(const CallbackChannel& channel, ULONGLONG bytes, platform::RandomAccessFile& file);

// A stretch of a file's data: [offset, offset + length).
struct DataRun {
  ULONGLONG offset = 0;
  ULONGLONG length = 0;
};

// The stretches of data of `file` (`size` bytes when it was opened), in
// order; one for a file without holes, none for an empty one or one that
// is all hole. False with the system's error.
bool FindDataRuns(platform::RandomAccessFile& file, ULONGLONG size, std::vector<DataRun>* runs);

// Whether a file of `size` bytes with `runs` of data is saved as runs:
// when its holes come to a megabyte or more. Smaller holes are saved as
// the zeros they read as, so that such files stay readable by readers that
// know one stream only.
bool WorthSavingAsRuns(const std::vector<DataRun>& runs, ULONGLONG size);

// Hands `runs` of `file` to `channel` as content of kind opening::kRuns,
// in chunks of QVBF_CHUNK_SIZE bytes but the last. A run the file no longer
// fills (it shrank) is made up with zeros and *changed is set. False with
// the read's error or ERROR_CANCELLED.
bool SendRuns(platform::RandomAccessFile& file, const std::vector<DataRun>& runs, const CallbackChannel& channel,
              bool* changed);

// Asks `channel` for `bytes` of content of kind opening::kRuns and writes
// each run where it lies in `file`, leaving the holes between them, then
// makes the file `size` bytes long (a hole at its end) with the position
// there. False with ERROR_INVALID_DATA for runs out of order, overlapping
// or past `size`, a run cut short, else the write's error or
// ERROR_CANCELLED.
bool ReceiveRuns(const CallbackChannel& channel, ULONGLONG bytes, ULONGLONG size, platform::RandomAccessFile& file);

}  // namespace qv::services

#endif  // QVBACKUP_SERVICES_BACKUP_FILE_STREAM_H_
