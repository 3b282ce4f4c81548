// Single master-file-table records, handed to the NTFS loader as the
// volume control code hands them over, then linked into a tree, named,
// and asked for their run lists and data. A volume made of the same
// input answers the extension records, attribute lists and data reads.
//
// Input: steering byte, record size code (512 << (code % 4)), then the
// records, the first of which is the base record; the whole input also
// stands for the volume's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "fileindex/ntfs_layout.h"
#include "fuzz_helpers.h"
#include "index_exercise.h"
#include "platform/raw_volume.h"
#include "qvbackup/qvfilearray.h"

namespace {

constexpr std::size_t kAnswerHeader = 12;  // record number (8), length (4)
constexpr std::size_t kMaxRecords = 16;
constexpr std::uint32_t kCluster = 512;

// A volume whose bytes, file records and geometry all come from the input.
class InputVolume : public qv::platform::RawVolume {
 public:
  InputVolume(std::vector<std::uint8_t> bytes, std::vector<std::vector<std::uint8_t>> records, DWORD recordSize)
      : bytes_(std::move(bytes)), records_(std::move(records)), recordSize_(recordSize) {}

  bool Read(ULONGLONG offset, void* buffer, DWORD size, DWORD* read) override {
    *read = 0;
    if (offset >= bytes_.size()) {
      SetLastError(ERROR_HANDLE_EOF);
      return false;
    }
    *read = static_cast<DWORD>(std::min<ULONGLONG>(size, bytes_.size() - offset));
    std::memcpy(buffer, bytes_.data() + offset, *read);
    return true;
  }

  bool GetNtfsVolumeData(BYTE out[qv::platform::kNtfsVolumeDataSize]) override {
    std::memset(out, 0, qv::platform::kNtfsVolumeDataSize);
    PutLe(out + qv::platform::kBytesPerSectorAt, 512, 4);
    PutLe(out + qv::platform::kBytesPerClusterAt, kCluster, 4);
    PutLe(out + qv::platform::kBytesPerFileRecordAt, recordSize_, 4);
    PutLe(out + qv::platform::kMftValidDataLengthAt, static_cast<ULONGLONG>(recordSize_) * records_.size(), 8);
    return true;
  }

  // Record n is the input's record n modulo their count, numbered n, so
  // every reference an attribute list makes finds a record.
  bool GetNtfsFileRecord(LONGLONG number, BYTE* out, DWORD outSize, DWORD* returned) override {
    if (number < 0 || records_.empty()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    if (outSize < kAnswerHeader + recordSize_) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    const std::vector<std::uint8_t>& record = records_[static_cast<std::size_t>(number) % records_.size()];
    PutLe(out, static_cast<ULONGLONG>(number), 8);
    PutLe(out + 8, recordSize_, 4);
    std::memcpy(out + kAnswerHeader, record.data(), recordSize_);
    *returned = static_cast<DWORD>(kAnswerHeader + recordSize_);
    return true;
  }

 private:
  static void PutLe(BYTE* at, ULONGLONG value, int width) {
    for (int i = 0; i < width; ++i) at[i] = static_cast<BYTE>(value >> (8 * i));
  }

  std::vector<std::uint8_t> bytes_;
  std::vector<std::vector<std::uint8_t>> records_;
  DWORD recordSize_;
};

}  // namespace

namespace qvfuzz {

// The loader's private steps, reached as the loaders themselves reach them.
struct FileArrayAccess {
  static void Attach(CQVFileArray& index, qv::platform::RawVolume* volume) {
    index.m_pRawVolume = volume;
    index.m_hVolume = static_cast<HANDLE>(volume);
    index.m_wcDrive = u'E';
    index.m_dwFileSystem = QVFA_FS_NTFS;
    volume->GetNtfsVolumeData(index.m_abNtfsVolumeData);
  }
  static BOOL Process(CQVFileArray& index, const std::vector<BYTE>& answer) { return index.ProcessMFTEntry(answer); }
  static void Link(CQVFileArray& index) {
    index.RelinkDatabase(QVFA_ROOTSIZE, nullptr, 0);
    index.m_mapReference.clear();
  }
};

}  // namespace qvfuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qvfuzz::InputReader in(data, size);
  const std::uint8_t choice = in.Byte();
  const DWORD recordSize = 512u << (in.Byte() % 4);
  std::vector<std::vector<std::uint8_t>> records;
  while (in.Left() > 0 && records.size() < kMaxRecords) {
    std::vector<std::uint8_t> record = in.Take(recordSize);
    record.resize(recordSize, 0);
    // Records come from the volume with their fix-up undone; one that
    // fails the check is handed over as it is.
    qv::ntfs::ApplyFixup(std::span<std::uint8_t>(record), qv::ntfs::kFileSignature);
    records.push_back(std::move(record));
  }
  if (records.empty()) return 0;

  CQVFileArray index;
  qvfuzz::FileArrayAccess::Attach(
      index, new InputVolume(std::vector<std::uint8_t>(data, data + size), records, recordSize));
  // The base record is the root folder, an ordinary file, or a record
  // numbered past the others.
  const ULONGLONG numbers[] = {5, 64, 0x10000};
  std::vector<BYTE> answer(kAnswerHeader + recordSize);
  for (std::size_t i = 0; i < records.size(); ++i) {
    ULONGLONG number = i == 0 ? numbers[choice % 3] : i;
    for (int b = 0; b < 8; ++b) answer[b] = static_cast<BYTE>(number >> (8 * b));
    for (int b = 0; b < 4; ++b) answer[8 + b] = static_cast<BYTE>(recordSize >> (8 * b));
    std::memcpy(answer.data() + kAnswerHeader, records[i].data(), recordSize);
    if (!qvfuzz::FileArrayAccess::Process(index, answer)) break;
  }
  qvfuzz::FileArrayAccess::Link(index);

  std::vector<DWORD> entries = qvfuzz::VisitAll(index, nullptr);
  std::vector<BYTE> buffer(4096);
  for (DWORD entry : entries) {
    std::vector<QVFA_RUN> runs;
    index.GetRunList(entry, runs);
    QVFA_ENTRYDATA* entryData = index.FindEntryData(entry, choice & 1 ? 1 : 0);
    if (entryData != nullptr) {
      index.ReadEntryData(entryData, buffer.data(), static_cast<DWORD>(buffer.size()));
      CQVFileArray::ReleaseEntryData(entryData);
    }
  }
  qvfuzz::ExerciseIndex(index, choice);
  return 0;
}
