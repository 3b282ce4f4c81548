#include "platform/wildcard.h"

#include <cstddef>
#include <cstdint>

namespace qv::platform {

namespace {

constexpr WCHAR kListSeparator = ';';
constexpr WCHAR kAnyRun = '*';
constexpr WCHAR kAnyOne = '?';

bool IsEven(unsigned c) { return (c & 1) == 0; }

// Blocks where capital and small letters alternate, the capital first on
// an even (kEvenCapital) or odd code point.
struct AlternatingBlock {
  unsigned first;
  unsigned last;
  bool evenCapital;
};

constexpr AlternatingBlock kAlternatingBlocks[] = {
    {0x0100, 0x012F, true},  {0x0132, 0x0137, true},  {0x0139, 0x0148, false},
    {0x014A, 0x0177, true},  {0x0179, 0x017E, false}, {0x0460, 0x0481, true},
    {0x048A, 0x04BF, true},  {0x04C1, 0x04CE, false}, {0x04D0, 0x04FF, true},
};

// Blocks where the small letters sit at a fixed distance above the capitals.
struct OffsetBlock {
  unsigned first;
  unsigned last;
  unsigned distance;
};

constexpr OffsetBlock kOffsetBlocks[] = {
    {'a', 'z', 0x20},       {0x00E0, 0x00F6, 0x20}, {0x00F8, 0x00FE, 0x20},
    {0x03B1, 0x03C1, 0x20}, {0x03C3, 0x03CB, 0x20}, {0x03AD, 0x03AF, 0x25},
    {0x03CD, 0x03CE, 0x3F}, {0x0430, 0x044F, 0x20}, {0x0450, 0x045F, 0x50},
};

struct SingleMapping {
  unsigned small;
  unsigned capital;
};

constexpr SingleMapping kSingleMappings[] = {
    {0x00FF, 0x0178},  // y with diaeresis
    {0x03AC, 0x0386},  // alpha with tonos
    {0x03C2, 0x03A3},  // final sigma
    {0x03CC, 0x038C},  // omicron with tonos
    {0x04CF, 0x04C0},  // palochka
};

bool MatchesOne(WCHAR maskChar, WCHAR nameChar) {
  return maskChar == kAnyOne || UpperCaseChar(maskChar) == UpperCaseChar(nameChar);
}

// Matches `name` against one mask without list separators. A star records
// where to resume; on a mismatch only the most recent star is widened, which
// is enough because an earlier star can never need to cover more than the
// later one could (the classic linear-backtracking glob).
bool MatchMask(const WCHAR* name, std::size_t nameLength, const WCHAR* mask, std::size_t maskLength) {
  constexpr std::size_t kNoStar = static_cast<std::size_t>(-1);
  std::size_t n = 0;
  std::size_t m = 0;
  std::size_t starMask = kNoStar;
  std::size_t starName = 0;
  while (n < nameLength) {
    if (m < maskLength && mask[m] == kAnyRun) {
      starMask = m++;
      starName = n;
    } else if (m < maskLength && MatchesOne(mask[m], name[n])) {
      ++m;
      ++n;
    } else if (starMask != kNoStar) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < maskLength && mask[m] == kAnyRun) ++m;
  return m == maskLength;
}

bool IsStarDotStar(const WCHAR* mask, std::size_t length) {
  return length == 3 && mask[0] == kAnyRun && mask[1] == '.' && mask[2] == kAnyRun;
}

std::size_t LengthOf(const WCHAR* text) {
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

}  // namespace

WCHAR UpperCaseChar(WCHAR c) {
  auto code = static_cast<unsigned>(static_cast<std::uint16_t>(c));
  if (code < 'a') return c;
  for (const OffsetBlock& block : kOffsetBlocks) {
    if (code >= block.first && code <= block.last) return static_cast<WCHAR>(code - block.distance);
  }
  for (const AlternatingBlock& block : kAlternatingBlocks) {
    if (code >= block.first && code <= block.last) {
      bool isSmall = IsEven(code) != block.evenCapital;
      return isSmall ? static_cast<WCHAR>(code - 1) : c;
    }
  }
  for (const SingleMapping& mapping : kSingleMappings) {
    if (code == mapping.small) return static_cast<WCHAR>(mapping.capital);
  }
  return c;
}

bool PathMatchSpec(const WCHAR* name, const WCHAR* masks) {
  if (name == nullptr || masks == nullptr) return false;
  std::size_t nameLength = LengthOf(name);
  const WCHAR* mask = masks;
  for (;;) {
    while (*mask == ' ') ++mask;
    std::size_t maskLength = 0;
    while (mask[maskLength] != 0 && mask[maskLength] != kListSeparator) ++maskLength;
    if (IsStarDotStar(mask, maskLength) || MatchMask(name, nameLength, mask, maskLength)) return true;
    if (mask[maskLength] == 0) return false;
    mask += maskLength + 1;
  }
}

}  // namespace qv::platform
