// Helpers for the single-file backup tests: a callback that records every
// call of a backup, one that hands the recording back to a restore, and files
// of random content with known times in a temporary folder.
#ifndef QVBACKUP_TESTS_SERVICES_BACKUPFILE_TEST_UTIL_H_
#define QVBACKUP_TESTS_SERVICES_BACKUPFILE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "platform/file_metadata.h"
#include "platform/file_system.h"
#include "qvbackup/qvbackupfile.h"

namespace qvtest {

using Bytes = std::vector<BYTE>;

constexpr ULONGLONG kMiB = 1024 * 1024;

// One call a backup made.
struct DeliveredCall {
  ULONGLONG userValue = 0;
  DWORD stage = 0;
  Bytes bytes;
  WString path;  // stage 1: the text the naming record's reference points at
};

class BackupRecorder {
 public:
  std::vector<DeliveredCall> calls;
  int stopAtCall = -1;  // answer `stopAnswer` to this call (counted from 0)
  DWORD stopAnswer = ERROR_CANCELLED;
  std::function<void(const DeliveredCall&)> onCall;  // runs before answering

  ULONGLONG UserValue() const { return reinterpret_cast<std::uintptr_t>(this); }

  static DWORD Callback(QVBF_INTERNAL_DATA* data) {
    auto* self = reinterpret_cast<BackupRecorder*>(static_cast<std::uintptr_t>(data->ullUserValue));
    DeliveredCall call;
    call.userValue = data->ullUserValue;
    call.stage = data->dwStage;
    call.bytes.assign(data->pData, data->pData + data->dwLength);
    if (data->dwStage == 1 && data->dwLength >= sizeof(QVBF_NAMING_RECORD)) {
      const WCHAR* path = nullptr;
      std::memcpy(&path, data->pData + offsetof(QVBF_NAMING_RECORD, pszPath), sizeof(path));
      if (path != nullptr) call.path = path;
    }
    self->calls.push_back(call);
    if (self->onCall) self->onCall(call);
    return static_cast<int>(self->calls.size()) - 1 == self->stopAtCall ? self->stopAnswer : 0;
  }

  ULONGLONG TotalBytes() const {
    ULONGLONG total = 0;
    for (const DeliveredCall& call : calls) total += call.bytes.size();
    return total;
  }
  Bytes Content() const {
    Bytes content;
    for (const DeliveredCall& call : calls)
      if (call.stage == 2) content.insert(content.end(), call.bytes.begin(), call.bytes.end());
    return content;
  }
  std::vector<std::size_t> ChunkLengths() const {
    std::vector<std::size_t> lengths;
    for (const DeliveredCall& call : calls)
      if (call.stage == 2) lengths.push_back(call.bytes.size());
    return lengths;
  }
};

// Hands a recorded backup back to a restore, stage by stage, and notes what
// the restore asked for.
class RestoreReplayer {
 public:
  struct Request {
    DWORD stage;
    DWORD length;
  };

  Bytes opening;
  Bytes naming;
  Bytes content;
  std::vector<Request> requests;
  int stopAtCall = -1;
  bool ranOut = false;  // the restore asked for more content than there is
  std::function<void(const Request&)> onRequest;  // runs before answering

  explicit RestoreReplayer(const BackupRecorder& recorded) {
    for (const DeliveredCall& call : recorded.calls) {
      if (call.stage == 0) opening = call.bytes;
      if (call.stage == 1) naming = call.bytes;
    }
    content = recorded.Content();
  }

  ULONGLONG UserValue() const { return reinterpret_cast<std::uintptr_t>(this); }

  static DWORD Callback(QVBF_INTERNAL_DATA* data) {
    auto* self = reinterpret_cast<RestoreReplayer*>(static_cast<std::uintptr_t>(data->ullUserValue));
    self->requests.push_back({data->dwStage, data->dwLength});
    if (self->onRequest) self->onRequest(self->requests.back());
    if (static_cast<int>(self->requests.size()) - 1 == self->stopAtCall) return ERROR_CANCELLED;
    if (data->dwStage == 0) return self->Fill(self->opening, 0, data);
    if (data->dwStage == 1) return self->Fill(self->naming, 0, data);
    if (self->content.size() - self->contentGiven_ < data->dwLength) {
      self->ranOut = true;
      return ERROR_CANCELLED;
    }
    DWORD answer = self->Fill(self->content, self->contentGiven_, data);
    self->contentGiven_ += data->dwLength;
    return answer;
  }

