#include "archive_chain.h"

#include "report.h"

namespace qvtool {

bool ArchiveChain::OpenBase() {
  auto base = std::make_unique<CQVBackupControl>();
  if (!opener_.Open(0, base->GetStorage())) {
    error_ = opener_.error();
    reason_ = opener_.reason();
    return false;
  }
  verdict_ = opener_.JudgeMembers();
  const DWORD members = ArchiveOpener::MembersToRead(verdict_);
  controls_.push_back(std::move(base));
  for (DWORD member = 1; member < members; ++member) controls_.push_back(std::make_unique<CQVBackupControl>());
  loaded_.assign(controls_.size(), false);
  opened_.assign(controls_.size(), false);
  lost_.assign(controls_.size(), false);
  opened_[0] = true;
  return true;
}

void ArchiveChain::CloseAll() {
  for (DWORD member = 0; member < controls_.size(); ++member) {
    if (opened_[member]) controls_[member]->GetStorage().AbandonArchive();
    opened_[member] = false;
    loaded_[member] = false;
  }
}

bool ArchiveChain::Load(DWORD member) {
  if (loaded_[member]) return true;
  CQVBackupControl& control = *controls_[member];
  if (!opened_[member] && !opener_.Open(member, control.GetStorage())) {
    error_ = opener_.error();
    reason_ = MemberName(member) + Widen(": ") + opener_.reason();
    return false;
  }
  opened_[member] = true;
  if (!control.LoadArchiveIndex()) {
    lost_[member] = true;
    error_ = GetLastError();
    reason_ = opener_.missingVolume().empty()
                  ? Widen("its index cannot be read: ") + ArchiveErrorText(error_)
                  : Widen("its index cannot be read: the volume file ") + opener_.missingVolume() +
                        Widen(" is missing");
    if (members() > 1) reason_ = MemberName(member) + Widen(": ") + reason_;
    return false;
  }
  loaded_[member] = true;
  return true;
}

WString MemberName(DWORD member) {
  return member == 0 ? Widen("the base archive") : Widen("increment ") + Number(member);
}

}  // namespace qvtool
