// CQVString: lowering and comparison ignoring case.
//
// Upper-casing belongs to the platform's shared case table (the one file-name
// matching uses), so that every case-insensitive decision in the library
// agrees. Lowering has no table of its own to disagree with it: a small rule
// set proposes a lower-case form and the shared table must map it back.
#include "qvbackup/qvstring.h"

#include "platform/wildcard.h"
#include "services/qvstring_text.h"

namespace {

bool Between(WCHAR c, unsigned first, unsigned last) { return c >= first && c <= last; }

WCHAR Shifted(WCHAR c, int delta) { return static_cast<WCHAR>(c + delta); }

// Blocks where capital and small letters alternate; `capitalParity` is the
// parity (0 even, 1 odd) of the capitals' code units.
WCHAR PairedLower(WCHAR c, unsigned capitalParity) {
  return (c & 1u) == capitalParity ? Shifted(c, 1) : c;
}

WCHAR LatinLowerCandidate(WCHAR c) {
  if (Between(c, 'A', 'Z')) return Shifted(c, 32);
  if (Between(c, 0xC0, 0xDE) && c != 0xD7) return Shifted(c, 32);  // 0xD7 is '×'
  if (c == 0x178) return 0xFF;                                      // Ÿ -> ÿ
  if (c == 0x130) return c;  // İ has no small form of its own in one code unit
  if (Between(c, 0x100, 0x137) || Between(c, 0x14A, 0x177)) return PairedLower(c, 0);
  if (Between(c, 0x139, 0x148) || Between(c, 0x179, 0x17E)) return PairedLower(c, 1);
  return c;
}

WCHAR GreekLowerCandidate(WCHAR c) {
  if (c == 0x386) return 0x3AC;
  if (Between(c, 0x388, 0x38A)) return Shifted(c, 37);
  if (c == 0x38C) return 0x3CC;
  if (Between(c, 0x38E, 0x38F)) return Shifted(c, 63);
  if (Between(c, 0x391, 0x3AB) && c != 0x3A2) return Shifted(c, 32);
  if (Between(c, 0x3D8, 0x3EF)) return PairedLower(c, 0);
  return c;
}

WCHAR CyrillicLowerCandidate(WCHAR c) {
  if (Between(c, 0x400, 0x40F)) return Shifted(c, 80);
  if (Between(c, 0x410, 0x42F)) return Shifted(c, 32);
  if (Between(c, 0x460, 0x481) || Between(c, 0x48A, 0x4BF) || Between(c, 0x4D0, 0x52F))
    return PairedLower(c, 0);
  if (c == 0x4C0) return 0x4CF;
  if (Between(c, 0x4C1, 0x4CE)) return PairedLower(c, 1);
  return c;
}

WCHAR LowerCandidate(WCHAR c) {
  if (c < 0x250) return LatinLowerCandidate(c);
  if (Between(c, 0x370, 0x3FF)) return GreekLowerCandidate(c);
  if (Between(c, 0x400, 0x52F)) return CyrillicLowerCandidate(c);
  return c;
}

WCHAR LowerCaseChar(WCHAR c) {
  WCHAR lower = LowerCandidate(c);
  return lower != c && qv::platform::UpperCaseChar(lower) == c ? lower : c;
}

}  // namespace

void CQVString::MakeLower() {
  for (WCHAR& c : m_strText) c = LowerCaseChar(c);
}

int CQVString::CompareNoCase(const WCHAR* text) const {
  qv::services::TextView other = qv::services::ViewOf(text);
  std::size_t common = m_strText.size() < other.size() ? m_strText.size() : other.size();
  for (std::size_t i = 0; i < common; ++i) {
    int left = qv::platform::UpperCaseChar(m_strText[i]);
    int right = qv::platform::UpperCaseChar(other[i]);
    if (left != right) return left < right ? -1 : 1;
  }
  if (m_strText.size() == other.size()) return 0;
  return m_strText.size() < other.size() ? -1 : 1;
}
