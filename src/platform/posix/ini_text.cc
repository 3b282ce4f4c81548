#include "platform/posix/ini_text.h"

#include <cstdint>

#include "platform/profile.h"
#include "platform/wildcard.h"

namespace qv::platform::posix {

namespace {

constexpr WCHAR kCommentMark = ';';
constexpr WCHAR kSectionOpen = '[';
constexpr WCHAR kSectionClose = ']';
constexpr WCHAR kAssign = '=';

bool IsBlank(WCHAR c) { return c == ' ' || c == '\t' || c == '\r'; }

WString DecodeUtf16(std::string_view bytes, bool littleEndian) {
  WString text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    auto first = static_cast<unsigned char>(bytes[i]);
    auto second = static_cast<unsigned char>(bytes[i + 1]);
    unsigned unit = littleEndian ? (first | (second << 8)) : ((first << 8) | second);
    text.push_back(static_cast<WCHAR>(unit));
  }
  return text;
}

bool StartsWith(std::string_view bytes, std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; }

bool SameNameIgnoringCase(WStringView a, WStringView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperCaseChar(a[i]) != UpperCaseChar(b[i])) return false;
  }
  return true;
}

// The name of a "[name]" line (the line is trimmed and starts with '[').
// A line without ']' names the rest of the line.
WStringView SectionNameOf(WStringView line) {
  WStringView inside = line.substr(1);
  std::size_t close = inside.find(kSectionClose);
  return TrimIniBlanks(inside.substr(0, close));
}

WStringView Unquoted(WStringView value) {
  bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
  return quoted ? value.substr(1, value.size() - 2) : value;
}

// Calls `visit(line)` for each trimmed line of `text` until it returns false.
template <typename Visitor>
void ForEachLine(WStringView text, Visitor visit) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(WCHAR('\n'), start);
    if (end == WStringView::npos) end = text.size();
    if (!visit(TrimIniBlanks(text.substr(start, end - start)))) return;
    start = end + 1;
  }
}

}  // namespace

WStringView TrimIniBlanks(WStringView text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

WString DecodeIniText(std::string_view bytes) {
  if (StartsWith(bytes, "\xFF\xFE")) return DecodeUtf16(bytes.substr(2), true);
  if (StartsWith(bytes, "\xFE\xFF")) return DecodeUtf16(bytes.substr(2), false);
  if (StartsWith(bytes, "\xEF\xBB\xBF")) bytes.remove_prefix(3);
  return Utf8ToUtf16(bytes);
}

bool FindIniValue(WStringView text, WStringView section, WStringView key, WString* value) {
  enum class Place { kBefore, kInside, kAfter } place = Place::kBefore;
  bool found = false;
  ForEachLine(text, [&](WStringView line) {
    if (line.empty() || line.front() == kCommentMark) return true;
    if (line.front() == kSectionOpen) {
      if (place == Place::kInside) place = Place::kAfter;
      else if (place == Place::kBefore && SameNameIgnoringCase(SectionNameOf(line), section)) place = Place::kInside;
      return place != Place::kAfter;
    }
    std::size_t assign = line.find(kAssign);
    if (place != Place::kInside || assign == WStringView::npos) return true;
    if (!SameNameIgnoringCase(TrimIniBlanks(line.substr(0, assign)), key)) return true;
    value->assign(Unquoted(TrimIniBlanks(line.substr(assign + 1))));
    found = true;
    return false;
  });
  return found;
}

UINT ParseIniInteger(WStringView value) {
  value = TrimIniBlanks(value);
  bool negative = !value.empty() && value.front() == '-';
  if (!value.empty() && (value.front() == '-' || value.front() == '+')) value.remove_prefix(1);
  unsigned base = 10;
  if (value.size() >= 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
    base = 16;
    value.remove_prefix(2);
  }
  std::uint32_t result = 0;  // wraps on overflow, as the system's conversion does
  for (WCHAR c : value) {
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else break;
    result = result * base + digit;
  }
  return negative ? 0u - result : result;
}

namespace {

bool LookUp(const WString* text, const WCHAR* section, const WCHAR* key, WString* value) {
  return text != nullptr && section != nullptr && key != nullptr && FindIniValue(*text, section, key, value);
}

}  // namespace

DWORD ProfileStringFrom(const WString* text, const WCHAR* section, const WCHAR* key, const WCHAR* defaultValue,
                        DWORD capacity, WString* value) {
  WString found;
  if (!LookUp(text, section, key, &found)) return ProfileDefaultString(defaultValue, capacity, value);
  std::size_t room = capacity == 0 ? 0 : capacity - 1;
  if (found.size() > room) found.resize(room);
  *value = std::move(found);
  return static_cast<DWORD>(value->size());
}

UINT ProfileIntFrom(const WString* text, const WCHAR* section, const WCHAR* key, INT defaultValue) {
  WString found;
  if (!LookUp(text, section, key, &found) || found.empty()) return static_cast<UINT>(defaultValue);
  return ParseIniInteger(found);
}

}  // namespace qv::platform::posix
