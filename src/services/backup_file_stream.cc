#include "services/backup_file_stream.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace qv::services {

namespace {

// Small files get a buffer their size (but not tiny, as a file may grow while
// it is read); anything larger one chunk.
constexpr ULONGLONG kSmallestBuffer = 64 * 1024;

DWORD BufferSizeFor(ULONGLONG bytes) {
  return static_cast<DWORD>(std::min<ULONGLONG>(QVBF_CHUNK_SIZE, std::max(bytes, kSmallestBuffer)));
}

}  // namespace

bool CallbackChannel::Exchange(DWORD stage, BYTE* data, DWORD length) const {
  QVBF_INTERNAL_DATA exchange;
  exchange.ullUserValue = userValue_;
  exchange.pData = data;
  exchange.dwLength = length;
  exchange.dwStage = stage;
  if (callback_(&exchange) == 0) return true;
  SetLastError(ERROR_CANCELLED);
  return false;
}

bool SendContent(platform::RandomAccessFile& file, ULONGLONG sizeHint, const CallbackChannel& channel,
                 ULONGLONG* sent) {
  const DWORD bufferSize = BufferSizeFor(sizeHint);
  std::unique_ptr<BYTE[]> buffer(new BYTE[bufferSize]);
  ULONGLONG total = 0;
  for (;;) {
    DWORD read = 0;
    if (!file.Read(buffer.get(), bufferSize, &read)) return false;
    if (read > 0 && !channel.Exchange(kStageContent, buffer.get(), read)) return false;
    total += read;
    if (sent != nullptr) *sent = total;
    if (read < bufferSize) return true;
  }
}

bool ReceiveContent(const CallbackChannel& channel, ULONGLONG bytes, platform::RandomAccessFile& file) {
  if (bytes == 0) return true;
  const DWORD bufferSize = static_cast<DWORD>(std::min<ULONGLONG>(QVBF_CHUNK_SIZE, bytes));
  // Cleared, so that a callback that fills less than asked never writes
  // stale heap bytes into the file.
  auto buffer = std::make_unique<BYTE[]>(bufferSize);
  for (ULONGLONG left = bytes; left > 0;) {
    DWORD wanted = static_cast<DWORD>(std::min<ULONGLONG>(bufferSize, left));
    if (!channel.Exchange(kStageContent, buffer.get(), wanted)) return false;
    if (!file.Write(buffer.get(), wanted)) return false;
    left -= wanted;
  }
  return true;
}

namespace {

constexpr ULONGLONG kLeastHoles = 1024 * 1024;
constexpr DWORD kRunHeader = 16;

void PutQword(BYTE* at, ULONGLONG value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<BYTE>(value >> (8 * i));
}

ULONGLONG GetQword(const BYTE* at) {
  ULONGLONG value = 0;
  for (int i = 8; i-- > 0;) value = value << 8 | at[i];
  return value;
}

// Collects what is handed over into chunks of one size, so that a reader
// without the index can tell a file's chunks as it tells a plain file's.
class ChunkWriter {
 public:
  explicit ChunkWriter(const CallbackChannel& channel) : channel_(channel), buffer_(new BYTE[QVBF_CHUNK_SIZE]) {}

  // Room for `wanted` bytes (at most what is left of the chunk): filled by
  // the caller, then Advance.
  BYTE* Room(DWORD* room) {
    *room = QVBF_CHUNK_SIZE - used_;
    return buffer_.get() + used_;
  }
  bool Advance(DWORD count) {
    used_ += count;
    return used_ < QVBF_CHUNK_SIZE || Flush();
  }
  bool Put(const BYTE* data, DWORD length) {
    while (length > 0) {
      DWORD room = 0;
      BYTE* at = Room(&room);
      const DWORD count = std::min(room, length);
      std::memcpy(at, data, count);
      data += count;
      length -= count;
      if (!Advance(count)) return false;
    }
    return true;
  }
  bool Flush() {
    if (used_ == 0) return true;
    const DWORD count = used_;
    used_ = 0;
    return channel_.Exchange(kStageContent, buffer_.get(), count);
  }

