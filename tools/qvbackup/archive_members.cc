#include "archive_members.h"

#include "report.h"

namespace qvtool {

namespace {

WString FileNameOf(const WCHAR* path) {
  const WString text(path);
  const std::size_t slash = text.find_last_of(Widen("\\/"));
  return slash == WString::npos ? text : text.substr(slash + 1);
}

WString Member(const MemberState& member) {
  const WString which = member.increment == 0 ? Widen("the base") : Widen("increment ") + Number(member.increment);
  return member.fileName + Widen(" (") + which + Widen(")");
}

}  // namespace

std::vector<MemberState> InspectMembers(QVS_ARCHIVE_INFO info) {
  info.pszPassword = nullptr;
  CQVStorage probe;
  const DWORD count = probe.InspectChain(&info, nullptr, 0);
  std::vector<QVS_MEMBER_STATE> states(count);
  const DWORD filled = count == 0 ? 0 : probe.InspectChain(&info, states.data(), count);
  std::vector<MemberState> members;
  for (DWORD i = 0; i < filled && i < count; ++i) {
    members.push_back({states[i].dwIncrement, states[i].dwState, FileNameOf(states[i].szPath)});
  }
  return members;
}

ChainVerdict JudgeChain(const std::vector<MemberState>& members) {
  ChainVerdict verdict;
  while (verdict.usable < members.size() && (members[verdict.usable].state == QVS_MEMBER_COMPLETE ||
                                              members[verdict.usable].state == QVS_MEMBER_DAMAGED)) {
    if (members[verdict.usable].state == QVS_MEMBER_DAMAGED && verdict.damaged == 0xFFFFFFFFu) {
      verdict.damaged = verdict.usable;
    }
    ++verdict.usable;
  }
  // The first member past the chain that is there and counts: leftovers of
  // a replaced archive never do.
  DWORD offender = 0xFFFFFFFFu;
  for (DWORD i = verdict.usable; i < members.size(); ++i) {
    if (members[i].state == QVS_MEMBER_REPLACED) {
      verdict.notes.push_back(members[i].fileName +
                              Widen(" is left over from an archive this one replaced: it is not used, and the next "
                                    "backup removes it"));
    } else if (members[i].state != QVS_MEMBER_MISSING && offender == 0xFFFFFFFFu) {
      offender = i;
    }
  }
  if (offender == 0xFFFFFFFFu) return verdict;
  bool laterOnes = false;
  for (DWORD i = offender + 1; i < members.size(); ++i) {
    laterOnes = laterOnes || (members[i].state != QVS_MEMBER_MISSING && members[i].state != QVS_MEMBER_REPLACED);
  }
  const MemberState& first = members[offender];
  if (offender == verdict.usable && first.state == QVS_MEMBER_INCOMPLETE && !laterOnes) {
    verdict.unfinishedLast = true;
    verdict.notes.push_back(Member(first) + Widen(" was never finished (its backup was interrupted): it is left out"));
    return verdict;
  }
  if (offender > verdict.usable) {
    // A gap: the member the chain stops at is missing, later ones exist.
    MemberState missing = members[verdict.usable];
    verdict.error = Widen("increment ") + Number(missing.increment) + Widen(" (") + missing.fileName +
                    Widen(") is missing: ") + first.fileName + Widen(" and the increments after it cannot be used");
  } else if (first.state == QVS_MEMBER_FOREIGN) {
    verdict.error = first.fileName + Widen(" is not a member of this chain (another archive's, or another "
                                           "member's copy): it and the increments after it cannot be used");
  } else {
    verdict.error = Member(first) + Widen(" was never finished, yet later increments follow it: they cannot be used");
  }
  return verdict;
}

}  // namespace qvtool