 private:
  static DWORD Fill(const Bytes& source, std::size_t from, QVBF_INTERNAL_DATA* data) {
    std::size_t count = std::min<std::size_t>(data->dwLength, source.size() - from);
    if (count > 0) std::memcpy(data->pData, source.data() + from, count);
    return 0;
  }

  std::size_t contentGiven_ = 0;
};

inline Bytes RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes bytes(size);
  for (BYTE& b : bytes) b = static_cast<BYTE>(generator());
  return bytes;
}

inline void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline ULONGLONG Ticks(const FILETIME& time) {
  return static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

inline FILETIME FileTimeOf(ULONGLONG ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// Times with every 100 ns digit in use, far from now, so that nothing the
// system does by itself can produce them.
constexpr ULONGLONG kCreationTicks = 128000000000000001ULL;    // 2006
constexpr ULONGLONG kLastAccessTicks = 130000000007654321ULL;  // 2012
constexpr ULONGLONG kLastWriteTicks = 129400000001234567ULL;   // 2011

inline ULONGLONG ReadDword(const Bytes& bytes, std::size_t at) {
  ULONGLONG value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | bytes.at(at + i);
  return value;
}

inline ULONGLONG ReadQword(const Bytes& bytes, std::size_t at) {
  return ReadDword(bytes, at) | ReadDword(bytes, at + 4) << 32;
}

// A temporary folder with drive paths and native paths of the same items.
class BackupFileTest : public ::testing::Test {
 protected:
  // `relative` is UTF-8 with '\' between folders.
  WString Drive(const std::string& relative) const { return dir_.DrivePath() + W("\\" + relative); }
  std::filesystem::path Native(const std::string& relative) const {
    std::string forward = relative;
    std::replace(forward.begin(), forward.end(), '\\', '/');
    return dir_.path() / std::filesystem::path(std::u8string(forward.begin(), forward.end()));
  }

  // Writes `size` random bytes at `relative` and gives the file the test
  // times; returns the bytes.
  Bytes MakeSource(const std::string& relative, std::size_t size, unsigned seed = 1) {
    Bytes bytes = RandomBytes(size, seed);
    WriteBytes(Native(relative), bytes);
    EXPECT_TRUE(qv::platform::SetFileTimes(Drive(relative).c_str(), FileTimeOf(kCreationTicks),
                                           FileTimeOf(kLastAccessTicks), FileTimeOf(kLastWriteTicks)))
        << GetLastError();
    return bytes;
  }

  // Backs up `relative` into `recorder`; the result and last error, and
  // whether the file changed while it was read.
  bool Backup(const std::string& relative, BackupRecorder* recorder, DWORD* error = nullptr,
              bool* changed = nullptr) {
    CQVBackupFile file(Drive(relative).c_str());
    BOOL ok = file.BackupFile(&BackupRecorder::Callback, recorder->UserValue());
    if (error != nullptr) *error = GetLastError();
    if (changed != nullptr) *changed = file.ChangedWhileRead() != FALSE;
    return ok != FALSE;
  }

  bool Restore(const std::string& relative, RestoreReplayer* replayer, ULONGLONG fileBytes,
               DWORD* error = nullptr) {
    CQVBackupFile file;
    EXPECT_TRUE(file.Attach(Drive(relative).c_str()));
    BOOL ok = file.RestoreFile(&RestoreReplayer::Callback, fileBytes, replayer->UserValue());
    if (error != nullptr) *error = GetLastError();
    return ok != FALSE;
  }

  qv::platform::FileInformation Info(const std::string& relative) const {
    qv::platform::FileInformation info;
    EXPECT_TRUE(qv::platform::GetFileInformation(Drive(relative).c_str(), &info)) << relative;
    return info;
  }

  // The names in the folder `relative` ("" for the temporary folder).
  std::set<std::string> Names(const std::string& relative = "") const {
    std::set<std::string> names;
    std::filesystem::path folder = relative.empty() ? dir_.path() : Native(relative);
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
      std::u8string name = item.path().filename().u8string();
      names.insert(std::string(name.begin(), name.end()));
    }
    return names;
  }

  TempDir dir_;
};

}  // namespace qvtest

#endif  // QVBACKUP_TESTS_SERVICES_BACKUPFILE_TEST_UTIL_H_