 private:
  const CallbackChannel& channel_;
  std::unique_ptr<BYTE[]> buffer_;
  DWORD used_ = 0;
};

}  // namespace

bool FindDataRuns(platform::RandomAccessFile& file, ULONGLONG size, std::vector<DataRun>* runs) {
  runs->clear();
  for (ULONGLONG at = 0; at < size;) {
    ULONGLONG start = 0;
    ULONGLONG end = 0;
    if (!file.NextData(at, &start, &end)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return false;
    }
    if (start >= size) break;
    end = std::min(end, size);
    if (end <= start) break;
    runs->push_back({start, end - start});
    at = end;
  }
  return true;
}

bool WorthSavingAsRuns(const std::vector<DataRun>& runs, ULONGLONG size) {
  ULONGLONG data = 0;
  for (const DataRun& run : runs) data += run.length;
  return data <= size && size - data >= kLeastHoles;
}

bool SendRuns(platform::RandomAccessFile& file, const std::vector<DataRun>& runs, const CallbackChannel& channel,
              bool* changed) {
  ChunkWriter out(channel);
  for (const DataRun& run : runs) {
    BYTE header[kRunHeader];
    PutQword(header, run.offset);
    PutQword(header + 8, run.length);
    if (!out.Put(header, kRunHeader) || !file.Seek(run.offset)) return false;
    for (ULONGLONG left = run.length; left > 0;) {
      DWORD room = 0;
      BYTE* at = out.Room(&room);
      const DWORD wanted = static_cast<DWORD>(std::min<ULONGLONG>(room, left));
      DWORD read = 0;
      if (!file.Read(at, wanted, &read)) return false;
      if (read < wanted) {
        // The file ended early: the run is made whole with zeros.
        std::memset(at + read, 0, wanted - read);
        *changed = true;
      }
      if (!out.Advance(wanted)) return false;
      left -= wanted;
    }
  }
  return out.Flush();
}

bool ReceiveRuns(const CallbackChannel& channel, ULONGLONG bytes, ULONGLONG size, platform::RandomAccessFile& file) {
  auto buffer = std::make_unique<BYTE[]>(QVBF_CHUNK_SIZE);
  BYTE header[kRunHeader];
  DWORD headerHave = 0;
  ULONGLONG runLeft = 0;    // bytes of the current run still to come
  ULONGLONG nextFree = 0;   // where the next run may start
  for (ULONGLONG left = bytes; left > 0;) {
    const DWORD wanted = static_cast<DWORD>(std::min<ULONGLONG>(QVBF_CHUNK_SIZE, left));
    std::memset(buffer.get(), 0, wanted);
    if (!channel.Exchange(kStageContent, buffer.get(), wanted)) return false;
    left -= wanted;
    for (DWORD at = 0; at < wanted;) {
      if (runLeft == 0) {
        const DWORD count = std::min<DWORD>(kRunHeader - headerHave, wanted - at);
        std::memcpy(header + headerHave, buffer.get() + at, count);
        headerHave += count;
        at += count;
        if (headerHave < kRunHeader) continue;
        headerHave = 0;
        const ULONGLONG offset = GetQword(header);
        runLeft = GetQword(header + 8);
        if (runLeft == 0 || offset < nextFree || offset > size || runLeft > size - offset) {
          SetLastError(ERROR_INVALID_DATA);
          return false;
        }
        nextFree = offset + runLeft;
        if (!file.Seek(offset)) return false;
        continue;
      }
      const DWORD count = static_cast<DWORD>(std::min<ULONGLONG>(runLeft, wanted - at));
      if (!file.Write(buffer.get() + at, count)) return false;
      runLeft -= count;
      at += count;
    }
  }
  if (runLeft != 0 || headerHave != 0) {
    SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  // A hole at the end is only the file's size, past the last run.
  return file.Seek(size) && file.Truncate();
}

}  // namespace qv::services
