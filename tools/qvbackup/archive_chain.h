// An archive and its increments, each member opened in a backup control of
// its own with its index loaded: what list and restore read.
#ifndef QVBACKUP_TOOLS_ARCHIVE_CHAIN_H_
#define QVBACKUP_TOOLS_ARCHIVE_CHAIN_H_

#include <memory>
#include <vector>

#include "archive_open.h"
#include "qvbackup/qvbackupcontrol.h"

namespace qvtool {

class ArchiveChain {
 public:
  explicit ArchiveChain(ArchiveOpener& opener) : opener_(opener) {}

  // Opens the base archive and counts the members of its chain. False with
  // error() and reason() when it cannot be opened.
  bool OpenBase();
  // 1 for an archive without increments; 0 before OpenBase.
  DWORD members() const { return static_cast<DWORD>(controls_.size()); }

  // Opens member `member` (< members()) and loads its index, once. False
  // with error() and reason() when either fails.
  bool Load(DWORD member);
  // The control of a member Load succeeded for, or (IndexLost) opened.
  CQVBackupControl& Control(DWORD member) { return *controls_[member]; }
  // Whether the last Load of `member` opened it but could not load its
  // index (damaged or cut short): its blocks can still be walked.
  bool IndexLost(DWORD member) const { return lost_[member]; }

  // A member whose record of the selection's state could not be read:
  // its files were taken as an older member's are, which may bring back
  // deleted ones. Damage: the command ends with 1.
  void NoteStateLost(DWORD member) { stateLost_.push_back(member); }
  const std::vector<DWORD>& stateLost() const { return stateLost_; }

  // Closes every member's files, as read (nothing is written to them):
  // before the chain's files are replaced. Members cannot be used after.
  void CloseAll();

  DWORD error() const { return error_; }
  const WString& reason() const { return reason_; }
  // What OpenBase found of the chain on disk.
  const ChainVerdict& verdict() const { return verdict_; }

 private:
  ArchiveOpener& opener_;
  std::vector<std::unique_ptr<CQVBackupControl>> controls_;
  std::vector<bool> loaded_;
  std::vector<bool> opened_;
  std::vector<bool> lost_;  // opened, and its index could not be loaded
  std::vector<DWORD> stateLost_;
  DWORD error_ = 0;
  WString reason_;
  ChainVerdict verdict_;
};

// "the base archive" or "increment K", for messages about one member.
WString MemberName(DWORD member);

}  // namespace qvtool

#endif  // QVBACKUP_TOOLS_ARCHIVE_CHAIN_H_
