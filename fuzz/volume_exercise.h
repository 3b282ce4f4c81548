// A whole volume image behind drive E: written sparse from the input's
// chunks (see WriteSparseImage), opened raw, loaded by `load`, then walked.
#ifndef QVBACKUP_FUZZ_VOLUME_EXERCISE_H_
#define QVBACKUP_FUZZ_VOLUME_EXERCISE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_helpers.h"
#include "index_exercise.h"
#include "qvbackup/host.h"
#include "qvbackup/qvfilearray.h"

namespace qvfuzz {

inline constexpr WCHAR kFuzzDrive = u'E';

// A volume target's input: a steering byte, then the sparse image, which
// drive E maps for as long as the object lives.
class MappedImage {
 public:
  MappedImage(const std::uint8_t* data, std::size_t size) {
    static TempRoot root;
    if (size < 1) return;
    choice_ = data[0];
    path_ = root.path() / "volume.img";
    ok_ = WriteSparseImage(data + 1, size - 1, path_);
    if (ok_) Require(QVSetDriveMapping(kFuzzDrive, nullptr, Wide(path_.string()).c_str()) != FALSE,
                     "cannot map the image to a drive");
  }
  ~MappedImage() { QVSetDriveMapping(kFuzzDrive, nullptr, nullptr); }
  MappedImage(const MappedImage&) = delete;
  MappedImage& operator=(const MappedImage&) = delete;

  bool ok() const { return ok_; }
  std::uint8_t choice() const { return choice_; }

 private:
  std::filesystem::path path_;
  std::uint8_t choice_ = 0;
  bool ok_ = false;
};

// Runs lists and data of the first entries, read back from the volume.
inline void ReadEntryStreams(CQVFileArray& index, const std::vector<DWORD>& entries) {
  std::vector<BYTE> buffer(4096);
  for (std::size_t i = 0; i < entries.size() && i < 64; ++i) {
    std::vector<QVFA_RUN> runs;
    index.GetRunList(entries[i], runs);
    QVFA_ENTRYDATA* entryData = index.FindEntryData(entries[i], 0);
    if (entryData != nullptr) {
      index.ReadEntryData(entryData, buffer.data(), static_cast<DWORD>(buffer.size()));
      CQVFileArray::ReleaseEntryData(entryData);
    }
  }
}

}  // namespace qvfuzz

#endif  // QVBACKUP_FUZZ_VOLUME_EXERCISE_H_
