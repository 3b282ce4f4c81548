// Checking one member of an archive the way verify does: its header, every
// block (read back whole: lengths, decryption tag, decompression,
// checksum), its index, and for each saved file its record and the chain
// of data blocks after it. Nothing is written to the archive.
#ifndef QVBACKUP_TOOLS_ARCHIVE_CHECK_H_
#define QVBACKUP_TOOLS_ARCHIVE_CHECK_H_

#include <array>
#include <functional>
#include <map>
#include <vector>

#include "archive_walk.h"
#include "console.h"
#include "content_size.h"
#include "file_record.h"
#include "qvbackup/qvbackupcontrol.h"
#include "saved_files.h"

namespace qvtool {

struct Damage {
  WString path;
  WString reason;
};

// What verify found over the members it checked.
struct VerifyFindings {
  DWORD members = 0;
  ULONGLONG volumes = 0;
  ULONGLONG blocks = 0;
  ULONGLONG files = 0;
  std::vector<Damage> damaged;   // files that cannot be restored as saved
  std::vector<WString> errors;   // damage not tied to one file
};

using Identifier = std::array<BYTE, 16>;

// Reads the identifier from the header of the archive open in `storage`;
// false with the storage's error when the header cannot be read.
bool ReadIdentifier(CQVStorage& storage, Identifier* identifier);

class MemberCheck {
 public:
  // `control`'s storage holds member `member`, open. `label` starts every
  // message about it ("" for an archive without increments).
  MemberCheck(CQVBackupControl& control, DWORD member, WString label);

  // Checks the member and adds what it finds to `findings`. The base
  // (member 0) stores its identifier in `baseIdentifier`; an increment's
  // must match it. `progress` is told the share of the member done (0-1).
  void Run(Identifier* baseIdentifier, const std::function<void(double)>& progress, VerifyFindings* findings);

 private:
  bool ReadHeader();
  void CheckHeader(Identifier* baseIdentifier);
  void LoadIndex();
  std::vector<ULONGLONG> Anchors();
  void Walk(const std::function<void(double)>& progress);
  void FollowContent(std::size_t index, const BYTE* data, DWORD length);
  WString SizeProblem(const SavedFile& file, const FileRecord& record, ULONGLONG content) const;
  void CheckStreamLength();
  void ClaimIndexBlocks();
  void ClaimMetadataBlocks();
  void CheckFiles();
  WString CheckFile(const SavedFile& file);
  WString CheckChain(std::size_t recordBlock, ULONGLONG content);
  void CheckRecordsWithoutIndex();
  void ReportUnclaimed();

  void Error(const WString& text);
  void Damaged(const WString& path, const WString& reason);
  // "offset N" and, in a split archive, the volume holding it.
  WString Where(ULONGLONG offset) const;
  WString LostReason(ULONGLONG offset) const;

  CQVBackupControl& control_;
  CQVStorage& storage_;
  DWORD member_;
  WString label_;
  VerifyFindings* findings_ = nullptr;
  BYTE header_[246] = {};
  ULONGLONG start_ = 0;          // the first block's offset
  ULONGLONG endOfData_ = 0;
  bool indexLoaded_ = false;
  ULONGLONG indexOffset_ = 0;
  DWORD indexLength_ = 0;
  std::vector<SavedFile> files_;
  std::vector<std::pair<std::size_t, FileRecord>> records_;  // found by the walk when the index is lost
  // The content of each file saved as runs, by its record's offset, as the
  // walk reads it; the one being followed and the last block it was fed.
  std::map<ULONGLONG, std::size_t> recordAt_;  // record offset -> files_ index
  std::map<ULONGLONG, RunLayout> runs_;
  RunLayout* following_ = nullptr;
  std::size_t followed_ = 0;
  BlockWalk walk_;
  std::vector<bool> claimed_;
};

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_ARCHIVE_CHECK_H_
