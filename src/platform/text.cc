#include "platform/text.h"

#include <cstdint>

namespace qv::platform {

namespace {

constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kLowSurrogateLast = 0xDFFF;
// Lone low surrogates U+DC80..U+DCFF stand for the raw bytes 0x80..0xFF.
constexpr char32_t kByteEscapeFirst = 0xDC80;
constexpr char32_t kByteEscapeLast = 0xDCFF;

bool IsHighSurrogate(char32_t unit) { return unit >= kHighSurrogateFirst && unit < kLowSurrogateFirst; }
bool IsLowSurrogate(char32_t unit) { return unit >= kLowSurrogateFirst && unit <= kLowSurrogateLast; }
bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

void AppendUtf8(char32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

void AppendUtf16(char32_t code, WString* out) {
  if (code < 0x10000) {
    out->push_back(static_cast<WCHAR>(code));
    return;
  }
  code -= 0x10000;
  out->push_back(static_cast<WCHAR>(kHighSurrogateFirst + (code >> 10)));
  out->push_back(static_cast<WCHAR>(kLowSurrogateFirst + (code & 0x3FF)));
}

// The valid range of the second byte of a sequence led by `lead`, which
// excludes overlong forms, surrogates and code points above U+10FFFF.
struct SequenceShape {
  int length = 0;  // 0: `lead` starts no valid sequence
  unsigned char secondMin = 0x80;
  unsigned char secondMax = 0xBF;
};

SequenceShape ShapeOf(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {};
}

// Decodes the multi-byte sequence at text[pos]; returns its length, or 0
// when the bytes there do not form a valid, shortest-form sequence.
int DecodeSequence(std::string_view text, std::size_t pos, char32_t* code) {
  auto lead = static_cast<unsigned char>(text[pos]);
  SequenceShape shape = ShapeOf(lead);
  if (shape.length == 0 || text.size() - pos < static_cast<std::size_t>(shape.length)) return 0;
  auto second = static_cast<unsigned char>(text[pos + 1]);
  if (second < shape.secondMin || second > shape.secondMax) return 0;
  char32_t value = lead & (0x7F >> shape.length);
  for (int i = 1; i < shape.length; ++i) {
    auto byte = static_cast<unsigned char>(text[pos + i]);
    if (!IsContinuation(byte)) return 0;
    value = (value << 6) | (byte & 0x3F);
  }
  *code = value;
  return shape.length;
}

}  // namespace

std::string Utf16ToUtf8(WStringView text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t unit = static_cast<std::uint16_t>(text[i]);
    if (IsHighSurrogate(unit) && i + 1 < text.size() &&
        IsLowSurrogate(static_cast<std::uint16_t>(text[i + 1]))) {
      char32_t low = static_cast<std::uint16_t>(text[++i]);
      AppendUtf8(0x10000 + ((unit - kHighSurrogateFirst) << 10) + (low - kLowSurrogateFirst), &out);
    } else if (unit >= kByteEscapeFirst && unit <= kByteEscapeLast) {
      out.push_back(static_cast<char>(unit - kLowSurrogateFirst));
    } else {
      AppendUtf8(unit, &out);
    }
  }
  return out;
}

WString Utf8ToUtf16(std::string_view text) {
  WString out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) {
      out.push_back(static_cast<WCHAR>(byte));
      ++pos;
      continue;
    }
    char32_t code = 0;
    int length = DecodeSequence(text, pos, &code);
    if (length == 0) {
      // Only the offending byte is escaped; decoding resumes right after it
      // so a later valid sequence is not swallowed.
      out.push_back(static_cast<WCHAR>(kLowSurrogateFirst + byte));
      ++pos;
      continue;
    }
    AppendUtf16(code, &out);
    pos += static_cast<std::size_t>(length);
  }
  return out;
}

}  // namespace qv::platform
