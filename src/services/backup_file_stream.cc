#include "services/backup_file_stream.h"

#include <algorithm>
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

}  // namespace qv::services
